#include "admin/wait_proc.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
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

// A file replaced keeps its inode, so its mode is narrowed as well: a dump
// holds a customer's whole database.
int OpenOutput(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) ::fchmod(fd, 0600);
  return fd;
}

pid_t Spawn(const std::string& file, const std::vector<std::string>& args, posix_spawn_file_actions_t* actions) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(file.c_str()));
  for (const auto& s : args) argv.push_back(const_cast<char*>(s.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = file.find('/') == std::string::npos ? posix_spawnp(&pid, file.c_str(), actions, nullptr, argv.data(), environ)
                                               : posix_spawn(&pid, file.c_str(), actions, nullptr, argv.data(), environ);
  return rc == 0 ? pid : -1;
}

// The child's status, or -1 when it could not be waited for.
int WaitBlocking(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

// Waits and asks cancel between looks; a cancelled child is ended and reaped.
std::optional<int> WaitOrCancel(pid_t pid, const std::function<bool()>& cancel, bool& cancelled) {
  using namespace std::chrono_literals;
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0 && errno != EINTR) return std::nullopt;
    if (cancel()) break;
    std::this_thread::sleep_for(100ms);
  }
  cancelled = true;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 20; ++i) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return std::nullopt;
    std::this_thread::sleep_for(100ms);
  }
  ::kill(pid, SIGKILL);
  WaitBlocking(pid);
  return std::nullopt;
}

}  // namespace

std::optional<int> ShellAndWait(const std::string& file, std::uintptr_t /*ownerWindow*/,
                                const std::vector<std::string>& args, const ShellOptions& options) {
  SpawnActions actions;
  if (!actions.ok() || file.empty()) return std::nullopt;

  // The output files are opened here, before the spawn, so a refusal stops
  // the start instead of leaving the program writing into nowhere. They are
  // opened relative to our own folder, not the program's.
  Fd out(options.stdoutFile.empty() ? -1 : OpenOutput(options.stdoutFile));
  if (!options.stdoutFile.empty() && out.get() < 0) return std::nullopt;
  Fd err(options.stderrFile.empty() ? -1 : OpenOutput(options.stderrFile));
  if (!options.stderrFile.empty() && err.get() < 0) return std::nullopt;

  auto* a = actions.get();
  if (options.hidden) {
    posix_spawn_file_actions_addopen(a, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(a, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(a, 2, "/dev/null", O_WRONLY, 0);
  }
  if (out.get() >= 0) posix_spawn_file_actions_adddup2(a, out.get(), 1);
  if (err.get() >= 0) posix_spawn_file_actions_adddup2(a, err.get(), 2);
  if (!options.directory.empty()) posix_spawn_file_actions_addchdir_np(a, options.directory.c_str());

  const pid_t pid = Spawn(file, args, a);
  if (pid < 0) return std::nullopt;

  int status = 0;
  if (options.cancelRequested) {
    bool cancelled = false;
    auto s = WaitOrCancel(pid, options.cancelRequested, cancelled);
    if (!s) return std::nullopt;
    status = *s;
  } else {
    status = WaitBlocking(pid);
    if (status < 0) return std::nullopt;
  }
  // glibc reports a failed exec after the fork as exit status 127.
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return std::nullopt;
}

bool StartProgram(const std::string& file, const std::vector<std::string>& args, const std::string& directory) {
  SpawnActions actions;
  if (!actions.ok() || file.empty()) return false;
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(actions.get(), directory.c_str());
  return Spawn(file, args, actions.get()) >= 0;
}

std::string FindProgram(const std::vector<std::string>& names) {
  const char* env = std::getenv("PATH");
  const std::string path = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
  for (const auto& name : names) {
    if (name.find('/') != std::string::npos) {
      if (::access(name.c_str(), X_OK) == 0) return name;
      continue;
    }
    size_t pos = 0;
    while (pos <= path.size()) {
      size_t end = path.find(':', pos);
      if (end == std::string::npos) end = path.size();
      std::string dir = path.substr(pos, end - pos);
      if (dir.empty()) dir = ".";
      const std::string candidate = dir + "/" + name;
      struct stat st {};
      if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
        return candidate;
      pos = end + 1;
    }
  }
  return {};
}

}  // namespace brenvo::admin
