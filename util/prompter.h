// How the engine reaches the person at the screen. The window implements it
// with message boxes; tests with a scripted prompter that records every
// message and answers questions from a queue.
#pragma once

#include <string>

namespace brenvo {

enum class Icon { None, Information, Exclamation, Critical, Question };

class Prompter {
 public:
  virtual ~Prompter() = default;
  // A message box with an OK button. An empty title means the program's title.
  virtual void Message(const std::string& text, const std::string& title = {}, Icon icon = Icon::None) = 0;
  // A Yes/No question; true for Yes. defaultNo puts the default on No.
  virtual bool Ask(const std::string& text, const std::string& title = {}, Icon icon = Icon::None,
                   bool defaultNo = false) = 0;
};

}  // namespace brenvo
