// A writer killed at a random moment: the file opens, passes the check and
// holds a prefix of the rows at least as long as the last durable point the
// writer reported; a table replaced inside a transaction holds all its old
// rows or all its new ones.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <set>

#include "db/jet/database.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"

namespace brenvo::test {
namespace {

constexpr int kRows = 4000;
constexpr int kDurableEvery = 150;

using Row = std::vector<std::optional<ado::Value>>;

// schedules: its primary key alone, keys ascending.
Row Schedule(int i) {
  Row r(5);
  r[0] = ado::Value(int64_t{i});
  r[2] = ado::Value("행 " + std::to_string(i));
  if (i % 40 == 0) r[3] = ado::Value(std::string(6000, 'm'));
  return r;
}

Row Sale(int i) { return SaleRow(i); }

// Runs child(reportFd) in a process killed with SIGKILL after a random delay
// below maxDelay microseconds (or at its own end); returns the numbers it
// reported.
std::vector<int> RunKilled(const std::function<void(int)>& child, std::mt19937& rng, uint32_t maxDelay) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    close(fds[0]);
    try {
      child(fds[1]);
    } catch (...) {
      _exit(2);
    }
    _exit(0);
  }
  close(fds[1]);
  usleep(static_cast<useconds_t>(rng() % maxDelay));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the writer failed";
  }
  std::vector<int> reported;
  int n = 0;
  while (read(fds[0], &n, sizeof n) == sizeof n) reported.push_back(n);
  close(fds[0]);
  return reported;
}

void Report(int fd, int n) {
  if (write(fd, &n, sizeof n) != sizeof n) _exit(3);
}

void KillLoop(const std::string& table, Row (*make)(int), int rounds, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int round = 0; round < rounds; ++round) {
    TempDir dir;
    std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
    // The child appends rows 1..kRows, reporting each durable point's count.
    std::vector<int> reported = RunKilled(
        [&](int fd) {
          auto w = jet::JetWriter::Open(path, kBrenvoPassword);
          auto& t = w->Table(table);
          for (int i = 1; i <= kRows; ++i) {
            t.Insert(make(i));
            if (i % kDurableEvery == 0) {
              t.Commit();
              Report(fd, i);
            }
          }
          w->Close();
          Report(fd, kRows);
        },
        rng, 250000);
    int durable = reported.empty() ? 0 : reported.back();

    EXPECT_EQ(CheckFaults(path), "") << "round " << round;
    std::set<int64_t> ids = StoredIds(path, table);
    EXPECT_GE(static_cast<int>(ids.size()), durable) << "round " << round;
    // A prefix: 1..n without gaps.
    if (!ids.empty()) {
      EXPECT_EQ(*ids.begin(), 1) << "round " << round;
      EXPECT_EQ(*ids.rbegin(), static_cast<int64_t>(ids.size())) << "round " << round;
    }
    // Rows go on at the next open.
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    w->Table(table).Insert(make(kRows + 1));
    w->Close();
    EXPECT_EQ(CheckFaults(path), "") << "round " << round;
  }
}

TEST(CrashSafety, AWriterKilledAtAnyMomentLeavesASoundPrefix) {
  REQUIRE_FIXTURES();
  KillLoop("schedules", Schedule, 30, 20261208);
}

TEST(CrashSafety, AWriterKilledWhileMergingIndexesLeavesASoundPrefix) {
  REQUIRE_FIXTURES();
  KillLoop("sale_m", Sale, 20, 4);
}

// dbMain's 4,000 sale_m rows replaced by 3,000 others (ids from 100,001)
// inside a transaction, with a durable point every 150 rows, killed at a
// random moment: the table holds all its old rows or all its new ones.
TEST(CrashSafety, AReplaceKilledAtAnyMomentLeavesTheOldTableOrTheNewOneWhole) {
  REQUIRE_FIXTURES();
  constexpr int kNew = 3000;
  constexpr int64_t kFirst = 100000;
  std::set<int64_t> newIds;
  for (int i = 1; i <= kNew; ++i) newIds.insert(kFirst + i);
  std::mt19937 rng(1208);
  int sawOld = 0, sawNew = 0;
  for (int round = 0; round < 24; ++round) {
    TempDir dir;
    std::string path = CopyBrenvoFixture(dir, "dbMain.mdb");
    std::set<int64_t> old = StoredIds(path, "sale_m");
    std::vector<int> reported = RunKilled(
        [&](int fd) {
          auto w = jet::JetWriter::Open(path, kBrenvoPassword);
          w->BeginTransaction();
          auto& t = w->Table("sale_m");
          t.DeleteAll();
          for (int i = 1; i <= kNew; ++i) {
            t.Insert(SaleRow(i, kFirst));
            if (i % kDurableEvery == 0) t.Commit();
          }
          w->CommitTransaction();
          Report(fd, 1);
          w->Close();
        },
        rng, 400000);

    EXPECT_EQ(CheckFaults(path), "") << "round " << round;
    std::set<int64_t> ids = StoredIds(path, "sale_m");
    if (ids == old) {
      ++sawOld;
      EXPECT_TRUE(reported.empty()) << "round " << round << ": committed, yet the old rows";
    } else {
      ++sawNew;
      EXPECT_EQ(ids, newIds) << "round " << round;
    }
    // The file takes the next writer.
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    w->Table("sale_m").Insert(SaleRow(kNew + 1, kFirst));
    w->Close();
    EXPECT_EQ(CheckFaults(path), "") << "round " << round;
  }
  std::printf("killed replaces: %d left the old table, %d the new one\n", sawOld, sawNew);
}

}  // namespace
}  // namespace brenvo::test
