// Main: the fixed order in which the program decides whether it may run at
// all (one copy per user), whether it must first replace itself by a newer
// build, and whether the person at the workstation may use it. Only after
// all three does the console window open; nothing passes from the sign-in
// to the console.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "util/prompter.h"
#include "util/settings_store.h"

class QLockFile;

namespace brenvo {

namespace signin {
class frmLogin;
struct KarvoDbEnv;
}  // namespace signin

struct StartUpEnv {
  StartUpEnv(Prompter& p, SettingsStore& s);
  ~StartUpEnv();

  Prompter& prompter;
  SettingsStore& settings;
  // The per-user lock that stands for "this program is running".
  std::string lockPath;
  // The self-update; it may end the program itself.
  std::function<void()> runAutoUpdate;
  // The sign-in window, not yet shown.
  std::function<std::unique_ptr<signin::frmLogin>()> makeLogin;

  // Held from a successful start to the end of the process.
  std::unique_ptr<QLockFile> lock;
  // What the sign-in window works with; lives as long as the environment.
  std::unique_ptr<signin::KarvoDbEnv> karvo;
};

// The program's own environment: lock in the user's runtime folder, the real
// self-update and the real sign-in window. revision: the running build's
// third version component.
std::unique_ptr<StartUpEnv> ProgramStartUp(Prompter& prompter, SettingsStore& settings, int revision);

// "brenvo-console.lock" in the user's runtime folder (or a per-user name in
// the temporary folder where there is none).
std::string DefaultLockPath();

// Steps 1 to 5: refuses a second copy, runs the self-update, shows the
// sign-in window modally and unloads it. True when the console may open;
// false means the program ends now, without a further message.
bool Main(StartUpEnv& env);

}  // namespace brenvo
