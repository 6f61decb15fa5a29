// A writer killed at a random moment: the file opens, passes the check and
// holds a prefix of the rows at least as long as the last durable point the
// writer reported.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The child: appends rows 1..kRows, reporting each durable point's row count.
[[noreturn]] void ImportUntilKilled(const std::string& path, const std::string& table, Row (*make)(int),
                                    int reportFd) {
  try {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table(table);
    for (int i = 1; i <= kRows; ++i) {
      t.Insert(make(i));
      if (i % kDurableEvery == 0) {
        t.Commit();
        int n = i;
        if (write(reportFd, &n, sizeof n) != sizeof n) _exit(3);
      }
    }
    w->Close();
    int n = kRows;
    if (write(reportFd, &n, sizeof n) != sizeof n) _exit(3);
  } catch (...) {
    _exit(2);
  }
  _exit(0);
}

void KillLoop(const std::string& table, Row (*make)(int), int rounds, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int round = 0; round < rounds; ++round) {
    TempDir dir;
    std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      ImportUntilKilled(path, table, make, fds[1]);
    }
    close(fds[1]);
    usleep(static_cast<useconds_t>(rng() % 250000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    int durable = 0, n = 0;
    while (read(fds[0], &n, sizeof n) == sizeof n) durable = n;
    close(fds[0]);

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

}  // namespace
}  // namespace brenvo::test
