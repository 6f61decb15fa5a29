#include "admin/wait_proc.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace brenvo::admin {

namespace {

class SpawnActions {
 public:
  SpawnActions() { ok_ = posix_spawn_file_actions_init(&a_) == 0; }
  ~SpawnActions() {
    if (ok_) posix_spawn_file_actions_destroy(&a_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &a_; }

 private:
  posix_spawn_file_actions_t a_;
  bool ok_ = false;
};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<int> ShellAndWait(const std::string& file, std::uintptr_t /*ownerWindow*/,
                                const std::vector<std::string>& args, const ShellOptions& options) {
  SpawnActions actions;
  if (!actions.ok() || file.empty()) return std::nullopt;

  // The output file is opened here, before the spawn, so a refusal stops
  // the start instead of leaving the program writing into nowhere. It is
  // opened relative to our own folder, not the program's.
  // A file replaced keeps its inode, so its mode is narrowed as well: a dump
  // holds a customer's whole database.
  Fd out(options.stdoutFile.empty()
             ? -1
             : ::open(options.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!options.stdoutFile.empty()) {
    if (out.get() < 0) return std::nullopt;
    ::fchmod(out.get(), 0600);
  }

  auto* a = actions.get();
  if (options.hidden) {
    posix_spawn_file_actions_addopen(a, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(a, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(a, 2, "/dev/null", O_WRONLY, 0);
  }
  if (out.get() >= 0) posix_spawn_file_actions_adddup2(a, out.get(), 1);
  if (!options.directory.empty()) posix_spawn_file_actions_addchdir_np(a, options.directory.c_str());

  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(file.c_str()));
  for (const auto& s : args) argv.push_back(const_cast<char*>(s.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  int rc = file.find('/') == std::string::npos ? posix_spawnp(&pid, file.c_str(), a, nullptr, argv.data(), environ)
                                               : posix_spawn(&pid, file.c_str(), a, nullptr, argv.data(), environ);
  if (rc != 0) return std::nullopt;

  int status = 0;
  if (options.cancelled) {
    using namespace std::chrono;
    bool stopping = false;
    steady_clock::time_point stopAt{};
    for (;;) {
      pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid) break;
      if (r < 0 && errno != EINTR) return std::nullopt;
      if (!stopping && options.cancelled()) {
        ::kill(pid, SIGTERM);
        stopping = true;
        stopAt = steady_clock::now();
      } else if (stopping && steady_clock::now() - stopAt > seconds(5)) {
        ::kill(pid, SIGKILL);
      }
      std::this_thread::sleep_for(milliseconds(100));
    }
    if (stopping) return std::nullopt;
  } else {
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return std::nullopt;
    }
  }
  // glibc reports a failed exec after the fork as exit status 127.
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return std::nullopt;
}

}  // namespace brenvo::admin
