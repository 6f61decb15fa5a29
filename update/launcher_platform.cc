// The launcher's real process operations on this platform.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "admin/wait_proc.h"
#include "update/launcher.h"
#include "util/servers.h"

namespace brenvo::update {

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
    return admin::StartProgram(program, {parameters}, std::filesystem::path(program).parent_path().string());
  };
  env.openFolder = [](const std::string& folder) { return admin::StartProgram("xdg-open", {folder}, {}); };
  env.endProgram = [] {
    std::fflush(nullptr);
    std::_Exit(0);
  };
  return env;
}

}  // namespace brenvo::update
