// frmLogin: the sign-in window shown modally before the console opens. Its
// controls carry the names a technician's report uses; every event goes to
// LoginLogic, which holds the sign-in itself.
//
// The handlers that ask the in-house database (the first activation, OK)
// run on a worker thread while the window keeps painting with its input
// shut; the logic reaches the window and the messages through the window's
// own thread, in the order it asks.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <memory>

#include "signin/login_logic.h"
#include "util/gui_thread.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace brenvo::signin {

class frmLogin : public QDialog, private LoginView {
  Q_OBJECT

 public:
  // endProgram: how the workstation refusal ends the program (at once).
  frmLogin(KarvoDbEnv& env, SettingsStore& settings, std::function<void()> endProgram, QWidget* parent = nullptr);
  ~frmLogin() override;

  bool LoginSucceeded() const { return logic_.LoginSucceeded(); }
  // True while a handler is at the database.
  bool HasConnection() const { return logic_.HasConnection(); }
  bool Working() const { return working_; }

  struct Controls {
    std::array<QLabel*, 2> lblLabels{};
    QLineEdit* txtUserName = nullptr;
    QLineEdit* txtPassword = nullptr;
    QCheckBox* chkpwdSave = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
  };
  const Controls& controls() const { return ui_; }

 protected:
  void showEvent(QShowEvent* e) override;
  void changeEvent(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void reject() override;

 private:
  // LoginView
  std::string UserName() const override;
  void SetUserName(const std::string& id) override;
  void DisableUserName() override;
  std::string Password() const override;
  void SetPassword(const std::string& pw) override;
  bool SaveChecked() const override;
  void SetSaveChecked(bool on) override;
  void SelectPassword() override;
  void HideWindow() override;

  // Runs one handler; anything it throws is reported instead of reaching
  // the event loop.
  void Handle(const char* procedure, const std::function<void()>& handler);
  // Handle on a worker thread; returns when the handler has, the window
  // painting meanwhile and taking no input.
  void Work(const char* procedure, const std::function<void()>& handler);
  void Activate();

  KarvoDbEnv& env_;
  // env_ as the logic sees it: messages on the window's thread.
  GuiThreadPrompter guiPrompter_;
  KarvoDbEnv guiEnv_;
  Controls ui_;
  bool working_ = false;
  LoginLogic logic_;
};

}  // namespace brenvo::signin
