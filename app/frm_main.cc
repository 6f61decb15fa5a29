#include "app/frm_main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QShortcut>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <ctime>

#include "admin/create_user.h"
#include "admin/cs_prepare.h"
#include "admin/dump.h"
#include "app/qt_prompter.h"
#include "db/mysql/cmysql.h"
#include "transfer/console_state.h"
#include "transfer/copy_run.h"
#include "transfer/estimate.h"
#include "util/error.h"
#include "util/gui_thread.h"
#include "util/korean.h"
#include "util/log_file.h"
#include "util/paths.h"
#include "util/servers.h"

#ifndef BRENVO_VERSION_MAJOR
#define BRENVO_VERSION_MAJOR 0
#define BRENVO_VERSION_MINOR 0
#define BRENVO_VERSION_PATCH 0
#endif

namespace brenvo {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The log pane's fixed-pitch Korean font: GulimChe where installed, else a
// Korean monospace face from the distribution's font packages.
QFont LogFont() {
  const QStringList families = QFontDatabase::families();
  for (const char* name : {"GulimChe", "NanumGothicCoding", "D2Coding", "Noto Sans Mono CJK KR", "UnDotum"}) {
    if (families.contains(QString::fromUtf8(name))) {
      QFont f(QString::fromUtf8(name));
      f.setPointSize(9);
      f.setStyleHint(QFont::TypeWriter);
      return f;
    }
  }
  QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setPointSize(9);
  return f;
}

// VB's Val: the leading number of the text, 0 when there is none.
long ValOf(const std::string& s) {
  try {
    size_t used = 0;
    return std::stol(s, &used);
  } catch (...) {
    return 0;
  }
}

// The first line of the copy run's summary.
constexpr const char* kSummaryHead = "----- 요약 -----";

// The settings as the window and its job both reach them: one call at a time.
class LockedSettings : public SettingsStore {
 public:
  explicit LockedSettings(SettingsStore& inner) : inner_(inner) {}
  std::string Get(const std::string& a, const std::string& s, const std::string& k,
                  const std::string& d) const override {
    std::lock_guard<std::mutex> lock(m_);
    return inner_.Get(a, s, k, d);
  }
  void Save(const std::string& a, const std::string& s, const std::string& k, const std::string& v) override {
    std::lock_guard<std::mutex> lock(m_);
    inner_.Save(a, s, k, v);
  }

 private:
  SettingsStore& inner_;
  mutable std::mutex m_;
};

}  // namespace

FrmMain::FrmMain(SettingsStore& settings, Prompter* prompter, std::string programFolder, QWidget* parent)
    : QWidget(parent),
      lockedSettings_(std::make_unique<LockedSettings>(settings)),
      settings_(*lockedSettings_),
      programFolder_(std::move(programFolder)) {
  if (!prompter) {
    ownPrompter_ = std::make_unique<QtPrompter>(this, kProgramTitle);
    prompter = ownPrompter_.get();
  }
  guiPrompter_ = std::make_unique<GuiThreadPrompter>(this, *prompter);
  prompter_ = guiPrompter_.get();
  for (int i = 0; i < 2; ++i) {
    barValue_[i] = 0;
    barMax_[i] = 100;
  }
  openDocument = [](const std::string& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path))); };
  openFolder = [](const std::string& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(Q(folder))); };
  startProgram = [](const std::string& program) { QProcess::startDetached(Q(program), {}); };
  // The workstation's own server ("localhost") is reached through its socket.
  mysql::UseLocalSocket(settings_.Get(kProgramTitle, "Config", "LocalSocket", ""));
  BuildWidgets();
  services = DefaultTransferServices(*this);
  Form_Load();
}

FrmMain::~FrmMain() {
  // A job still running when the window goes (the program ends) is asked to
  // stop; its calls to the window are answered until it has.
  if (worker_.joinable()) {
    cancel_ = true;
    while (busy_) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
}

// ---------------------------------------------------------------- widgets

void FrmMain::BuildWidgets() {
  setWindowTitle(Q(kProgramTitle));
  auto label = [this](const char* text) { return new QLabel(QString::fromUtf8(text), this); };
  auto button = [this](const char* text) { return new QPushButton(QString::fromUtf8(text), this); };
  auto check = [this](const char* text) { return new QCheckBox(QString::fromUtf8(text), this); };

  // < 작업설정 >: the four steps and the tool buttons.
  ui_.frames[0] = new QGroupBox(QString::fromUtf8("< 작업설정 >"), this);
  auto* steps = new QGridLayout(ui_.frames[0]);
  int row = 0;
  steps->addWidget(label("◇ 1단계:"), row, 0);
  steps->addWidget(label("DB 전환방향 선택"), row, 1, 1, 3);
  ++row;
  auto* dirRow = new QHBoxLayout;
  for (int i = 0; i < 3; ++i) {
    ui_.optDB[i] = new QRadioButton(QString::fromUtf8(DirectionOptionCaption(i)), this);
    dirRow->addWidget(ui_.optDB[i]);
    connect(ui_.optDB[i], &QRadioButton::toggled, this, [this, i](bool on) {
      if (on) optDB_Click(i);
    });
  }
  dirRow->addStretch();
  steps->addLayout(dirRow, row, 1, 1, 3);
  ++row;
  steps->addWidget(label("◇ 2단계:"), row, 0);
  steps->addWidget(label("작업준비"), row, 1);
  ui_.cmdChkCSDB = button("DB 작업준비");
  connect(ui_.cmdChkCSDB, &QPushButton::clicked, this, [this] { cmdChkCSDB_Click(); });
  ui_.cmdCreateUser = button("유저생성");
  connect(ui_.cmdCreateUser, &QPushButton::clicked, this, [this] { cmdCreateUser_Click(); });
  ui_.cmdCreateUser->setEnabled(false);
  auto* prepRow = new QHBoxLayout;
  prepRow->addWidget(ui_.cmdChkCSDB);
  prepRow->addWidget(ui_.cmdCreateUser);
  prepRow->addStretch();
  steps->addLayout(prepRow, row, 2, 1, 2);
  ++row;
  steps->addWidget(label("◇ 3단계:"), row, 0);
  steps->addWidget(label("CS 접속정보 입력"), row, 1, 1, 3);
  ++row;
  auto* conn = new QGridLayout;
  conn->addWidget(label("ID:"), 0, 0);
  conn->addWidget(label("DB명:"), 0, 2);
  conn->addWidget(label("HOST:"), 1, 0);
  for (int i = 0; i < 2; ++i) {
    ui_.Text1[i] = new QLineEdit(this);
    ui_.Text1[i]->installEventFilter(this);
    connect(ui_.Text1[i], &QLineEdit::textChanged, this, [this, i] { Text1_Change(i); });
    connect(ui_.Text1[i], &QLineEdit::returnPressed, this, [this, i] { Text1_KeyPress(i, 13); });
  }
  conn->addWidget(ui_.Text1[0], 0, 1);
  conn->addWidget(ui_.Text1[1], 0, 3);
  ui_.cmbHost = new QComboBox(this);
  ui_.cmbHost->setEditable(true);
  ui_.cmbHost->addItem("localhost");
  for (const auto& h : CsHostList(settings_, kProgramTitle)) ui_.cmbHost->addItem(Q(h));
  ui_.cmbHost->setCurrentIndex(-1);
  ui_.cmbHost->setEditText(QString());
  connect(ui_.cmbHost, &QComboBox::editTextChanged, this, [this] { cmbHost_Change(); });
  connect(ui_.cmbHost, &QComboBox::activated, this, [this] { cmbHost_Click(); });
  conn->addWidget(ui_.cmbHost, 1, 1, 1, 3);
  steps->addLayout(conn, row, 1, 1, 3);
  ++row;
  ui_.lblTip = label("※ 데이터 건수가 많을 경우 localhost를 거치는 것이 휠씬 빠릅니다.");
  // Hidden for the other directions without the rows below moving up: a
  // click aimed at a control must land on it whatever the direction.
  QSizePolicy tipPolicy = ui_.lblTip->sizePolicy();
  tipPolicy.setRetainSizeWhenHidden(true);
  ui_.lblTip->setSizePolicy(tipPolicy);
  steps->addWidget(ui_.lblTip, row++, 0, 1, 4);
  ui_.Label3 = label("※ 반드시 WinMyODBC 안정적인 버전을 설치하세요.(일부버전 버그발생)");
  steps->addWidget(ui_.Label3, row++, 0, 1, 4);
  steps->addWidget(label("◇ 4단계:"), row, 0);
  ui_.cmdStart = button("작업시작");
  connect(ui_.cmdStart, &QPushButton::clicked, this, [this] { cmdStart_Click(); });
  steps->addWidget(ui_.cmdStart, row, 1);
  ui_.chkE_FAIL = check("E_FAIL 자동해결");
  steps->addWidget(ui_.chkE_FAIL, row, 2, 1, 2);
  ++row;
  ui_.chkSkipFidSize = check("필드길이 및 CSV체크생략(꼭 필요시만 체크할것!!)");
  steps->addWidget(ui_.chkSkipFidSize, row++, 0, 1, 4);

  auto* tools = new QGridLayout;
  ui_.chkLocal = check("로컬계산");
  connect(ui_.chkLocal, &QCheckBox::toggled, this, [this] { chkLocal_Click(); });
  ui_.btnTime = button("예상시간");
  connect(ui_.btnTime, &QPushButton::clicked, this, [this] { btnTime_Click(); });
  ui_.btnDump = button("지금dump");
  connect(ui_.btnDump, &QPushButton::clicked, this, [this] { btnDump_Click(); });
  ui_.cmdBugReport = button("ODBC 어떤 버그?");
  connect(ui_.cmdBugReport, &QPushButton::clicked, this, [this] { cmdBugReport_Click(); });
  ui_.cmdAccess[0] = button("엑세스로 열기");
  ui_.cmdAccess[1] = button("DBS폴더열기");
  for (int i = 0; i < 2; ++i)
    connect(ui_.cmdAccess[i], &QPushButton::clicked, this, [this, i] { cmdAccess_Click(i); });
  ui_.cmdRunApp = button("Brenvo 실행 (MDB구조 업데이트)");
  connect(ui_.cmdRunApp, &QPushButton::clicked, this, [this] { cmdRunApp_Click(); });
  ui_.cmdHelp = button("구현된 기능보기");
  connect(ui_.cmdHelp, &QPushButton::clicked, this, [this] { cmdHelp_Click(); });
  ui_.cmdClose = button("닫기");
  connect(ui_.cmdClose, &QPushButton::clicked, this, [this] { cmdClose_Click(); });
  tools->addWidget(ui_.chkLocal, 0, 0);
  tools->addWidget(ui_.btnTime, 0, 1);
  tools->addWidget(ui_.btnDump, 0, 2);
  tools->addWidget(ui_.cmdBugReport, 0, 3);
  tools->addWidget(ui_.cmdAccess[0], 1, 0);
  tools->addWidget(label(">>"), 1, 1, Qt::AlignCenter);
  tools->addWidget(ui_.cmdAccess[1], 1, 2);
  tools->addWidget(ui_.cmdRunApp, 2, 0, 1, 2);
  tools->addWidget(label(">>"), 2, 2, Qt::AlignCenter);
  tools->addWidget(ui_.cmdHelp, 2, 3);
  tools->addWidget(ui_.cmdClose, 3, 3);
  steps->addLayout(tools, row++, 0, 1, 4);
  steps->setRowStretch(row, 1);

  // < 작업상황 >: the log pane and the two bars.
  ui_.frames[1] = new QGroupBox(QString::fromUtf8("< 작업상황 >"), this);
  auto* status = new QGridLayout(ui_.frames[1]);
  ui_.TxtLog = new QPlainTextEdit(this);
  ui_.TxtLog->setReadOnly(true);
  ui_.TxtLog->setFont(LogFont());
  ui_.TxtLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  ui_.TxtLog->setMinimumHeight(220);
  status->addWidget(ui_.TxtLog, 0, 0, 1, 2);
  status->addWidget(label("전체:"), 1, 0);
  status->addWidget(label("현재:"), 2, 0);
  for (int i = 0; i < 2; ++i) {
    ui_.ProgressBar1[i] = new QProgressBar(this);
    ui_.ProgressBar1[i]->setRange(0, 100);
    ui_.ProgressBar1[i]->setValue(0);
  }
  status->addWidget(ui_.ProgressBar1[1], 1, 1);
  status->addWidget(ui_.ProgressBar1[0], 2, 1);
  ui_.lblStatus = new QLabel(this);
  ui_.lblStatus->setTextFormat(Qt::PlainText);
  // One line, never wrapped: a long status must not push the bars around.
  ui_.lblStatus->setMinimumWidth(1);
  ui_.lblStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  ui_.lblStatus->setMinimumHeight(ui_.lblStatus->fontMetrics().height());
  status->addWidget(ui_.lblStatus, 3, 0, 1, 2);
  ui_.cmdCancel = button("중지");
  ui_.cmdCancel->setEnabled(false);
  connect(ui_.cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  status->addWidget(ui_.cmdCancel, 1, 2, 3, 1);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, [this] {
    if (ui_.cmdCancel->isEnabled()) cmdCancel_Click();
  });
  barTimer_ = new QTimer(this);
  barTimer_->setInterval(50);
  connect(barTimer_, &QTimer::timeout, this, [this] { ShowProgress(); });

  // < 테이블 목록 >: the catalogue.
  ui_.frames[2] = new QGroupBox(QString::fromUtf8("< 테이블 목록 >"), this);
  auto* list = new QGridLayout(ui_.frames[2]);
  ui_.List1 = new QListWidget(this);
  ui_.List1->setMinimumWidth(170);
  ui_.List1->setMinimumHeight(300);
  connect(ui_.List1, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (syncingList_) return;
    int i = ui_.List1->row(item);
    if (i >= 0 && i < catalogue_.Count()) catalogue_.at(i).marked = item->checkState() == Qt::Checked;
  });
  connect(ui_.List1, &QListWidget::currentRowChanged, this, [this](int r) { catalogue_.setCurrent(r); });
  list->addWidget(ui_.List1, 0, 0, 1, 3);
  ui_.chkAll = check("전체(&A)");
  connect(ui_.chkAll, &QCheckBox::toggled, this, [this] { chkAll_Click(); });
  ui_.cmdUnChkHere[0] = button("↑(x)");
  ui_.cmdUnChkHere[1] = button("↓(x)");
  for (int i = 0; i < 2; ++i)
    connect(ui_.cmdUnChkHere[i], &QPushButton::clicked, this, [this, i] { cmdUnChkHere_Click(i); });
  ui_.lblTblCount = label("00건");
  list->addWidget(ui_.chkAll, 1, 0);
  list->addWidget(ui_.cmdUnChkHere[0], 1, 1);
  list->addWidget(ui_.cmdUnChkHere[1], 1, 2);
  list->addWidget(ui_.lblTblCount, 2, 0, 1, 3);

  auto* top = new QHBoxLayout;
  top->addWidget(ui_.frames[0], 3);
  top->addWidget(ui_.frames[2], 1);
  auto* all = new QVBoxLayout(this);
  all->addLayout(top);
  all->addWidget(ui_.frames[1], 1);
  resize(900, 820);
}

QWidget* FrmMain::Widget(Control c) const {
  switch (c) {
    case Control::Text1_0: return ui_.Text1[0];
    case Control::Text1_1: return ui_.Text1[1];
    case Control::cmbHost: return ui_.cmbHost;
    case Control::chkE_FAIL: return ui_.chkE_FAIL;
    case Control::chkSkipFidSize: return ui_.chkSkipFidSize;
    case Control::chkLocal: return ui_.chkLocal;
    case Control::cmdStart: return ui_.cmdStart;
    case Control::btnTime: return ui_.btnTime;
    case Control::btnDump: return ui_.btnDump;
    case Control::cmdChkCSDB: return ui_.cmdChkCSDB;
    case Control::cmdCreateUser: return ui_.cmdCreateUser;
  }
  return nullptr;
}

// ---------------------------------------------------------------- Console

// Every widget is read and written on the window's thread; a job's call
// waits there for its turn (OnGuiThread), so it sees the window as a handler
// on the window's thread would.

bool FrmMain::OnWindowThread() const { return QThread::currentThread() == thread(); }

std::string FrmMain::ProgramTitle() const { return kProgramTitle; }

int FrmMain::Direction() const {
  return OnGuiThread(const_cast<FrmMain*>(this), [this] {
    for (int i = 0; i < 3; ++i)
      if (ui_.optDB[i]->isChecked()) return i;
    return -1;
  });
}

std::string FrmMain::DirectionCaption() const {
  return OnGuiThread(const_cast<FrmMain*>(this), [this] {
    std::vector<OptionButton> group;
    for (auto* b : ui_.optDB) group.push_back({S(b->text()), b->isChecked()});
    return GetSelOptionCaption(group);
  });
}

std::string FrmMain::Text(Control c) const {
  return OnGuiThread(const_cast<FrmMain*>(this), [this, c]() -> std::string {
    QWidget* w = Widget(c);
    if (auto* e = qobject_cast<QLineEdit*>(w)) return S(e->text());
    if (auto* cb = qobject_cast<QComboBox*>(w)) return S(cb->currentText());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return S(b->text());
    return {};
  });
}

void FrmMain::SetText(Control c, const std::string& text) {
  OnGuiThread(this, [&] {
    QWidget* w = Widget(c);
    if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(Q(text));
    else if (auto* cb = qobject_cast<QComboBox*>(w)) cb->setEditText(Q(text));
    else if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(Q(text));
  });
}

bool FrmMain::Checked(Control c) const {
  return OnGuiThread(const_cast<FrmMain*>(this), [this, c] {
    auto* b = qobject_cast<QCheckBox*>(Widget(c));
    return b && b->isChecked();
  });
}

void FrmMain::SetChecked(Control c, bool on) {
  OnGuiThread(this, [&] {
    if (auto* b = qobject_cast<QCheckBox*>(Widget(c))) b->setChecked(on);
  });
}

bool FrmMain::Enabled(Control c) const {
  // While a job runs its frame is shut; the engine asks about the control itself.
  return OnGuiThread(const_cast<FrmMain*>(this), [this, c] {
    QWidget* w = Widget(c);
    return w && !w->testAttribute(Qt::WA_ForceDisabled);
  });
}

void FrmMain::SetFocus(Control c) {
  OnGuiThread(this, [&] {
    QWidget* w = Widget(c);
    if (!w) return;
    // A shut control takes no focus: it gets it when the job has returned.
    if (busy_) focusAfterJob_ = w;
    else w->setFocus(Qt::OtherFocusReason);
  });
}

void FrmMain::AppendLog(const std::string& line, int) {
  {
    std::lock_guard<std::mutex> lock(logMutex_);
    logText_ += line;
    logText_ += "\r\n";
  }
  // Not waited for: a line posted before a question is still on screen before it.
  PostToGuiThread(this, [this, text = Q(line)] {
    ui_.TxtLog->appendPlainText(text);
    ui_.TxtLog->moveCursor(QTextCursor::End);
  });
}

void FrmMain::AppendLogFile(const std::string& line) { AppendLineCp949(LogFilePath(), line); }

std::string FrmMain::LogText() const {
  std::lock_guard<std::mutex> lock(logMutex_);
  return logText_;
}

std::string FrmMain::LogFilePath() const {
  std::lock_guard<std::mutex> lock(logMutex_);
  return logFilePath_;
}

void FrmMain::ClearLog() {
  {
    std::lock_guard<std::mutex> lock(logMutex_);
    logText_.clear();
  }
  PostToGuiThread(this, [this] { ui_.TxtLog->clear(); });
}

void FrmMain::FormLogFilePath() {
  std::string path = MakeLogFilePath(programFolder_, Text(Control::Text1_0), std::time(nullptr));
  std::lock_guard<std::mutex> lock(logMutex_);
  logFilePath_ = std::move(path);
}

void FrmMain::SetProgressMax(int bar, int max) {
  barMax_[bar & 1] = max;
  if (OnWindowThread()) ShowProgress();
}

void FrmMain::SetProgressValue(int bar, int value) {
  barValue_[bar & 1] = value;
  if (OnWindowThread()) ShowProgress();
}

int FrmMain::ProgressValue(int bar) const { return barValue_[bar & 1]; }
int FrmMain::ProgressMax(int bar) const { return barMax_[bar & 1]; }

void FrmMain::ShowProgress() {
  for (int i = 0; i < 2; ++i) {
    QProgressBar* b = ui_.ProgressBar1[i];
    int max = barMax_[i], value = barValue_[i];
    if (b->maximum() != max) b->setMaximum(max);
    // A bar cannot pass its maximum; the copy goes on all the same.
    value = std::clamp(value, b->minimum(), std::max(b->minimum(), max));
    if (b->value() != value) b->setValue(value);
  }
}

std::string FrmMain::Caption() const {
  return OnGuiThread(const_cast<FrmMain*>(this), [this] { return S(windowTitle()); });
}

void FrmMain::SetCaption(const std::string& caption) {
  OnGuiThread(this, [&] { setWindowTitle(Q(caption)); });
}

void FrmMain::SetCurrentTable(int index) {
  OnGuiThread(this, [&] {
    ui_.List1->setCurrentRow(index);
    if (index >= 0) ui_.List1->scrollToItem(ui_.List1->item(index));
    catalogue_.setCurrent(index);
    // The table the rows of the current bar belong to.
    const bool known = index >= 0 && index < catalogue_.Count();
    ui_.ProgressBar1[0]->setFormat(known ? Q(catalogue_.at(index).table) + "  %v / %m" : QString("%p%"));
  });
}

void FrmMain::SetStatus(const std::string& text) {
  PostToGuiThread(this, [this, t = Q(text)] { ui_.lblStatus->setText(t); });
}

// A job's window does not need the job to yield; on the window's own thread
// (a handler run directly) the window paints here, shut to input.
void FrmMain::Refresh() {
  if (OnWindowThread()) QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// ---------------------------------------------------------------- handlers

void FrmMain::Form_Load() {
  setWindowTitle(windowTitle() + QString(" ver%1.%2.%3")
                                     .arg(BRENVO_VERSION_MAJOR)
                                     .arg(BRENVO_VERSION_MINOR)
                                     .arg(BRENVO_VERSION_PATCH));
  FormLogFilePath();

  // A stored direction outside 0..2 selects nothing; the default is 0.
  long dir = ValOf(settings_.Get(kProgramTitle, "Config", "이동방향", "0"));
  if (dir < 0 || dir > 2) dir = 0;
  ui_.optDB[dir]->setChecked(true);

  ui_.Text1[0]->setText(Q(settings_.Get(kProgramTitle, "Config", "cs접속정보0", "")));
  ui_.Text1[1]->setText(Q(settings_.Get(kProgramTitle, "Config", "cs접속정보1", "")));
  ui_.cmbHost->setEditText(Q(settings_.Get(kProgramTitle, "Config", "cs접속정보host", "")));
  cmbHost_Change();  // the host rules apply even when the restored text equals the empty start

  if (ui_.Text1[1]->text().isEmpty()) MakeCsDBName();

  ui_.chkLocal->setChecked(ValOf(settings_.Get(kProgramTitle, "Config", "로컬계산", "0")) != 0);

  InitTableList();
}

void FrmMain::optDB_Click(int index) {
  ui_.chkE_FAIL->setEnabled(index != 0);
  ui_.btnDump->setEnabled(index == 0);
  ui_.lblTip->setVisible(index == 0);
  if (!isVisible()) return;
  settings_.Save(kProgramTitle, "Config", "이동방향", std::to_string(index));
  if (index == 2) prompter_->Message("DBS폴더에 empty-dbMain.mdb을 준비하세요.");
}

void FrmMain::MakeCsDBName() { ui_.Text1[1]->setText("brenvocs_" + ui_.Text1[0]->text()); }

void FrmMain::Text1_Change(int index) {
  if (!isVisible()) return;
  if (index == 0) MakeCsDBName();
  settings_.Save(kProgramTitle, "Config", "cs접속정보" + std::to_string(index), S(ui_.Text1[index]->text()));
}

void FrmMain::Text1_GotFocus(int index) { ui_.Text1[index]->selectAll(); }

void FrmMain::Text1_KeyPress(int index, int keyAscii) {
  if (keyAscii == 13) focusNextChild();
}

void FrmMain::cmbHost_Change() {
  bool local = ui_.cmbHost->currentText() == "localhost";
  ui_.chkLocal->setChecked(local);
  ui_.cmdCreateUser->setEnabled(local);
  if (!isVisible()) return;
  settings_.Save(kProgramTitle, "Config", "cs접속정보host", S(ui_.cmbHost->currentText()));
}

void FrmMain::chkLocal_Click() {
  if (!isVisible()) return;
  settings_.Save(kProgramTitle, "Config", "로컬계산", ui_.chkLocal->isChecked() ? "1" : "0");
}

void FrmMain::chkAll_Click() {
  catalogue_.MarkAll(ui_.chkAll->isChecked());
  SyncListFromCatalogue();
}

void FrmMain::cmdUnChkHere_Click(int index) {
  int c = ui_.List1->currentRow();
  if (index == 0) catalogue_.UnmarkAbove(c);
  else catalogue_.UnmarkBelow(c);
  SyncListFromCatalogue();
}

void FrmMain::InitTableList() {
  appName_ = "Brenvo";
  syncingList_ = true;
  ui_.List1->clear();
  syncingList_ = false;
  catalogue_.Build();
  ui_.chkAll->setChecked(false);
  SyncListFromCatalogue();
  ui_.chkAll->setChecked(true);
  ui_.lblTblCount->setText(QString::number(catalogue_.Count()) + QString::fromUtf8("건"));
  tableNumbers_.assign(catalogue_.Count() + 1, 0);
}

void FrmMain::SyncListFromCatalogue() {
  syncingList_ = true;
  while (ui_.List1->count() > catalogue_.Count()) delete ui_.List1->takeItem(ui_.List1->count() - 1);
  for (int i = 0; i < catalogue_.Count(); ++i) {
    QListWidgetItem* item = ui_.List1->item(i);
    if (!item) {
      item = new QListWidgetItem(Q(catalogue_.at(i).table), ui_.List1);
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    }
    item->setCheckState(catalogue_.at(i).marked ? Qt::Checked : Qt::Unchecked);
  }
  syncingList_ = false;
}

std::string FrmMain::AppPath() const {
  return settings_.Get(appName_, "Config", "AppPath", std::string(kDefaultAppRoot) + appName_);
}

void FrmMain::cmdAccess_Click(int index) {
  std::string folder = JoinPath(AppPath(), "DBS");
  if (!QFileInfo(Q(folder)).isDir()) {
    prompter_->Message("DBS폴더를 찾을 수 없습니다.\r\n" + folder);
    return;
  }
  if (index == 0) openDocument(JoinPath(folder, "dbMain.mdb"));
  else openFolder(folder);
}

void FrmMain::cmdRunApp_Click() {
  std::string exe = JoinPath(AppPath(), "Brenvo.exe");
  if (QFileInfo(Q(exe)).isFile()) startProgram(exe);
  else prompter_->Message("실행파일을 찾을 수 없습니다.\r\n" + exe);
}

void FrmMain::cmdHelp_Click() {
  prompter_->Message(
      "- 소수점 테스트 완료\r\n"
      "- 멀티라인 데이터 테스트완료(메모필드)\r\n"
      "- CSV 구분문자가 데이터내에 존재하는지 자동검색\r\n"
      "- CS DB 존재여부 확인가능\r\n"
      "- CS 프로세스 존재여부 확인가능\r\n");
}

void FrmMain::cmdClose_Click() { close(); }

bool FrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    for (int i = 0; i < 2; ++i)
      if (watched == ui_.Text1[i]) {
        // After the mouse press that gave the focus, or it clears the selection.
        QTimer::singleShot(0, this, [this, i] { Text1_GotFocus(i); });
      }
  }
  return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- jobs

bool FrmMain::StartJob(bool cancellable, std::function<void()> work, const std::string& status) {
  if (busy_) {
    QApplication::beep();
    return false;
  }
  if (worker_.joinable()) worker_.join();
  busy_ = true;
  cancel_ = false;
  focusAfterJob_ = nullptr;
  ui_.frames[0]->setEnabled(false);
  ui_.frames[2]->setEnabled(false);
  ui_.frames[0]->setCursor(Qt::BusyCursor);
  ui_.frames[2]->setCursor(Qt::BusyCursor);
  ui_.cmdCancel->setEnabled(cancellable);
  ui_.lblStatus->setText(Q(status));
  barTimer_->start();
  worker_ = std::thread([this, work = std::move(work)] {
    // Anything that escaped the handler's own trap is still told, never swallowed.
    try {
      work();
    } catch (...) {
      prompter_->Message(TrapText(DescribeCurrentException(), "StartJob", "Form FrmMain"));
    }
    QMetaObject::invokeMethod(this, [this] { FinishJob(); }, Qt::QueuedConnection);
  });
  return true;
}

void FrmMain::FinishJob() {
  if (worker_.joinable()) worker_.join();
  barTimer_->stop();
  ShowProgress();
  ShowSummary();
  ui_.cmdCancel->setEnabled(false);
  ui_.lblStatus->clear();
  ui_.frames[0]->unsetCursor();
  ui_.frames[2]->unsetCursor();
  ui_.frames[0]->setEnabled(true);
  ui_.frames[2]->setEnabled(true);
  busy_ = false;
  if (focusAfterJob_) focusAfterJob_->setFocus(Qt::OtherFocusReason);
  focusAfterJob_ = nullptr;
  emit jobFinished();
  if (closeAfterJob_) {
    closeAfterJob_ = false;
    close();
  }
}

// The copy run ends its pane with a summary longer than the pane is high;
// its head (tables, rows, time, log file) is what the technician reads
// first, so the pane starts there rather than at the last line.
void FrmMain::ShowSummary() {
  QTextCursor head = ui_.TxtLog->document()->find(QString::fromUtf8(kSummaryHead), ui_.TxtLog->document()->characterCount(),
                                                  QTextDocument::FindBackward);
  if (head.isNull()) return;
  ui_.TxtLog->verticalScrollBar()->setValue(head.blockNumber());
}

void FrmMain::RequestCancel() {
  if (!busy_) return;
  cancel_ = true;
  ui_.cmdCancel->setEnabled(false);
  ui_.lblStatus->setText(QString::fromUtf8("중지 요청: 진행 중인 단계를 정리하고 멈춥니다..."));
}

void FrmMain::cmdCancel_Click() {
  if (!busy_ || cancel_) return;
  // The question stands on the window's thread; the job goes on meanwhile.
  if (prompter_->Ask("작업을 중지할까요?", {}, Icon::Question, true)) RequestCancel();
}

bool FrmMain::WaitForJob(int ms) {
  if (!busy_) return true;
  QEventLoop loop;
  QTimer timeout;
  timeout.setSingleShot(true);
  connect(this, &FrmMain::jobFinished, &loop, &QEventLoop::quit);
  connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
  timeout.start(ms);
  loop.exec();
  return !busy_;
}

void FrmMain::btnTime_Click() {
  StartJob(true, [this] { brenvo::btnTime_Click(*this, services); }, "예상시간 계산 중...");
}

void FrmMain::cmdStart_Click() {
  StartJob(true, [this] { brenvo::cmdStart_Click(*this, services); }, "작업 중...");
}

void FrmMain::cmdChkCSDB_Click() {
  StartJob(false, [this] { admin::cmdChkCSDB_Click(*this); }, "관리서버에서 CS DB 확인 중...");
}

void FrmMain::cmdCreateUser_Click() {
  StartJob(false, [this] { admin::cmdCreateUser_Click(*this); }, "유저 생성 중...");
}

void FrmMain::btnDump_Click() {
  StartJob(true, [this] { admin::btnDump_Click(*this); }, "dump 준비 중...");
}

// Closing during a job asks first; a job asked to stop closes the window
// when it has wound down, never halfway.
void FrmMain::closeEvent(QCloseEvent* event) {
  if (!busy_) {
    event->accept();
    return;
  }
  event->ignore();
  if (closeAfterJob_) return;
  if (prompter_->Ask("작업이 진행 중입니다. 작업을 중지하고 창을 닫을까요?", {}, Icon::Question, true)) {
    closeAfterJob_ = true;
    RequestCancel();
  }
}

}  // namespace brenvo
