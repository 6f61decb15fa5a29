// What the engine sees of the main window. The Qt window implements it; the
// tests and brenvo-convert use a plain implementation (ConsoleState, in
// transfer/). Every handler of the copy run, the estimate, the field check,
// the server chores and the sign-in runs against this, so none of them needs
// a window to run. It sits below transfer/ and admin/ so that both, and the
// sign-in, can use it without depending on each other.
#pragma once

#include <memory>
#include <string>

#include "util/prompter.h"
#include "util/settings_store.h"

namespace brenvo {

namespace mysql {
class DirectDb;
}
// The table list the window shows (transfer/catalogue.h).
class TableCatalogue;

// The program's title (message-box title, settings application name).
inline constexpr const char* kProgramTitle = "Brenvo <-> CS 자료전환";
// Captions of the three direction options, by index ("" out of range).
const char* DirectionOptionCaption(int index);

// The window's controls the engine reads or writes, by their on-screen names.
enum class Control {
  Text1_0,         // CS user ID
  Text1_1,         // CS database name
  cmbHost,         // CS host
  chkE_FAIL,       // zero-date repair
  chkSkipFidSize,  // skip the field check
  chkLocal,        // local calculation (estimate)
  cmdStart,
  btnTime,
  btnDump,
  cmdChkCSDB,
  cmdCreateUser,
};

class Console {
 public:
  virtual ~Console() = default;

  virtual Prompter& prompter() = 0;
  virtual SettingsStore& settings() = 0;
  virtual TableCatalogue& catalogue() = 0;

  // The program's title: message-box title and settings application name.
  virtual std::string ProgramTitle() const = 0;
  // The host application's settings name (AppName, "Brenvo").
  virtual std::string AppName() const = 0;
  // The program's own folder (log files, dumps).
  virtual std::string ProgramFolder() const = 0;

  // Selected direction: 0 "Brenvo → CS", 1 "CS → Brenvo", 2 "Brenvo → Brenvo".
  virtual int Direction() const = 0;
  // Caption of the selected direction option ("" when none).
  virtual std::string DirectionCaption() const = 0;

  virtual std::string Text(Control c) const = 0;
  virtual void SetText(Control c, const std::string& text) = 0;
  virtual bool Checked(Control c) const = 0;
  virtual void SetChecked(Control c, bool on) = 0;
  virtual bool Enabled(Control c) const = 0;
  virtual void SetFocus(Control c) = 0;

  // The work log: pane 0 and the log file at LogFilePath.
  virtual void AppendLog(const std::string& line, int pane = 0) = 0;
  virtual void AppendLogFile(const std::string& line) = 0;
  virtual void ClearLog() = 0;
  virtual std::string LogText() const = 0;
  virtual std::string LogFilePath() const = 0;
  // Forms LogFilePath again from the current time and Text1(0).
  virtual void FormLogFilePath() = 0;

  // Progress bars: 0 current (rows), 1 total (tables).
  virtual void SetProgressMax(int bar, int max) = 0;
  virtual void SetProgressValue(int bar, int value) = 0;
  virtual int ProgressValue(int bar) const = 0;
  virtual int ProgressMax(int bar) const = 0;

  virtual std::string Caption() const = 0;
  virtual void SetCaption(const std::string& caption) = 0;

  // The catalogue's current entry in the list (-1 none).
  virtual void SetCurrentTable(int index) = 0;

  // Lets the window repaint during long work; a no-op without a window.
  virtual void Refresh() {}

  // True once the person at the screen asked to stop the work in progress;
  // long work asks between steps and rows and winds down without finishing
  // anything half.
  virtual bool CancelRequested() const { return false; }
  // One line on what is happening now, for steps that show no rows
  // (emptying a table, counting, dumping); "" clears it.
  virtual void SetStatus(const std::string& text) { (void)text; }

  // Window fields that live as long as the window: the one direct MySQL
  // connection (DBConnect .. DBClose) and the ODBC driver path once found.
  std::shared_ptr<mysql::DirectDb> directDb;
  std::string odbcDriverPathCache;
};

}  // namespace brenvo
