#include "transfer/console_state.h"

#include <ctime>

#include "util/log_file.h"

namespace brenvo {

ConsoleState::ConsoleState(Prompter& prompter, SettingsStore& settings, std::string programFolder)
    : prompter_(prompter), settings_(settings), folder_(std::move(programFolder)) {
  catalogue_.Build();
  catalogue_.MarkAll(true);
  caption_ = kProgramTitle;
}

std::string ConsoleState::ProgramTitle() const { return kProgramTitle; }

std::string ConsoleState::DirectionCaption() const { return DirectionOptionCaption(direction_); }

std::string ConsoleState::Text(Control c) const {
  auto it = text_.find(c);
  return it == text_.end() ? std::string() : it->second;
}

bool ConsoleState::Checked(Control c) const {
  auto it = checked_.find(c);
  return it != checked_.end() && it->second;
}

bool ConsoleState::Enabled(Control c) const {
  auto it = enabled_.find(c);
  return it == enabled_.end() || it->second;
}

void ConsoleState::AppendLog(const std::string& line, int) {
  log_ += line;
  log_ += "\r\n";
  if (onLine_) onLine_(line);
}

void ConsoleState::AppendLogFile(const std::string& line) { AppendLineCp949(logFilePath_, line); }

void ConsoleState::FormLogFilePath() {
  logFilePath_ = MakeLogFilePath(folder_, Text(Control::Text1_0), std::time(nullptr));
}

}  // namespace brenvo
