// Main: the single-instance refusal, the order of the steps, Cancel, and
// the sign-in window gone before the console may open.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLockFile>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <iostream>
#include <string>

#include "app/start_up.h"
#include "inhouse_fixture.h"
#include "signin/frm_login.h"

namespace brenvo {
namespace {

using ::brenvo::test::ScriptedPrompter;
using ::brenvo::test::TempDir;
using signin::test::InHouse;
using signin::test::ProgramSettings;
using signin::test::Separated;

std::string g_self;  // this test binary, for the lock-holding helper process

// Another running copy: a process of its own that holds the lock until it
// is killed.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) {
    proc_.start(QString::fromStdString(g_self), {"--hold-lock", QString::fromStdString(path)});
    proc_.waitForStarted();
    proc_.waitForReadyRead(30000);
    line_ = proc_.readLine().trimmed().toStdString();
  }
  ~LockHolder() { Kill(); }
  bool holding() const { return line_ == "locked"; }
  void Kill() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.kill();
    proc_.waitForFinished();
  }

 private:
  QProcess proc_;
  std::string line_;
};

TEST(StartUp, SecondCopyIsRefusedBeforeAnythingElse) {
  TempDir dir;
  TempDir settingsDir;
  auto settings = MakeIniSettingsStore(settingsDir.str());
  ScriptedPrompter prompter;
  StartUpEnv env(prompter, *settings);
  env.lockPath = dir.str() + "/brenvo-console.lock";
  std::vector<std::string> steps;
  env.runAutoUpdate = [&] { steps.push_back("update"); };
  env.makeLogin = [&]() -> std::unique_ptr<signin::frmLogin> {
    steps.push_back("login");
    return nullptr;
  };

  LockHolder other(env.lockPath);
  ASSERT_TRUE(other.holding());
  EXPECT_FALSE(Main(env));
  EXPECT_TRUE(steps.empty());
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].text, "이미 프로그램이 실행중입니다.");
  EXPECT_EQ(prompter.shown()[0].icon, Icon::Information);
  EXPECT_EQ(prompter.shown()[0].title, "");

  // Once that copy is gone its lock no longer counts.
  other.Kill();
  prompter.clear();
  env.makeLogin = nullptr;
  EXPECT_FALSE(Main(env));
  EXPECT_EQ(steps, std::vector<std::string>{"update"});
  EXPECT_TRUE(prompter.shown().empty());
}

TEST(StartUp, DefaultLockIsPerUser) {
  const std::string path = DefaultLockPath();
  EXPECT_NE(path.find(".lock"), std::string::npos);
  const bool inRuntime = !qEnvironmentVariable("XDG_RUNTIME_DIR").isEmpty() &&
                         path.rfind(qEnvironmentVariable("XDG_RUNTIME_DIR").toStdString(), 0) == 0;
  if (!inRuntime) {
    EXPECT_NE(path.find("-" + std::to_string(::getuid()) + ".lock"), std::string::npos) << path;
  }
}

// The real sign-in window on the test management server.
class StartUpSignIn : public ::testing::Test {
 protected:
  void SetUp() override {
    if (db_.host().empty()) GTEST_SKIP() << "test server not started: BRENVO_TEST_ADMIN_HOST unset";
    ASSERT_TRUE(db_.ok());
    settings_ = std::make_unique<ProgramSettings>(db_.host());
    mac_ = db_.NewMac();
    user_ = db_.NewUser();
    db_.Register(mac_, user_, 0);
    db_.AddUser(user_, "secret");
    env_ = ProgramStartUp(prompter_, *settings_->store, 31);
    env_->lockPath = lockDir_.str() + "/brenvo-console.lock";
    env_->runAutoUpdate = [this] { steps_.push_back("update"); };
    env_->karvo->adapters = [mac = mac_] { return std::vector<signin::NetAdapter>{{"eth0", Separated(mac, '-')}}; };
    // The program's own window, watched.
    auto make = env_->makeLogin;
    env_->makeLogin = [this, make] {
      steps_.push_back("login");
      auto w = make();
      window_ = w.get();
      return w;
    };
  }

  InHouse db_;
  std::unique_ptr<ProgramSettings> settings_;
  std::string mac_, user_;
  ScriptedPrompter prompter_;
  TempDir lockDir_;
  std::unique_ptr<StartUpEnv> env_;
  std::vector<std::string> steps_;
  QPointer<signin::frmLogin> window_;
};

TEST_F(StartUpSignIn, CancelEndsWithoutTheConsole) {
  // Press Cancel once the modal window is up and has found the user.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [this] {
    if (window_ && window_->isVisible() && window_->HasConnection()) window_->controls().cmdCancel->click();
  });
  poll.start(20);
  EXPECT_FALSE(Main(*env_));
  EXPECT_EQ(steps_, (std::vector<std::string>{"update", "login"}));
  EXPECT_TRUE(prompter_.shown().empty());
  EXPECT_TRUE(window_.isNull());
}

TEST_F(StartUpSignIn, SignedInWindowIsGoneBeforeTheConsoleOpens) {
  settings_->store->Save(signin::kLoginSettingsApp, "Config", "issave_passwd", "1");
  settings_->store->Save(signin::kLoginSettingsApp, "Config", "passwd", "secret");
  EXPECT_TRUE(Main(*env_));
  EXPECT_TRUE(prompter_.shown().empty());
  // Unloaded, and with it its connection, by the time Main hands over.
  EXPECT_TRUE(window_.isNull());
  EXPECT_EQ(steps_, (std::vector<std::string>{"update", "login"}));
}

}  // namespace
}  // namespace brenvo

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--hold-lock") {
    QCoreApplication app(argc, argv);
    QLockFile lock(QString::fromLocal8Bit(argv[2]));
    lock.setStaleLockTime(0);
    std::cout << (lock.tryLock(0) ? "locked" : "busy") << std::endl;
    for (;;) ::pause();
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  brenvo::g_self = QCoreApplication::applicationFilePath().toStdString();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
