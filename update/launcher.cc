#include "update/launcher.h"

#include <filesystem>
#include <system_error>

#include "update/download.h"
#include "util/error.h"
#include "util/file_version.h"
#include "util/paths.h"
#include "util/text.h"

namespace brenvo::update {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOwner = "Module modAutoUpdateV1_Launcher";

// Both procedures report a failing statement and carry on with the next one.
class Trap {
 public:
  Trap(LauncherEnv& env, const char* procedure) : env_(env), procedure_(procedure) {}
  template <typename F>
  void operator()(F&& statement) {
    try {
      statement();
    } catch (...) {
      if (env_.prompter) env_.prompter->Message(TrapText(DescribeCurrentException(), procedure_, kOwner));
    }
  }

 private:
  LauncherEnv& env_;
  const char* procedure_;
};

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// Downloaded programs must be runnable here; the server's file has no mode.
void MakeRunnable(const std::string& path) {
  std::error_code ec;
  fs::permissions(path, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, ec);
}


}  // namespace

std::string UpdateBaseUrl(const std::string& server) {
  return "http://" + server + "/download/자동업데이트_v1/";
}

bool AutoUpdaterSelfUpdate(LauncherEnv& env) {
  Trap trap(env, "AutoUpdaterSelfUpdate");
  const std::string name = kCheckerName;
  const std::string local = JoinPath(env.appFolder, name);
  const std::string base = UpdateBaseUrl(env.updateServer);

  std::string localBuild = "0";
  trap([&] {
    if (Exists(local)) {
      std::string version = GetFileVerText(local, true, true, env.prompter);
      size_t dot = version.rfind('.');
      localBuild = dot == std::string::npos ? version : version.substr(dot + 1);
    }
  });

  std::string text;
  trap([&] { text = OpenURL(base + fs::path(name).stem().string() + "_lastver.txt"); });
  // Blanks and line breaks alone are no version either: an empty-looking
  // file on the server is as unreadable as a missing one.
  if (TrimWhitespace(text).empty()) {
    if (env.prompter) env.prompter->Message(name + "의 최신버전 정보를 읽어올 수 없습니다!", {}, Icon::Critical);
    return false;
  }

  int remote = 0, localNumber = 0;
  trap([&] { remote = LeadingWholeNumber(text); });
  trap([&] { localNumber = LeadingWholeNumber(localBuild); });
  if (localNumber >= remote) return true;

  bool ok = false;
  trap([&] {
    if (!DownloadFile(base + name, local)) return;
    MakeRunnable(local);
    const std::string replacer = JoinPath(env.appFolder, kReplacerName);
    if (!DownloadFile(base + kReplacerName, replacer)) return;
    MakeRunnable(replacer);
    ok = true;
  });
  return ok;
}

bool RunAutoUpdate(bool& skipSelfUpdate, LauncherEnv& env) {
  Trap trap(env, "RunAutoUpdate");
  if (!skipSelfUpdate) {
    bool current = false;
    trap([&] { current = AutoUpdaterSelfUpdate(env); });
    if (!current) return false;
  }

  const std::string exe = env.exeName;
  bool found = false;
  trap([&] { found = !exe.empty() && Exists(JoinPath(env.appFolder, exe)); });
  if (!found) return false;

  trap([&] {
    if (env.runAndWait)
      env.runAndWait(JoinPath(env.appFolder, kCheckerName), std::to_string(env.revision) + ";" + exe, env.appFolder);
  });

  bool newBuild = false;
  trap([&] { newBuild = Exists(JoinPath(env.appFolder, kNewBuildPrefix + exe)); });
  if (!newBuild) return false;

  const std::string replacer = JoinPath(env.appFolder, kReplacerName);
  bool haveReplacer = false;
  trap([&] { haveReplacer = Exists(replacer); });
  if (!haveReplacer) {
    if (env.prompter) env.prompter->Message("파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n" + replacer);
    trap([&] {
      if (!env.openFolder || !env.openFolder(env.appFolder)) throw BrenvoError(53, "File not found");
    });
    if (env.endProgram) env.endProgram();
    return false;
  }

  trap([&] {
    if (!env.start || !env.start(replacer, exe + ";" + kNewBuildPrefix + exe, true))
      throw BrenvoError(53, "File not found");
  });
  if (env.endProgram) env.endProgram();
  return false;
}

}  // namespace brenvo::update
