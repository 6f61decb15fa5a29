#include "app/start_up.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>

#include "signin/frm_login.h"
#include "signin/karvo_db_consts.h"
#include "screen/console.h"
#include "update/launcher.h"

namespace brenvo {

StartUpEnv::StartUpEnv(Prompter& p, SettingsStore& s) : prompter(p), settings(s) {}
StartUpEnv::~StartUpEnv() = default;

std::string DefaultLockPath() {
  QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
  if (name.isEmpty()) name = "brenvo-console";
  // The runtime folder belongs to the user alone; in the shared temporary
  // folder the user's number keeps users apart.
  QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!dir.isEmpty() && QFileInfo(dir).isDir()) return (dir + "/" + name + ".lock").toStdString();
  return (QDir::tempPath() + "/" + name + "-" + QString::number(::getuid()) + ".lock").toStdString();
}

std::unique_ptr<StartUpEnv> ProgramStartUp(Prompter& prompter, SettingsStore& settings, int revision) {
  auto env = std::make_unique<StartUpEnv>(prompter, settings);
  env->lockPath = DefaultLockPath();
  env->runAutoUpdate = [&prompter, &settings, revision] {
    update::LauncherEnv launcher = update::ProgramLauncherEnv(prompter, settings, kProgramTitle, revision);
    bool skipSelfUpdate = false;
    update::RunAutoUpdate(skipSelfUpdate, launcher);
  };
  env->karvo = std::make_unique<signin::KarvoDbEnv>(signin::KarvoDbEnv{prompter, settings});
  StartUpEnv* e = env.get();
  env->makeLogin = [e] {
    return std::make_unique<signin::frmLogin>(*e->karvo, e->settings, [] {
      std::fflush(nullptr);
      std::_Exit(0);
    });
  };
  return env;
}

bool Main(StartUpEnv& env) {
  // 1. One copy per user. A lock that cannot be taken because another copy
  // holds it refuses the start; a lock that cannot be written at all (no
  // such folder, no permission) is no reason to keep the technician out.
  env.lock = std::make_unique<QLockFile>(QString::fromStdString(env.lockPath));
  // Age alone never makes the lock stale: only a holder that is gone does.
  env.lock->setStaleLockTime(0);
  if (!env.lock->tryLock(0)) {
    if (env.lock->error() == QLockFile::LockFailedError) {
      env.prompter.Message("이미 프로그램이 실행중입니다.", {}, Icon::Information);
      env.lock.reset();
      return false;
    }
  }

  // 2. The self-update returns, or ends the program itself.
  if (env.runAutoUpdate) env.runAutoUpdate();

  // 3. and 4. The sign-in, modally.
  if (!env.makeLogin) return false;
  std::unique_ptr<signin::frmLogin> login = env.makeLogin();
  login->exec();
  const bool signedIn = login->LoginSucceeded();

  // 5. Unloading the window releases its connection to the in-house database.
  login.reset();
  return signedIn;
}

}  // namespace brenvo
