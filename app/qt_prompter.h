// Message boxes for the engine's questions and notices.
#pragma once

#include <QCoreApplication>
#include <QWidget>

#include "util/prompter.h"

namespace brenvo {

// Installs Qt's own Korean translations (standard buttons 예 / 아니요 /
// 확인 / 취소, the text boxes' menus) into app, whatever the system's
// language. False when they are not installed (Debian qt6-translations-l10n).
bool InstallQtKorean(QCoreApplication& app);

class QtPrompter : public Prompter {
 public:
  QtPrompter(QWidget* parent, std::string defaultTitle) : parent_(parent), title_(std::move(defaultTitle)) {}
  void setParent(QWidget* parent) { parent_ = parent; }

  void Message(const std::string& text, const std::string& title, Icon icon) override;
  bool Ask(const std::string& text, const std::string& title, Icon icon, bool defaultNo) override;

 private:
  QWidget* parent_;
  std::string title_;
};

}  // namespace brenvo
