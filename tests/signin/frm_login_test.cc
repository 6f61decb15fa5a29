// frmLogin as a window (offscreen), against the test management server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QElapsedTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "inhouse_fixture.h"
#include "signin/frm_login.h"

namespace brenvo::signin {
namespace {

using ::brenvo::test::ScriptedPrompter;
using ::brenvo::test::TempDir;
using test::InHouse;
using test::ProgramSettings;
using test::Separated;

QString Q(const char* s) { return QString::fromUtf8(s); }

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    if (db_.host().empty()) GTEST_SKIP() << "test server not started: BRENVO_TEST_ADMIN_HOST unset";
    ASSERT_TRUE(db_.ok());
    settings_ = std::make_unique<ProgramSettings>(db_.host());
    mac_ = db_.NewMac();
    user_ = db_.NewUser();
    db_.Register(mac_, user_, 0);
    db_.AddUser(user_, "secret");
    env_ = std::make_unique<KarvoDbEnv>(KarvoDbEnv{prompter_, *settings_->store});
    env_->adapters = [mac = mac_] { return std::vector<NetAdapter>{{"eth0", Separated(mac, ':')}}; };
    loginSettings_ = MakeIniSettingsStore(loginDir_.str());
  }
  std::unique_ptr<frmLogin> Make() {
    return std::make_unique<frmLogin>(*env_, *loginSettings_, [this] { ++ends_; });
  }
  // Shows the window and lets its first activation run.
  void ShowAndSettle(frmLogin& w) {
    w.show();
    for (int i = 0; i < 20; ++i) QApplication::processEvents();
  }

  InHouse db_;
  std::unique_ptr<ProgramSettings> settings_;
  std::string mac_, user_;
  ScriptedPrompter prompter_;
  std::unique_ptr<KarvoDbEnv> env_;
  TempDir loginDir_;
  std::unique_ptr<SettingsStore> loginSettings_;
  int ends_ = 0;
};

TEST_F(Window, ControlsAndTheFixedUserId) {
  auto w = Make();
  const auto& c = w->controls();
  EXPECT_EQ(w->windowTitle(), Q("로그인"));
  EXPECT_EQ(c.lblLabels[0]->text(), Q("아이디(&U):"));
  EXPECT_EQ(c.lblLabels[1]->text(), Q("암호(&P):"));
  EXPECT_EQ(c.chkpwdSave->text(), Q("저장"));
  EXPECT_EQ(c.cmdOK->text(), Q("확인"));
  EXPECT_EQ(c.cmdCancel->text(), Q("취소"));
  EXPECT_TRUE(c.cmdOK->isDefault());
  EXPECT_EQ(c.txtPassword->echoMode(), QLineEdit::Password);
  EXPECT_EQ(c.txtPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, c.txtPassword), '*');
  EXPECT_FALSE(w->LoginSucceeded());

  ShowAndSettle(*w);
  EXPECT_EQ(c.txtUserName->text().toStdString(), user_);
  EXPECT_FALSE(c.txtUserName->isEnabled());
  QTest::keyClicks(c.txtUserName, "intruder");
  c.txtUserName->setFocus();
  QTest::keyClicks(w.get(), "intruder");
  EXPECT_EQ(c.txtUserName->text().toStdString(), user_);
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(w->HasConnection());
}

TEST_F(Window, TypedPasswordAndEnter) {
  auto w = Make();
  ShowAndSettle(*w);
  const auto& c = w->controls();
  c.txtPassword->setFocus();
  QTest::keyClicks(c.txtPassword, "wrong");
  QTest::keyClick(c.txtPassword, Qt::Key_Return);
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0], "암호가 잘못되었습니다.");
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(c.txtPassword->selectedText(), Q("wrong"));

  QTest::keyClicks(c.txtPassword, "secret");  // replaces the selection
  QTest::mouseClick(c.cmdOK, Qt::LeftButton);
  EXPECT_TRUE(w->LoginSucceeded());
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(w->result(), QDialog::Accepted);
}

TEST_F(Window, RememberedPasswordSignsInOnShow) {
  loginSettings_->Save(kLoginSettingsApp, "Config", "issave_passwd", "1");
  loginSettings_->Save(kLoginSettingsApp, "Config", "passwd", "secret");
  auto w = Make();
  EXPECT_TRUE(w->controls().chkpwdSave->isChecked());
  // Run modally, as the start-up does; the window must close by itself.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, w.get(), [&] { w->done(99); });
  guard.start(20000);
  int rc = w->exec();
  EXPECT_NE(rc, 99) << "the window did not sign in by itself";
  EXPECT_TRUE(w->LoginSucceeded());
  EXPECT_TRUE(prompter_.shown().empty());
}

TEST_F(Window, UntickingForgetsThePasswordAtOnce) {
  loginSettings_->Save(kLoginSettingsApp, "Config", "issave_passwd", "1");
  loginSettings_->Save(kLoginSettingsApp, "Config", "passwd", "stale");
  auto w = Make();
  ShowAndSettle(*w);  // "stale" fails once
  prompter_.clear();
  QTest::mouseClick(w->controls().chkpwdSave, Qt::LeftButton);
  EXPECT_FALSE(w->controls().chkpwdSave->isChecked());
  EXPECT_EQ(loginSettings_->Get(kLoginSettingsApp, "Config", "issave_passwd"), "0");
  EXPECT_EQ(loginSettings_->Get(kLoginSettingsApp, "Config", "passwd"), "");
}

TEST_F(Window, EscapeAndCloseEndWithoutSignIn) {
  auto w = Make();
  ShowAndSettle(*w);
  QTest::keyClick(w.get(), Qt::Key_Escape);
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(w->LoginSucceeded());

  auto w2 = Make();
  ShowAndSettle(*w2);
  w2->close();
  EXPECT_FALSE(w2->isVisible());
  EXPECT_FALSE(w2->LoginSucceeded());
  w2.reset();  // unloading closes the connection
}

TEST_F(Window, RefusedWorkstationEndsTheProgram) {
  env_->adapters = [] { return std::vector<NetAdapter>{}; };
  auto w = Make();
  ShowAndSettle(*w);
  EXPECT_EQ(ends_, 1);
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0], "허용되지 않은 컴퓨터입니다. 관리자에게 문의바랍니다.\r\nMAC: ");
}

// The management server takes the connection and never answers: the
// window waits out the client's connect limit painting, not frozen.
TEST(SignInWindow, KeepsHandlingEventsWhileTheServerIsSilent) {
  const std::string admin = ::brenvo::test::TestEnv("ADMIN_HOST");
  if (admin.empty()) GTEST_SKIP() << "test server not started: BRENVO_TEST_ADMIN_HOST unset";
  // An address of the servers' range that nobody serves; port 3306 as the sign-in uses.
  const std::string silentHost = admin.substr(0, admin.rfind('.')) + ".99";
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(3306);
  ::inet_pton(AF_INET, silentHost.c_str(), &a.sin_addr);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << silentHost;
  ASSERT_EQ(::listen(fd, 8), 0);  // the kernel completes the handshake; nobody answers

  ProgramSettings settings(silentHost);
  ScriptedPrompter prompter;
  KarvoDbEnv env{prompter, *settings.store};
  env.adapters = [] { return std::vector<NetAdapter>{{"eth0", std::string("00:1A:2B:3C:4D:5E")}}; };
  TempDir loginDir;
  auto loginSettings = MakeIniSettingsStore(loginDir.str());
  int ends = 0;
  frmLogin w(env, *loginSettings, [&ends] { ++ends; });
  int ticksWhileWorking = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ticksWhileWorking += w.Working(); });
  timer.start(20);
  w.show();
  QElapsedTimer t;
  t.start();
  while (ends == 0 && t.elapsed() < 60000) QApplication::processEvents(QEventLoop::AllEvents, 50);
  ::close(fd);
  EXPECT_EQ(ends, 1) << "the lookup failed, so the workstation is refused";
  EXPECT_GT(ticksWhileWorking, 20) << "the window's timers did not run while the lookup waited";
  ASSERT_EQ(prompter.messages().size(), 2u);
  EXPECT_EQ(prompter.messages()[0].rfind("Error 2013 ", 0), 0u) << prompter.messages()[0];
  EXPECT_EQ(prompter.messages()[1].rfind("허용되지 않은 컴퓨터입니다.", 0), 0u) << prompter.messages()[1];
}

}  // namespace
}  // namespace brenvo::signin

int main(int argc, char** argv) {
  // Test discovery runs the binary without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
