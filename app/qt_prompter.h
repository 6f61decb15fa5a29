// Message boxes for the engine's questions and notices.
#pragma once

#include <QWidget>

#include "util/prompter.h"

namespace brenvo {

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
