// modWaitProc: start an external program and block until it has ended.
//
// The program is spawned directly with an argument vector; no shell sees
// the arguments, so a database name or a password cannot turn into a second
// command. Where the original relied on "cmd /c ... > file" for the dump,
// the caller names the standard-output file and we open it ourselves.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brenvo::admin {

struct ShellOptions {
  // The folder the program starts in; empty keeps ours.
  std::string directory;
  // A window that cannot be hidden on this platform: hidden means no
  // terminal output at all (standard input, output and error on /dev/null);
  // minimized and normal both inherit our standard streams.
  bool hidden = false;
  bool minimized = false;
  // When set, the program's standard output goes into this file (created or
  // replaced, readable only by its owner). When it cannot be opened nothing
  // is started.
  std::string stdoutFile;
  // Asked a few times a second while the program runs; true ends the program
  // (SIGTERM, then SIGKILL after five seconds) and the wait returns nothing.
  std::function<bool()> cancelled;
};

// Starts file (looked up on PATH when it holds no "/") with args, which do
// not include the program name, and waits without a time limit. ownerWindow
// is kept for the callers' sake; nothing here needs it.
//
// Callers ignore the result as the original did; it is the exit status, or
// nothing when no program was started (not found, not executable, output
// file refused) or it ended by a signal.
std::optional<int> ShellAndWait(const std::string& file, std::uintptr_t ownerWindow,
                                const std::vector<std::string>& args, const ShellOptions& options = {});

}  // namespace brenvo::admin
