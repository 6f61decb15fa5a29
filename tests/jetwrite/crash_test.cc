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
#include "db/jet/table_scan.h"
#include "db/jet/column_value.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"

namespace brenvo::test {
namespace {

constexpr int kRows = 4000;
constexpr int kDurableEvery = 150;

// The child: appends rows 1..kRows, reporting each durable point's row count.
[[noreturn]] void ImportUntilKilled(const std::string& path, int reportFd) {
  try {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("schedules");
    for (int i = 1; i <= kRows; ++i) {
      std::vector<std::optional<ado::Value>> r(5);
      r[0] = ado::Value(int64_t{i});
      r[2] = ado::Value("행 " + std::to_string(i));
      if (i % 40 == 0) r[3] = ado::Value(std::string(6000, 'm'));
      t.Insert(r);
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

std::set<int64_t> StoredIds(const std::string& path) {
  auto db = jet::Database::Open(path, kBrenvoPassword);
  const auto& t = db->Table("schedules");
  jet::TableScan scan(db->File(), t);
  jet::RowBytes row;
  std::vector<uint8_t> scratch;
  std::set<int64_t> ids;
  while (scan.Next(row)) {
    jet::RowReader rr(row.bytes, t);
    ids.insert(std::get<int64_t>(jet::DecodeValue(db->File(), rr, t.columns[0], scratch)));
  }
  return ids;
}

TEST(CrashSafety, AWriterKilledAtAnyMomentLeavesASoundPrefix) {
  REQUIRE_FIXTURES();
  std::mt19937 rng(20261208);
  for (int round = 0; round < 30; ++round) {
    TempDir dir;
    std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      ImportUntilKilled(path, fds[1]);
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
    std::set<int64_t> ids = StoredIds(path);
    EXPECT_GE(static_cast<int>(ids.size()), durable) << "round " << round;
    // A prefix: 1..n without gaps.
    if (!ids.empty()) {
      EXPECT_EQ(*ids.begin(), 1) << "round " << round;
      EXPECT_EQ(*ids.rbegin(), static_cast<int64_t>(ids.size())) << "round " << round;
    }
    // Rows go on at the next open.
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    std::vector<std::optional<ado::Value>> r(5);
    r[0] = ado::Value(int64_t{kRows + 1});
    w->Table("schedules").Insert(r);
    w->Close();
    EXPECT_EQ(CheckFaults(path), "") << "round " << round;
  }
}

}  // namespace
}  // namespace brenvo::test
