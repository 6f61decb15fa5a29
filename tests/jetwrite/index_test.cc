// Indexes after many inserts in random key order, emptying, reopening and
// refused duplicates: every index walks in key order and names every row
// exactly once, with the key its row's values give (the check verifies all
// of that).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "db/jet/check.h"
#include "db/jet/jet_errors.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"

namespace brenvo::test {
namespace {

// sale_m: Long primary key, unique Text sale_no, Date/Time and Long
// non-unique indexes, a Memo column.
std::vector<std::optional<ado::Value>> SaleRow(int id, std::mt19937& rng) {
  std::vector<std::optional<ado::Value>> v(8);
  v[0] = int64_t{id};
  v[1] = "S" + std::to_string(20000000 + id % 1000) + "-" + std::to_string(100000 + id);
  // Dates before 1899-12-30 are negative doubles, whose keys invert every bit.
  int year = 1850 + static_cast<int>(rng() % 180);
  v[2] = ado::DateTime{year, 1 + static_cast<int>(rng() % 12), 1 + static_cast<int>(rng() % 28),
                       static_cast<int>(rng() % 24), static_cast<int>(rng() % 60), 0};
  if (id % 7 != 0) v[3] = int64_t{static_cast<int>(rng() % 50) - 10};  // NULLs, negatives, duplicates
  v[4] = (static_cast<double>(rng() % 2000000) - 1000000.0) / 100.0;
  if (id % 97 == 0) v[7] = std::string(3000 + id % 5000, static_cast<char>('a' + id % 26));
  return v;
}

std::vector<int> Shuffled(int from, int to, std::mt19937& rng) {
  std::vector<int> ids;
  for (int i = from; i < to; ++i) ids.push_back(i);
  std::shuffle(ids.begin(), ids.end(), rng);
  return ids;
}

TEST(Indexes, RandomOrderInsertsEmptyingAndReopeningKeepEveryIndexSound) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "dbMain.mdb");
  std::mt19937 rng(1234);
  {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("sale_m");
    t.DeleteAll();
    for (int id : Shuffled(1, 3001, rng)) t.Insert(SaleRow(id, rng));
    w->Commit();
    t.DeleteAll();
    for (int id : Shuffled(5000, 8000, rng)) t.Insert(SaleRow(id, rng));
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path), "");
  {
    // A second session starts from the committed entries.
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("sale_m");
    EXPECT_EQ(t.RowCount(), 3000u);
    for (int id : Shuffled(2000, 5000, rng)) t.Insert(SaleRow(id, rng));
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path), "");
  jet::CheckReport r = jet::CheckDatabase(path, kBrenvoPassword);
  auto db = jet::Database::Open(path, kBrenvoPassword);
  EXPECT_EQ(db->Table("sale_m").rowCount, 6000u);
  // Four indexes over 6000 rows, beside the other tables' entries.
  EXPECT_GE(r.indexEntries, 4 * 6000);
}

TEST(Indexes, ADuplicateInAUniqueIndexIsRefusedAndLeavesTheFileUnchanged) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
  std::mt19937 rng(7);
  {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    for (int id : Shuffled(1, 500, rng)) w->Table("sale_m").Insert(SaleRow(id, rng));
    w->Close();
  }
  std::string before = ReadFile(path);
  {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("sale_m");
    // The same primary key; then a new key with an existing sale_no.
    auto dupKey = SaleRow(10, rng);
    auto dupNo = SaleRow(10, rng);
    dupNo[0] = int64_t{9999};
    for (auto* row : {&dupKey, &dupNo}) {
      try {
        t.Insert(*row);
        ADD_FAILURE() << "duplicate stored";
      } catch (const BrenvoError& e) {
        EXPECT_EQ(e.number(), jet::kErrFail);
        EXPECT_NE(e.description().find("duplicate values"), std::string::npos);
      }
    }
    // A NULL sale_no is no duplicate: unique indexes allow many NULLs.
    auto nullNo = SaleRow(10000, rng);
    nullNo[1] = std::nullopt;
    EXPECT_NO_THROW(t.Insert(nullNo));
    nullNo[0] = int64_t{10001};
    EXPECT_NO_THROW(t.Insert(nullNo));
  }
  EXPECT_EQ(CheckFaults(path), "");
  auto db = jet::Database::Open(path, kBrenvoPassword);
  EXPECT_EQ(db->Table("sale_m").rowCount, 501u);

  // Refused rows alone write nothing at all.
  TempDir dir2;
  std::string path2 = (dir2.path() / "b.mdb").string();
  WriteFile(path2, before);
  {
    auto w = jet::JetWriter::Open(path2, kBrenvoPassword);
    EXPECT_THROW(w->Table("sale_m").Insert(SaleRow(10, rng)), BrenvoError);
    w->Close();
  }
  EXPECT_TRUE(ReadFile(path2) == before);
}

}  // namespace
}  // namespace brenvo::test
