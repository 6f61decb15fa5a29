// A Console without a window: the controls are plain fields, the log pane a
// string, messages go to the given Prompter. Used by brenvo-convert and tests.
#pragma once

#include <functional>
#include <map>
#include <memory>

#include "transfer/console.h"

namespace brenvo {

class ConsoleState : public Console {
 public:
  ConsoleState(Prompter& prompter, SettingsStore& settings, std::string programFolder);

  Prompter& prompter() override { return prompter_; }
  SettingsStore& settings() override { return settings_; }
  TableCatalogue& catalogue() override { return catalogue_; }

  std::string ProgramTitle() const override;
  std::string AppName() const override { return "Brenvo"; }
  std::string ProgramFolder() const override { return folder_; }

  int Direction() const override { return direction_; }
  void SetDirection(int d) { direction_ = d; }
  std::string DirectionCaption() const override;

  std::string Text(Control c) const override;
  void SetText(Control c, const std::string& text) override { text_[c] = text; }
  bool Checked(Control c) const override;
  void SetChecked(Control c, bool on) override { checked_[c] = on; }
  bool Enabled(Control c) const override;
  void SetEnabled(Control c, bool on) { enabled_[c] = on; }
  void SetFocus(Control c) override { focus_ = c; }
  Control focus() const { return focus_; }

  void AppendLog(const std::string& line, int pane = 0) override;
  void AppendLogFile(const std::string& line) override;
  void ClearLog() override { log_.clear(); }
  std::string LogText() const override { return log_; }
  std::string LogFilePath() const override { return logFilePath_; }
  void FormLogFilePath() override;

  void SetProgressMax(int bar, int max) override { progressMax_[bar & 1] = max; }
  void SetProgressValue(int bar, int value) override { progressValue_[bar & 1] = value; }
  int ProgressValue(int bar) const override { return progressValue_[bar & 1]; }
  int ProgressMax(int bar) const override { return progressMax_[bar & 1]; }

  std::string Caption() const override { return caption_; }
  void SetCaption(const std::string& caption) override { caption_ = caption; }

  void SetCurrentTable(int index) override { catalogue_.setCurrent(index); }

  // Called with every pane line as it is appended (brenvo-convert prints them).
  void OnLogLine(std::function<void(const std::string&)> f) { onLine_ = std::move(f); }

 private:
  Prompter& prompter_;
  SettingsStore& settings_;
  std::string folder_;
  TableCatalogue catalogue_;
  int direction_ = 0;
  std::map<Control, std::string> text_;
  std::map<Control, bool> checked_;
  std::map<Control, bool> enabled_;
  Control focus_ = Control::Text1_0;
  std::string log_;
  std::string logFilePath_;
  int progressMax_[2] = {100, 100};
  int progressValue_[2] = {0, 0};
  std::string caption_;
  std::function<void(const std::string&)> onLine_;
};

}  // namespace brenvo
