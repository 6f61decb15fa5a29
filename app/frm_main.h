// FrmMain: the conversion console's one working window. It lays the work out
// in four steps (direction, preparation, CS connection data, start), holds
// the table catalogue, the log pane with its two bars and the tool buttons,
// and remembers the direction, the connection data and "로컬계산".
//
// Settings are written only while the window is visible: everything the load
// restores passes through the same handlers, which then save nothing.
//
// Long work (the estimate, the copy run, the dump, the server chores) runs
// as a job on a worker thread, one job at a time: the window keeps painting,
// its bars move, its input stays shut except "중지". Every Console call the
// job makes is carried over to the window's thread in the order it is made;
// messages and questions wait there for the answer.
#pragma once

#include <QWidget>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "transfer/console.h"
#include "transfer/services.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace brenvo {

class FrmMain : public QWidget, public Console {
  Q_OBJECT

 public:
  // prompter: where messages go (the window's own message boxes when null).
  FrmMain(SettingsStore& settings, Prompter* prompter, std::string programFolder, QWidget* parent = nullptr);
  ~FrmMain() override;

  // Console
  Prompter& prompter() override { return *prompter_; }
  SettingsStore& settings() override { return settings_; }
  TableCatalogue& catalogue() override { return catalogue_; }
  std::string ProgramTitle() const override;
  std::string AppName() const override { return appName_; }
  std::string ProgramFolder() const override { return programFolder_; }
  int Direction() const override;
  std::string DirectionCaption() const override;
  std::string Text(Control c) const override;
  void SetText(Control c, const std::string& text) override;
  bool Checked(Control c) const override;
  void SetChecked(Control c, bool on) override;
  bool Enabled(Control c) const override;
  void SetFocus(Control c) override;
  void AppendLog(const std::string& line, int pane = 0) override;
  void AppendLogFile(const std::string& line) override;
  void ClearLog() override;
  std::string LogText() const override;
  std::string LogFilePath() const override;
  void FormLogFilePath() override;
  void SetProgressMax(int bar, int max) override;
  void SetProgressValue(int bar, int value) override;
  int ProgressValue(int bar) const override;
  int ProgressMax(int bar) const override;
  std::string Caption() const override;
  void SetCaption(const std::string& caption) override;
  void SetCurrentTable(int index) override;
  void Refresh() override;
  bool CancelRequested() const override { return cancel_.load(); }
  void SetStatus(const std::string& text) override;

  // Handlers, by their control names.
  void Form_Load();
  void optDB_Click(int index);
  void Text1_Change(int index);
  void Text1_GotFocus(int index);
  void Text1_KeyPress(int index, int keyAscii);
  void cmbHost_Change();
  void cmbHost_Click() { cmbHost_Change(); }
  void chkLocal_Click();
  void chkAll_Click();
  void cmdUnChkHere_Click(int index);
  void cmdAccess_Click(int index);
  void cmdRunApp_Click();
  void cmdHelp_Click();
  void cmdClose_Click();
  void cmdBugReport_Click() {}
  void MakeCsDBName();
  void InitTableList();

  // The buttons whose work lives in the engine; each runs to its end before
  // the window takes the next input.
  void btnTime_Click();
  void cmdStart_Click();
  void cmdChkCSDB_Click();
  void cmdCreateUser_Click();
  void btnDump_Click();
  // "중지" and Escape: asks, then asks the job to stop.
  void cmdCancel_Click();

  // Jobs. StartJob refuses (false) while another job runs; cancellable jobs
  // enable "중지"; status is the status line's text until the job sets its
  // own. The window's input comes back when the job has returned.
  bool StartJob(bool cancellable, std::function<void()> work, const std::string& status = {});
  bool Busy() const { return busy_; }
  // Asks the running job to stop at its next step or row (no question).
  void RequestCancel();
  // Runs the window's events until the job has finished or ms have passed;
  // true when no job runs any more.
  bool WaitForJob(int ms);

  // The connection procedures the engine calls; tests may replace them.
  TransferServices services;

  // How documents, folders and programs are opened; tests replace them.
  std::function<void(const std::string& path)> openDocument;
  std::function<void(const std::string& folder)> openFolder;
  std::function<void(const std::string& program)> startProgram;

  // The per-table number array: catalogue positions 0..count.
  std::vector<long long>& tableNumbers() { return tableNumbers_; }

  // Widgets, by the names a technician's report uses.
  struct Controls {
    std::array<QRadioButton*, 3> optDB{};
    std::array<QLineEdit*, 2> Text1{};
    QComboBox* cmbHost = nullptr;
    QLabel* lblTip = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* cmdChkCSDB = nullptr;
    QPushButton* cmdCreateUser = nullptr;
    QPushButton* cmdStart = nullptr;
    QCheckBox* chkE_FAIL = nullptr;
    QCheckBox* chkSkipFidSize = nullptr;
    QCheckBox* chkLocal = nullptr;
    QPushButton* btnTime = nullptr;
    QPushButton* btnDump = nullptr;
    QPushButton* cmdBugReport = nullptr;
    std::array<QPushButton*, 2> cmdAccess{};
    QPushButton* cmdRunApp = nullptr;
    QPushButton* cmdHelp = nullptr;
    QPushButton* cmdClose = nullptr;
    QPlainTextEdit* TxtLog = nullptr;
    std::array<QProgressBar*, 2> ProgressBar1{};
    QListWidget* List1 = nullptr;
    QCheckBox* chkAll = nullptr;
    std::array<QPushButton*, 2> cmdUnChkHere{};
    QLabel* lblTblCount = nullptr;
    std::array<QGroupBox*, 3> frames{};
    // What a silent step is doing, and the job's stop button.
    QLabel* lblStatus = nullptr;
    QPushButton* cmdCancel = nullptr;
  };
  const Controls& controls() const { return ui_; }

 signals:
  // A job has returned and the window takes input again.
  void jobFinished();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildWidgets();
  void SyncListFromCatalogue();
  std::string AppPath() const;
  QWidget* Widget(Control c) const;

  void FinishJob();
  void ShowProgress();
  void ShowSummary();
  bool OnWindowThread() const;

  std::unique_ptr<SettingsStore> lockedSettings_;
  SettingsStore& settings_;
  std::unique_ptr<Prompter> ownPrompter_;
  std::unique_ptr<Prompter> guiPrompter_;
  Prompter* prompter_;
  std::string programFolder_;
  std::string appName_;
  TableCatalogue catalogue_;
  std::vector<long long> tableNumbers_;
  bool syncingList_ = false;

  // The log text and the log file's path, read and written by the job too.
  mutable std::mutex logMutex_;
  std::string logFilePath_;
  std::string logText_;

  // The bars as the job last set them; a timer puts them on screen, so a
  // row costs the job no trip to the window.
  std::array<std::atomic<int>, 2> barValue_{};
  std::array<std::atomic<int>, 2> barMax_{};
  QTimer* barTimer_ = nullptr;

  // The running job (window thread only, except cancel_).
  bool busy_ = false;
  bool closeAfterJob_ = false;
  std::atomic<bool> cancel_{false};
  std::thread worker_;
  QWidget* focusAfterJob_ = nullptr;
  Controls ui_;
};

}  // namespace brenvo
