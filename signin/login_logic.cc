#include "signin/login_logic.h"

#include <cstdlib>

#include "db/mysql/cmysql.h"

namespace brenvo::signin {

std::string EscapeLoginText(std::string text) {
  size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\'') out += "''";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out;
}

std::string LoginStatement(const std::string& id, const std::string& pw) {
  return "SELECT *, now() as svrtime FROM user where id='" + EscapeLoginText(id) + "' AND password2 = SHA1('" +
         EscapeLoginText(pw) + "') and hidden=0";
}

LoginLogic::LoginLogic(LoginView& view, KarvoDbEnv& env, SettingsStore& settings, std::function<void()> endProgram)
    : view_(view), env_(env), settings_(settings), endProgram_(std::move(endProgram)) {}

LoginLogic::~LoginLogic() { Form_Unload(); }

std::string LoginLogic::Setting(const std::string& key, const std::string& def) const {
  return settings_.Get(kLoginSettingsApp, kLoginSection, key, def);
}
void LoginLogic::SaveSetting(const std::string& key, const std::string& value) {
  settings_.Save(kLoginSettingsApp, kLoginSection, key, value);
}

void LoginLogic::Form_Load() {
  loginSucceeded_ = false;
  view_.SetPassword(Setting("passwd", view_.Password()));
  // The stored value is the check box value: 1 ticked, anything else not.
  view_.SetSaveChecked(std::strtol(Setting("issave_passwd", "0").c_str(), nullptr, 10) == 1);
  firstActivation_ = true;
}

void LoginLogic::Form_Activate() {
  if (!firstActivation_) return;
  firstActivation_ = false;

  const std::string userId = GetAllowMyPC(env_);
  if (userId.empty()) {
    env_.prompter.Message(RefusalText(GetMyMacAddress(env_)));
    if (endProgram_) endProgram_();
    return;
  }
  view_.SetUserName(userId);
  view_.DisableUserName();

  db_ = std::make_unique<mysql::cMySQL>(env_.prompter);
  if (!db_->real_connect(GetAdminServerIP(env_.settings), kInHouseUser, kInHousePassword, kInHouseDb, kInHousePort,
                         "", 0, false)) {
    view_.HideWindow();
    return;
  }
  // A remembered password signs in by itself.
  if (!view_.UserName().empty() && !view_.Password().empty()) cmdOK_Click();
}

void LoginLogic::cmdOK_Click() {
  if (!db_) return;
  auto rs = db_->query(LoginStatement(view_.UserName(), view_.Password()));
  // A failed statement (already reported by the client class) counts as no row.
  int32_t rows = rs ? db_->affected_rows() : 0;
  if (rows < 1) {
    env_.prompter.Message("암호가 잘못되었습니다.", "로그인");
    view_.SelectPassword();
  } else {
    loginSucceeded_ = true;
    view_.HideWindow();
  }
  if (rs) rs->Close();
}

void LoginLogic::cmdCancel_Click() { view_.HideWindow(); }

void LoginLogic::chkpwdSave_Click() {
  const bool on = view_.SaveChecked();
  SaveSetting("issave_passwd", on ? "1" : "0");
  SaveSetting("passwd", on ? view_.Password() : std::string());
}

void LoginLogic::txtPassword_Change() { passwordChanged_ = true; }
void LoginLogic::txtPassword_GotFocus() { passwordChanged_ = false; }
void LoginLogic::txtPassword_LostFocus() {
  if (view_.SaveChecked() && passwordChanged_) SaveSetting("passwd", view_.Password());
}

void LoginLogic::Form_Unload() {
  if (!db_) return;
  db_->free_result();
  db_.reset();
}

}  // namespace brenvo::signin
