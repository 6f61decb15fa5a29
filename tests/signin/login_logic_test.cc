// The sign-in against the test management server, with a recording view in
// place of the window.
#include <gtest/gtest.h>

#include "inhouse_fixture.h"
#include "signin/login_logic.h"

namespace brenvo::signin {
namespace {

using ::brenvo::test::ScriptedPrompter;
using ::brenvo::test::TempDir;
using test::InHouse;
using test::ProgramSettings;
using test::Separated;

class RecordingView : public LoginView {
 public:
  std::string UserName() const override { return user; }
  void SetUserName(const std::string& id) override { user = id; }
  void DisableUserName() override { userEnabled = false; }
  std::string Password() const override { return password; }
  void SetPassword(const std::string& pw) override { password = pw; }
  bool SaveChecked() const override { return save; }
  void SetSaveChecked(bool on) override { save = on; }
  void SelectPassword() override { ++selected; }
  void HideWindow() override { hidden = true; }

  std::string user, password;
  bool userEnabled = true, save = false, hidden = false;
  int selected = 0;
};

// One workstation registered for one technician, and a sign-in on it.
class SignIn : public ::testing::Test {
 protected:
  void SetUp() override {
    if (db_.host().empty()) GTEST_SKIP() << "test server not started: BRENVO_TEST_ADMIN_HOST unset";
    ASSERT_TRUE(db_.ok());
    settings_ = std::make_unique<ProgramSettings>(db_.host());
    mac_ = db_.NewMac();
    user_ = db_.NewUser();
    db_.Register(mac_, user_, 0);
    env_ = std::make_unique<KarvoDbEnv>(KarvoDbEnv{prompter_, *settings_->store});
    env_->adapters = [mac = mac_] { return std::vector<NetAdapter>{{"eth0", Separated(mac, '-')}}; };
    loginSettings_ = MakeIniSettingsStore(loginDir_.str());
  }
  LoginLogic& Open() {
    logic_ = std::make_unique<LoginLogic>(view_, *env_, *loginSettings_, [this] { ++ends_; });
    logic_->Form_Load();
    return *logic_;
  }
  std::string Saved(const std::string& key) { return loginSettings_->Get(kLoginSettingsApp, "Config", key, "<none>"); }

  InHouse db_;
  std::unique_ptr<ProgramSettings> settings_;
  std::string mac_, user_;
  ScriptedPrompter prompter_;
  std::unique_ptr<KarvoDbEnv> env_;
  TempDir loginDir_;
  std::unique_ptr<SettingsStore> loginSettings_;
  RecordingView view_;
  std::unique_ptr<LoginLogic> logic_;
  int ends_ = 0;
};

TEST(LoginText, Escaping) {
  EXPECT_EQ(EscapeLoginText("it's"), "it''s");
  EXPECT_EQ(EscapeLoginText("a\\b"), "a\\\\b");
  EXPECT_EQ(EscapeLoginText("\\'"), "\\\\''");
  EXPECT_EQ(EscapeLoginText(std::string("ab\0' or 1=1", 11)), "ab");
  EXPECT_EQ(LoginStatement("kim", "p'w"),
            "SELECT *, now() as svrtime FROM user where id='kim' AND password2 = SHA1('p''w') and hidden=0");
}

TEST_F(SignIn, PasswordWithQuoteAndBackslashMatchesItsDigest) {
  // The literal below is the text  o'k\"x\  as typed.
  db_.AddUser(user_, "o''k\\\\\"x\\\\");
  auto& login = Open();
  login.Form_Activate();
  EXPECT_EQ(view_.user, user_);
  EXPECT_FALSE(view_.userEnabled);
  EXPECT_FALSE(view_.hidden);  // nothing remembered: waits for the password

  view_.password = "o'k\\\"x\\";
  login.cmdOK_Click();
  EXPECT_TRUE(login.LoginSucceeded());
  EXPECT_TRUE(view_.hidden);
  EXPECT_TRUE(prompter_.shown().empty());
}

TEST_F(SignIn, WrongPasswordLoopsUntilTheRightOne) {
  db_.AddUser(user_, "right");
  auto& login = Open();
  login.Form_Activate();
  for (const std::string wrong : {"wrong", "right ", "' OR '1'='1", "x\\' OR 1=1 -- "}) {
    view_.password = wrong;
    prompter_.clear();
    login.cmdOK_Click();
    EXPECT_FALSE(login.LoginSucceeded()) << wrong;
    EXPECT_FALSE(view_.hidden) << wrong;
    ASSERT_EQ(prompter_.shown().size(), 1u);
    EXPECT_EQ(prompter_.shown()[0].text, "암호가 잘못되었습니다.");
    EXPECT_EQ(prompter_.shown()[0].title, "로그인");
  }
  EXPECT_EQ(view_.selected, 4);
  view_.password = "right";
  login.cmdOK_Click();
  EXPECT_TRUE(login.LoginSucceeded());
}

TEST_F(SignIn, HiddenAccountIsRefusedWhateverThePassword) {
  db_.AddUser(user_, "right", 1);
  auto& login = Open();
  login.Form_Activate();
  view_.password = "right";
  login.cmdOK_Click();
  EXPECT_FALSE(login.LoginSucceeded());
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0], "암호가 잘못되었습니다.");
}

TEST_F(SignIn, RememberedPasswordSignsInByItself) {
  db_.AddUser(user_, "kept");
  loginSettings_->Save(kLoginSettingsApp, "Config", "issave_passwd", "1");
  loginSettings_->Save(kLoginSettingsApp, "Config", "passwd", "kept");
  auto& login = Open();
  EXPECT_TRUE(view_.save);
  EXPECT_EQ(view_.password, "kept");
  login.Form_Activate();
  EXPECT_TRUE(login.LoginSucceeded());
  EXPECT_TRUE(view_.hidden);
  EXPECT_TRUE(prompter_.shown().empty());
  // A second activation does nothing more.
  view_.hidden = false;
  login.Form_Activate();
  EXPECT_FALSE(view_.hidden);
}

TEST_F(SignIn, RememberedPasswordThatNoLongerMatches) {
  db_.AddUser(user_, "new");
  loginSettings_->Save(kLoginSettingsApp, "Config", "issave_passwd", "1");
  loginSettings_->Save(kLoginSettingsApp, "Config", "passwd", "old");
  auto& login = Open();
  login.Form_Activate();
  EXPECT_FALSE(login.LoginSucceeded());
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0], "암호가 잘못되었습니다.");
  EXPECT_EQ(view_.selected, 1);
}

TEST_F(SignIn, SaveBoxAndPasswordSettings) {
  db_.AddUser(user_, "pw");
  loginSettings_->Save(kLoginSettingsApp, "Config", "issave_passwd", "1");
  auto& login = Open();
  login.Form_Activate();
  EXPECT_TRUE(view_.save);
  EXPECT_FALSE(view_.hidden);  // empty remembered password: waits

  // Typing, then leaving the box, remembers what was typed.
  login.txtPassword_GotFocus();
  view_.password = "typed";
  login.txtPassword_Change();
  login.txtPassword_LostFocus();
  EXPECT_EQ(Saved("passwd"), "typed");
  // Focus in and out without an edit saves nothing.
  loginSettings_->Save(kLoginSettingsApp, "Config", "passwd", "marker");
  login.txtPassword_GotFocus();
  login.txtPassword_LostFocus();
  EXPECT_EQ(Saved("passwd"), "marker");

  // Unticking forgets the password at once.
  view_.save = false;
  login.chkpwdSave_Click();
  EXPECT_EQ(Saved("issave_passwd"), "0");
  EXPECT_EQ(Saved("passwd"), "");
  // Unticked, leaving the box after an edit saves nothing.
  login.txtPassword_GotFocus();
  view_.password = "other";
  login.txtPassword_Change();
  login.txtPassword_LostFocus();
  EXPECT_EQ(Saved("passwd"), "");
  // Ticking stores the box's text.
  view_.save = true;
  login.chkpwdSave_Click();
  EXPECT_EQ(Saved("issave_passwd"), "1");
  EXPECT_EQ(Saved("passwd"), "other");
}

TEST_F(SignIn, UnregisteredWorkstationIsRefusedWithItsMac) {
  env_->adapters = [mac = db_.NewMac()] { return std::vector<NetAdapter>{{"eth0", Separated(mac, ':')}}; };
  const std::string mac = GetMyMacAddress(*env_);
  auto& login = Open();
  login.Form_Activate();
  EXPECT_EQ(ends_, 1);
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0], "허용되지 않은 컴퓨터입니다. 관리자에게 문의바랍니다.\r\nMAC: " + mac);
  EXPECT_FALSE(login.HasConnection());
  EXPECT_FALSE(login.LoginSucceeded());
}

TEST_F(SignIn, UnreachableServerRefusesAfterTheClientMessage) {
  std::string host = db_.host();
  settings_->store->Save(kProgramTitle, "Config", "AdminServer", host.substr(0, host.rfind('.')) + ".99");
  auto& login = Open();
  login.Form_Activate();
  ASSERT_EQ(prompter_.messages().size(), 2u);
  EXPECT_EQ(prompter_.messages()[0].rfind("Error 200", 0), 0u);
  EXPECT_EQ(prompter_.messages()[1], RefusalText(mac_));
  EXPECT_EQ(ends_, 1);
}

TEST_F(SignIn, CancelAndUnload) {
  db_.AddUser(user_, "pw");
  auto& login = Open();
  login.Form_Activate();
  EXPECT_TRUE(login.HasConnection());
  login.cmdCancel_Click();
  EXPECT_TRUE(view_.hidden);
  EXPECT_FALSE(login.LoginSucceeded());
  login.Form_Unload();
  EXPECT_FALSE(login.HasConnection());
  login.Form_Unload();  // twice is harmless
}

}  // namespace
}  // namespace brenvo::signin
