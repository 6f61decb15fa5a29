#include "signin/frm_login.h"

#include <QCheckBox>
#include <QEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QTimer>
#include <thread>

#include "util/error.h"

namespace brenvo::signin {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The password box masks every character with "*", whatever the style's own
// mask character is.
class StarPasswordStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* ret) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, ret);
  }
};

}  // namespace

frmLogin::frmLogin(KarvoDbEnv& env, SettingsStore& settings, std::function<void()> endProgram, QWidget* parent)
    : QDialog(parent),
      env_(env),
      guiPrompter_(this, env.prompter),
      guiEnv_{guiPrompter_, env.settings, env.adapters},
      logic_(*this, guiEnv_, settings, [this, end = std::move(endProgram)] {
        if (end) OnGuiThread(this, end);
      }) {
  setObjectName("frmLogin");
  setWindowTitle(Q("로그인"));
  setModal(true);

  ui_.lblLabels[0] = new QLabel(Q("아이디(&U):"), this);
  ui_.lblLabels[1] = new QLabel(Q("암호(&P):"), this);
  ui_.txtUserName = new QLineEdit(this);
  ui_.txtUserName->setObjectName("txtUserName");
  ui_.txtPassword = new QLineEdit(this);
  ui_.txtPassword->setObjectName("txtPassword");
  auto* star = new StarPasswordStyle;
  star->setParent(ui_.txtPassword);
  ui_.txtPassword->setStyle(star);
  ui_.txtPassword->setEchoMode(QLineEdit::Password);
  ui_.lblLabels[0]->setBuddy(ui_.txtUserName);
  ui_.lblLabels[1]->setBuddy(ui_.txtPassword);
  ui_.chkpwdSave = new QCheckBox(Q("저장"), this);
  ui_.chkpwdSave->setObjectName("chkpwdSave");
  ui_.cmdOK = new QPushButton(Q("확인"), this);
  ui_.cmdOK->setObjectName("cmdOK");
  ui_.cmdOK->setDefault(true);
  ui_.cmdOK->setAutoDefault(true);
  ui_.cmdCancel = new QPushButton(Q("취소"), this);
  ui_.cmdCancel->setObjectName("cmdCancel");
  ui_.cmdCancel->setAutoDefault(false);

  auto* grid = new QGridLayout(this);
  grid->addWidget(ui_.lblLabels[0], 0, 0);
  grid->addWidget(ui_.txtUserName, 0, 1, 1, 2);
  grid->addWidget(ui_.lblLabels[1], 1, 0);
  grid->addWidget(ui_.txtPassword, 1, 1);
  grid->addWidget(ui_.chkpwdSave, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ui_.cmdOK);
  buttons->addWidget(ui_.cmdCancel);
  grid->addLayout(buttons, 2, 0, 1, 3);

  connect(ui_.cmdOK, &QPushButton::clicked, this, [this] { Work("cmdOK_Click", [this] { logic_.cmdOK_Click(); }); });
  connect(ui_.cmdCancel, &QPushButton::clicked, this,
          [this] { Handle("cmdCancel_Click", [this] { logic_.cmdCancel_Click(); }); });
  // clicked, not toggled: the value restored at load is not saved back.
  connect(ui_.chkpwdSave, &QCheckBox::clicked, this,
          [this] { Handle("chkpwdSave_Click", [this] { logic_.chkpwdSave_Click(); }); });
  connect(ui_.txtPassword, &QLineEdit::textChanged, this, [this] { logic_.txtPassword_Change(); });
  ui_.txtPassword->installEventFilter(this);

  Handle("Form_Load", [this] { logic_.Form_Load(); });
}

frmLogin::~frmLogin() { logic_.Form_Unload(); }

void frmLogin::Handle(const char* procedure, const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    guiEnv_.prompter.Message(TrapText(DescribeCurrentException(), procedure, "Form frmLogin"));
  }
}

void frmLogin::Work(const char* procedure, const std::function<void()>& handler) {
  if (working_) return;
  working_ = true;
  // Input shut without moving the focus: a focus change would run the
  // password box's own handlers meanwhile.
  ui_.cmdOK->setEnabled(false);
  ui_.cmdCancel->setEnabled(false);
  ui_.chkpwdSave->setEnabled(false);
  ui_.txtPassword->setReadOnly(true);
  setCursor(Qt::BusyCursor);
  QEventLoop loop;
  std::thread worker([&] {
    Handle(procedure, handler);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  unsetCursor();
  ui_.txtPassword->setReadOnly(false);
  ui_.chkpwdSave->setEnabled(true);
  ui_.cmdCancel->setEnabled(true);
  ui_.cmdOK->setEnabled(true);
  working_ = false;
}

void frmLogin::Activate() { Work("Form_Activate", [this] { logic_.Form_Activate(); }); }

void frmLogin::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // After the window is on screen, so the messages of the first activation
  // stand in front of it.
  QTimer::singleShot(0, this, [this] {
    if (isVisible()) Activate();
  });
}

void frmLogin::changeEvent(QEvent* e) {
  QDialog::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow()) Activate();
}

bool frmLogin::eventFilter(QObject* watched, QEvent* e) {
  if (watched == ui_.txtPassword) {
    if (e->type() == QEvent::FocusIn) logic_.txtPassword_GotFocus();
    if (e->type() == QEvent::FocusOut)
      Handle("txtPassword_LostFocus", [this] { logic_.txtPassword_LostFocus(); });
  }
  return QDialog::eventFilter(watched, e);
}

// Esc and the title bar's close button end like Cancel; not while a handler
// is at the database (it ends by itself).
void frmLogin::reject() {
  if (working_) return;
  Handle("cmdCancel_Click", [this] { logic_.cmdCancel_Click(); });
}

// The view as the logic sees it, from whichever thread it runs on.
std::string frmLogin::UserName() const {
  return OnGuiThread(const_cast<frmLogin*>(this), [this] { return S(ui_.txtUserName->text()); });
}
void frmLogin::SetUserName(const std::string& id) {
  OnGuiThread(this, [&] { ui_.txtUserName->setText(Q(id)); });
}
void frmLogin::DisableUserName() {
  OnGuiThread(this, [this] {
    ui_.txtUserName->setReadOnly(true);
    ui_.txtUserName->setEnabled(false);
  });
}
std::string frmLogin::Password() const {
  return OnGuiThread(const_cast<frmLogin*>(this), [this] { return S(ui_.txtPassword->text()); });
}
void frmLogin::SetPassword(const std::string& pw) {
  OnGuiThread(this, [&] { ui_.txtPassword->setText(Q(pw)); });
}
bool frmLogin::SaveChecked() const {
  return OnGuiThread(const_cast<frmLogin*>(this), [this] { return ui_.chkpwdSave->isChecked(); });
}
void frmLogin::SetSaveChecked(bool on) {
  OnGuiThread(this, [&] { ui_.chkpwdSave->setChecked(on); });
}
void frmLogin::SelectPassword() {
  OnGuiThread(this, [this] {
    ui_.txtPassword->setReadOnly(false);
    ui_.txtPassword->setFocus(Qt::OtherFocusReason);
    ui_.txtPassword->selectAll();
  });
}
void frmLogin::HideWindow() {
  OnGuiThread(this, [this] { done(logic_.LoginSucceeded() ? QDialog::Accepted : QDialog::Rejected); });
}

}  // namespace brenvo::signin
