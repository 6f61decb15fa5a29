// The launcher's real process operations on this platform.
#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "admin/wait_proc.h"
#include "update/launcher.h"
#include "util/servers.h"

extern char** environ;

namespace brenvo::update {
namespace {

// Starts file with args in directory (empty: ours) and does not wait. The
// child is left to itself: the launcher ends the program right after, and
// init takes it over.
bool SpawnDetached(const std::string& file, const std::vector<std::string>& args, const std::string& directory) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(file.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = file.find('/') == std::string::npos
               ? posix_spawnp(&pid, file.c_str(), &actions, nullptr, argv.data(), environ)
               : posix_spawn(&pid, file.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

}  // namespace

LauncherEnv ProgramLauncherEnv(Prompter& prompter, const SettingsStore& settings, const std::string& programTitle,
                               int revision) {
  LauncherEnv env;
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    env.appFolder = self.parent_path().string();
    // Executables carry no ".exe" here: EXE is the file name as it is.
    env.exeName = self.filename().string();
  }
  env.revision = revision;
  env.updateServer = UpdateServerAddress(settings, programTitle);
  env.prompter = &prompter;
  env.runAndWait = [](const std::string& file, const std::string& parameters, const std::string& directory) {
    admin::ShellOptions options;
    options.directory = directory;
    admin::ShellAndWait(file, 0, {parameters}, options);
  };
  // A window cannot be started minimized here. The replacer is handed bare
  // file names ("EXE;New_EXE"), so it starts in its own folder, where they are.
  env.start = [](const std::string& program, const std::string& parameters, bool) {
    return SpawnDetached(program, {parameters}, std::filesystem::path(program).parent_path().string());
  };
  env.openFolder = [](const std::string& folder) { return SpawnDetached("xdg-open", {folder}, {}); };
  env.endProgram = [] {
    std::fflush(nullptr);
    std::_Exit(0);
  };
  return env;
}

}  // namespace brenvo::update
