// A procedure's error trap: run one step, and when it throws, report
// "Error N (description) in procedure P of OWNER" with an OK button.
// The caller decides whether to leave the procedure or go on.
#pragma once

#include "util/error.h"
#include "util/prompter.h"

namespace brenvo {

// True when f ran through; false after the report.
template <typename F>
bool Trap(Prompter& prompter, const char* procedure, const char* owner, F&& f) {
  try {
    f();
    return true;
  } catch (...) {
    prompter.Message(TrapText(DescribeCurrentException(), procedure, owner));
    return false;
  }
}

}  // namespace brenvo
