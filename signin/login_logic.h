// frmLogin without its window: the sign-in against the in-house user table,
// the remembered password and the automatic sign-in. The Qt window forwards
// its events here and shows what this decides through LoginView, so the
// whole sign-in runs in tests without a window as well.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "signin/karvo_db_consts.h"
#include "util/prompter.h"
#include "util/settings_store.h"

namespace brenvo::mysql {
class cMySQL;
}

namespace brenvo::signin {

// Where the remembered sign-in lives.
inline constexpr const char* kLoginSettingsApp = "Karvo 업무관리";
inline constexpr const char* kLoginSection = "Config";

// What the sign-in logic sees of its window.
class LoginView {
 public:
  virtual ~LoginView() = default;
  virtual std::string UserName() const = 0;
  virtual void SetUserName(const std::string& id) = 0;
  virtual void DisableUserName() = 0;
  virtual std::string Password() const = 0;
  virtual void SetPassword(const std::string& pw) = 0;
  virtual bool SaveChecked() const = 0;
  virtual void SetSaveChecked(bool on) = 0;
  // Focus on the password box with its whole text selected.
  virtual void SelectPassword() = 0;
  // Hides the window; the modal call that showed it returns.
  virtual void HideWindow() = 0;
};

// Text made safe for a quoted literal of the sign-in statement: cut before
// the first NUL, every ' doubled, every \ doubled.
std::string EscapeLoginText(std::string text);

// The statement that checks id and password (both escaped here); the digest
// is computed by the server.
std::string LoginStatement(const std::string& id, const std::string& pw);

class LoginLogic {
 public:
  // endProgram ends the whole program at once (the workstation refusal).
  LoginLogic(LoginView& view, KarvoDbEnv& env, SettingsStore& settings, std::function<void()> endProgram);
  ~LoginLogic();
  LoginLogic(const LoginLogic&) = delete;
  LoginLogic& operator=(const LoginLogic&) = delete;

  bool LoginSucceeded() const { return loginSucceeded_; }
  // True while the window holds its connection to the in-house database.
  bool HasConnection() const { return db_ != nullptr; }

  void Form_Load();
  void Form_Activate();
  void Form_Unload();
  void cmdOK_Click();
  void cmdCancel_Click();
  void chkpwdSave_Click();
  void txtPassword_Change();
  void txtPassword_GotFocus();
  void txtPassword_LostFocus();

 private:
  std::string Setting(const std::string& key, const std::string& def) const;
  void SaveSetting(const std::string& key, const std::string& value);

  LoginView& view_;
  KarvoDbEnv& env_;
  SettingsStore& settings_;
  std::function<void()> endProgram_;
  std::unique_ptr<mysql::cMySQL> db_;
  bool loginSucceeded_ = false;
  bool passwordChanged_ = false;
  bool firstActivation_ = false;
};

}  // namespace brenvo::signin
