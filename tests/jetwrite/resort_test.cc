// Re-sorting to the General order: rows byte for byte as they were, every
// label and key General, the check clean (system tables too); killed at
// any moment, the file still opens and passes the check.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>

#include "db/jet/check.h"
#include "db/jet/data_page.h"
#include "db/jet/database.h"
#include "db/jet/index_key.h"
#include "db/jet/resort.h"
#include "db/jet/usage_map.h"
#include "db/jet/write_index.h"
#include "db/jet/write_pager.h"
#include "db/jet/write_usage_map.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"

namespace brenvo::test {
namespace {

namespace fs = std::filesystem;

// Every live row slot of every table, system tables included, by table and
// row pointer.
std::map<std::string, std::string> RowBytes(const std::string& path, const std::string& password) {
  auto db = jet::Database::Open(path, password);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  jet::Pager pager(fd, path, jet::kJet4PageSize, db->Header().encryptionKey);
  std::map<std::string, std::string> out;
  for (const auto& e : db->Catalog()) {
    if (!e.IsTable()) continue;
    const jet::TableDef& t = db->Table(e.name);
    for (uint32_t p : jet::ReadMapPages(pager, t.ownedPages)) {
      jet::Page pg = pager.Read(p);
      jet::ByteView pv{pg.data(), pg.size()};
      if (pg[0] != jet::kPageData || jet::Get32(&pg[4]) != t.page) continue;
      for (uint16_t s = 0; s < jet::SlotCount(pv); ++s) {
        jet::RowSlot sl = jet::ReadSlot(pv, s);
        if (sl.deleted && !sl.lookup) continue;
        jet::ByteView b = pv.Sub(sl.start, sl.length, "row");
        out[e.name + " " + std::to_string(p) + ":" + std::to_string(s)] =
            std::string(reinterpret_cast<const char*>(b.data), b.size);
      }
    }
  }
  return out;
}

// Faults, and notes of keys the General order could not recompute.
std::string Problems(const std::string& path, const std::string& password) {
  jet::CheckReport r = jet::CheckDatabase(path, password, true);
  std::string s;
  for (const auto& f : r.faults) s += "FAULT " + f + "\n";
  for (const auto& n : r.notes)
    if (n.find("sort order") != std::string::npos) s += "note " + n + "\n";
  return s;
}

void ExpectAllGeneral(const std::string& path, const std::string& password) {
  auto db = jet::Database::Open(path, password);
  EXPECT_EQ(db->Header().sortLcid, jet::kSortGeneral);
  for (const auto& e : db->Catalog()) {
    if (!e.IsTable()) continue;
    for (const auto& c : db->Table(e.name).columns)
      if (c.type == jet::kColText || c.type == jet::kColMemo)
        EXPECT_EQ(c.sortLcid, jet::kSortGeneral) << e.name << "." << c.name;
  }
}

std::string CopyReal(const TempDir& dir, const std::string& name) {
  fs::path to = dir.path() / name;
  fs::copy_file(FixturesDir() / "realworld" / name, to);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
  return to.string();
}

TEST(Resort, KoreanFilesTurnGeneralWithTheirRowsUntouched) {
  if (!fs::exists(FixturesDir() / "realworld")) GTEST_SKIP() << "realworld fixtures absent";
  for (const char* name : {"kr_icon001-APT_Sampledb_ACCINFO.mdb", "kr_icon001-APT_Sampledb_ACCEVENT.mdb",
                           "kr_gasfet-CSharpBible_ado.mdb", "kr_Hyeon0828-uploard_zipcode.mdb"}) {
    TempDir dir;
    std::string path = CopyReal(dir, name);
    auto before = RowBytes(path, "");
    jet::ResortReport rep = jet::ResortGeneral(path, "");
    EXPECT_GT(rep.indexes, 0) << name;
    EXPECT_TRUE(RowBytes(path, "") == before) << name;
    ExpectAllGeneral(path, "");
    EXPECT_EQ(Problems(path, ""), "") << name;
  }
}

// dbMain relabelled Korean keeps its General keys; the re-sort builds them
// again from the rows and must arrive at the very same bytes.
TEST(Resort, RebuiltKeysEqualTheGeneralKeysOfTheOriginal) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "dbMain.mdb");
  auto keys = [&](const std::string& p) {
    auto db = jet::Database::Open(p, kBrenvoPassword);
    int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    jet::Pager pager(fd, p, jet::kJet4PageSize, db->Header().encryptionKey);
    std::map<std::string, std::vector<std::string>> out;
    for (const auto& name : db->UserTables()) {
      const auto& t = db->Table(name);
      for (size_t k = 0; k < t.realIndexes.size(); ++k) {
        auto& v = out[name + "#" + std::to_string(k)];
        for (auto& e : jet::WalkIndex(pager, t.realIndexes[k].firstPage).entries)
          v.push_back(e.key + "@" + std::to_string(e.page) + ":" + std::to_string(e.row));
      }
    }
    return out;
  };
  auto original = keys(path);
  RelabelSortOrder(path, kBrenvoPassword, jet::kSortKorean);
  auto before = RowBytes(path, kBrenvoPassword);
  jet::ResortGeneral(path, kBrenvoPassword);
  EXPECT_TRUE(keys(path) == original);
  EXPECT_TRUE(RowBytes(path, kBrenvoPassword) == before);
  ExpectAllGeneral(path, kBrenvoPassword);
  EXPECT_EQ(Problems(path, kBrenvoPassword), "");
}

TEST(Resort, AValueWithoutAGeneralWeightChangesNothing) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
  {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    std::vector<std::optional<ado::Value>> r(12);
    r[0] = ado::Value(int64_t{1});
    r[1] = ado::Value(std::string("C1"));
    r[2] = ado::Value(std::string("가나"));
    w->Table("customer").Insert(r);
    w->Close();
  }
  RelabelSortOrder(path, kBrenvoPassword, jet::kSortKorean);
  // A key the General order has no weight for: an ideograph in a name,
  // patched into the stored row (same length in UTF-16 as 가).
  std::string bytes = ReadFile(path);
  std::string from("\x00\xAC", 2), to("\x22\x6F", 2);  // 가 -> 漢 (U+6F22)
  size_t at = bytes.find(from);
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, 2, to);
  WriteFile(path, bytes);
  std::string before = ReadFile(path);
  EXPECT_THROW(jet::ResortGeneral(path, kBrenvoPassword), BrenvoError);
  EXPECT_TRUE(ReadFile(path) == before);
}

TEST(Resort, KilledAtRandomMomentsTheFileOpensAndPassesTheCheck) {
  if (!fs::exists(FixturesDir() / "realworld")) GTEST_SKIP() << "realworld fixtures absent";
  TempDir dir;
  // A Korean file with enough rows that the re-sort takes a while: Access's
  // events and 20,000 more with Korean keys.
  std::string master = CopyReal(dir, "kr_icon001-APT_Sampledb_ACCEVENT.mdb");
  {
    auto w = jet::JetWriter::Open(master, "");
    auto& t = w->Table("TB_ACCESSEVENT");
    for (int i = 0; i < 20000; ++i) {
      std::vector<std::optional<ado::Value>> r(16);
      r[1] = ado::Value(std::string(i % 3 ? "1234567890" : "가나다라"));
      r[2] = ado::Value("2013" + std::to_string(1000 + i % 1000));
      r[3] = ado::Value(std::to_string(100000 + i));
      r[4] = ado::Value(int64_t{i % 7});
      r[5] = ado::Value(std::string(i % 2 ? "01" : "B7"));
      r[6] = ado::Value(int64_t{1});
      r[7] = ado::Value("카드" + std::to_string(i % 977));
      r[14] = ado::Value(std::string(i % 4 ? "1" : "0"));
      t.Insert(r);
    }
    w->Close();
  }
  ASSERT_EQ(Problems(master, ""), "");
  std::mt19937 rng(1042);
  int finished = 0, cut = 0;
  for (int round = 0; round < 10; ++round) {
    std::string path = (dir.path() / ("r" + std::to_string(round) + ".mdb")).string();
    fs::copy_file(master, path);
    const std::string kBrenvoPassword;  // the Korean file has none
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        jet::ResortGeneral(path, kBrenvoPassword);
      } catch (...) {
        _exit(2);
      }
      _exit(0);
    }
    usleep(std::uniform_int_distribution<int>(0, 700000)(rng));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
      EXPECT_EQ(WEXITSTATUS(status), 0) << "round " << round;
      ++finished;
    } else {
      ++cut;
    }
    EXPECT_EQ(Problems(path, kBrenvoPassword), "") << "round " << round;
    // Run again, it finishes what was cut off.
    jet::ResortGeneral(path, kBrenvoPassword);
    ExpectAllGeneral(path, kBrenvoPassword);
    EXPECT_EQ(Problems(path, kBrenvoPassword), "") << "round " << round;
    fs::remove(path);
  }
  EXPECT_GT(cut, 0);
  std::printf("resort kill loop: %d cut off, %d finished\n", cut, finished);
}

}  // namespace
}  // namespace brenvo::test
