// modWaitProc: start an external program and block until it has ended, and
// the program's one other way of starting programs, without waiting.
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
  // The same for standard error, so a caller can show the program's own
  // words when it fails.
  std::string stderrFile;
  // Asked about every tenth of a second while the program runs; when it
  // answers true the program is ended (SIGTERM, SIGKILL two seconds later)
  // and the result is nothing.
  std::function<bool()> cancelRequested;
};

// Starts file (looked up on PATH when it holds no "/") with args, which do
// not include the program name, and waits without a time limit. ownerWindow
// is kept for the callers' sake; nothing here needs it.
//
// The result is the exit status, or nothing when no program was started
// (not found, not executable, an output file refused), it ended by a
// signal, or it was ended on a cancel.
std::optional<int> ShellAndWait(const std::string& file, std::uintptr_t ownerWindow,
                                const std::vector<std::string>& args, const ShellOptions& options = {});

// Starts file with args in directory (empty: ours) and does not wait. True
// when the program was started.
bool StartProgram(const std::string& file, const std::vector<std::string>& args, const std::string& directory = {});

// The full path of the first of names found on PATH, or "" when none is.
std::string FindProgram(const std::vector<std::string>& names);

}  // namespace brenvo::admin
