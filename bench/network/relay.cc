// A TCP relay that holds every byte for a set time in each direction, so a
// server on loopback answers as if it stood some milliseconds away. No
// bandwidth limit and no loss: only the delay, which is what round trips
// cost a program over a real network.
//
//   bench-delay-relay LISTEN_ADDR:PORT TARGET_ADDR:PORT DELAY_MS
//
// It prints "ready" on stdout once it listens, then runs until killed. Each
// direction of each connection holds at most kWindowBytes in flight (the
// window a real link's socket buffers give); a sender with more waits.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 64 * 1024;
constexpr size_t kWindowBytes = size_t{8} << 20;

struct Address {
  sockaddr_in sa{};
};

bool ParseAddress(const std::string& text, Address& out) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  out.sa.sin_family = AF_INET;
  out.sa.sin_port = htons(static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1)));
  return inet_pton(AF_INET, text.substr(0, colon).c_str(), &out.sa.sin_addr) == 1;
}

void NoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// One direction of one connection: a reader stamps what it reads with the
// time it may leave, a writer sends it then.
class Pipe {
 public:
  Pipe(int from, int to, Clock::duration delay) : from_(from), to_(to), delay_(delay) {}

  void Read() {
    for (;;) {
      std::vector<char> buf(kChunk);
      const ssize_t n = recv(from_, buf.data(), buf.size(), 0);
      std::unique_lock<std::mutex> lock(mu_);
      if (n <= 0) {
        ended_ = true;
        cv_.notify_all();
        return;
      }
      buf.resize(static_cast<size_t>(n));
      cv_.wait(lock, [&] { return inFlight_ < kWindowBytes || broken_; });
      if (broken_) return;
      inFlight_ += buf.size();
      queue_.push_back({Clock::now() + delay_, std::move(buf)});
      cv_.notify_all();
    }
  }

  void Write() {
    for (;;) {
      Item item;
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return !queue_.empty() || ended_; });
        if (queue_.empty()) break;
        item = std::move(queue_.front());
        queue_.pop_front();
      }
      std::this_thread::sleep_until(item.due);
      size_t off = 0;
      while (off < item.data.size()) {
        const ssize_t n = send(to_, item.data.data() + off, item.data.size() - off, MSG_NOSIGNAL);
        if (n <= 0) {
          Break();
          return;
        }
        off += static_cast<size_t>(n);
      }
      std::lock_guard<std::mutex> lock(mu_);
      inFlight_ -= item.data.size();
      cv_.notify_all();
    }
    // The end of the stream arrives as late as its last byte.
    shutdown(to_, SHUT_WR);
  }

  void Break() {
    std::lock_guard<std::mutex> lock(mu_);
    broken_ = true;
    ended_ = true;
    queue_.clear();
    cv_.notify_all();
    shutdown(from_, SHUT_RD);
  }

 private:
  struct Item {
    Clock::time_point due;
    std::vector<char> data;
  };
  int from_, to_;
  Clock::duration delay_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Item> queue_;
  size_t inFlight_ = 0;
  bool ended_ = false;
  bool broken_ = false;
};

void Serve(int client, Address target, Clock::duration delay) {
  const int server = socket(AF_INET, SOCK_STREAM, 0);
  if (server < 0 || connect(server, reinterpret_cast<sockaddr*>(&target.sa), sizeof target.sa) != 0) {
    std::perror("relay: connect");
    close(client);
    if (server >= 0) close(server);
    return;
  }
  NoDelay(client);
  NoDelay(server);
  Pipe up(client, server, delay), down(server, client, delay);
  std::thread t[] = {std::thread([&] { up.Read(); }), std::thread([&] { up.Write(); }),
                     std::thread([&] { down.Read(); }), std::thread([&] { down.Write(); })};
  for (auto& th : t) th.join();
  close(client);
  close(server);
}

}  // namespace

int main(int argc, char** argv) {
  Address listenAt, target;
  if (argc != 4 || !ParseAddress(argv[1], listenAt) || !ParseAddress(argv[2], target)) {
    std::fprintf(stderr, "usage: bench-delay-relay LISTEN_ADDR:PORT TARGET_ADDR:PORT DELAY_MS\n");
    return 64;
  }
  const auto delay = std::chrono::microseconds(static_cast<long long>(std::atof(argv[3]) * 1000));
  std::signal(SIGPIPE, SIG_IGN);
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, reinterpret_cast<sockaddr*>(&listenAt.sa), sizeof listenAt.sa) != 0 || listen(fd, 64) != 0) {
    std::perror("relay: listen");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) {
    const int client = accept(fd, nullptr, nullptr);
    if (client < 0) continue;
    std::thread(Serve, client, target, delay).detach();
  }
}
