// Writing into real files the way Access lays them out: a table whose
// columns are all fixed-length (no variable-column offsets in its rows),
// fixed-length text, the global usage map; and taking turns with the other
// Jet library on one file.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "db/jet/byte_order.h"
#include "db/jet/check.h"
#include "db/jet/data_page.h"
#include "db/jet/database.h"
#include "db/jet/jet_errors.h"
#include "db/jet/table_scan.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"
#include "tools/brenvo-mdb/csv_import.h"

namespace brenvo::test {
namespace {

namespace fs = std::filesystem;

std::string CopyRealWorld(const TempDir& dir, const std::string& name) {
  fs::path to = dir.path() / name;
  fs::copy_file(FixturesDir() / "realworld" / name, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
  return to.string();
}

// The bytes of every live row on the table's data pages, in scan order.
std::vector<std::string> StoredRows(const std::string& path, const std::string& table) {
  auto db = jet::Database::Open(path, "");
  const jet::TableDef& t = db->Table(table);
  std::string file = ReadFile(path);
  std::vector<std::string> out;
  for (uint32_t p = 1; p < file.size() / 4096; ++p) {
    const uint8_t* pg = reinterpret_cast<const uint8_t*>(file.data()) + size_t{p} * 4096;
    if (pg[0] != jet::kPageData || jet::Get32(pg + 4) != t.page) continue;
    jet::ByteView pv{pg, 4096};
    for (uint16_t s = 0; s < jet::SlotCount(pv); ++s) {
      jet::RowSlot sl = jet::ReadSlot(pv, s);
      if (!sl.deleted) out.emplace_back(reinterpret_cast<const char*>(pg + sl.start), sl.length);
    }
  }
  return out;
}

const char* kNinone = "kr_YunHeeCheol-jyl_Debug_ninone.mdb";

TEST(AccessRows, AFixedOnlyTableIsRewrittenByteForByteAsAccessStoredIt) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyRealWorld(dir, kNinone);
  std::vector<std::string> accessRows = StoredRows(path, "ninone");
  ASSERT_EQ(accessRows.size(), 10u);
  const std::string csv = ReadFile(FixturesDir() / "realworld" / "expected" / "kr_YunHeeCheol-jyl_Debug_ninone" /
                                   "ninone.csv");
  {
    auto w = jet::JetWriter::Open(path, "");
    w->Table("ninone").DeleteAll();
    std::istringstream in(csv);
    EXPECT_EQ(mdb::ImportCsv(*w, "ninone", in), 10u);
    w->Close();
  }
  EXPECT_EQ(ExportWithOurReader(path, "ninone", ""), csv);
  EXPECT_EQ(CheckFaults(path, ""), "");
  // 2 + 42 fixed bytes + a one-byte null mask: no offsets, no count.
  EXPECT_EQ(StoredRows(path, "ninone"), accessRows);
}

TEST(AccessRows, FixedLengthTextTakesExactlyItsSize) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyRealWorld(dir, kNinone);
  auto w = jet::JetWriter::Open(path, "");
  jet::TableWriter& t = w->Table("ninone");
  // no, grad, class, co2, temp, humi, dt, lev
  auto row = [](const char* co2) {
    std::vector<std::optional<ado::Value>> r(8);
    r[1] = ado::Value(std::string("1"));
    r[3] = ado::Value(std::string(co2));
    r[7] = ado::Value(std::string("3"));
    return r;
  };
  try {
    t.Insert(row("950"));
    ADD_FAILURE() << "a short value went into a fixed-length text column";
  } catch (const BrenvoError& e) {
    EXPECT_NE(e.description().find("fixed-length text column 'co2' takes exactly 4 characters"), std::string::npos)
        << e.description();
  }
  try {
    t.Insert(row("12345"));
    ADD_FAILURE() << "a long value went into a fixed-length text column";
  } catch (const BrenvoError& e) {
    EXPECT_NE(e.description().find("too small"), std::string::npos) << e.description();
  }
  t.Insert(row("0950"));
  w->Close();
  std::string out = ExportWithOurReader(path, "ninone", "");
  EXPECT_NE(out.find("\r\n11,1,,0950,,,,3\r\n"), std::string::npos) << out;
  EXPECT_EQ(CheckFaults(path, ""), "");
}

struct GlobalMap {
  uint32_t first = 0;
  uint64_t bits = 0;
  std::vector<bool> isFree;  // by page, from first
};

GlobalMap ReadGlobalMap(const std::string& path) {
  std::string f = ReadFile(path);
  jet::ByteView pv{reinterpret_cast<const uint8_t*>(f.data()) + 4096, 4096};
  jet::RowSlot s = jet::ReadSlot(pv, 0);
  GlobalMap m;
  EXPECT_EQ(pv.data[s.start], 0) << "inline map";
  m.first = jet::Get32(pv.data + s.start + 1);
  m.bits = (s.length - 5u) * 8u;
  for (uint64_t i = 0; i < m.bits; ++i) m.isFree.push_back(pv.data[s.start + 5 + i / 8] & (1u << (i % 8)));
  return m;
}

// The map covers the file from page 0 as Access keeps it, and no page a
// table or index owns is marked free.
void ExpectMapLikeAccess(const std::string& path) {
  GlobalMap m = ReadGlobalMap(path);
  uint64_t pages = std::filesystem::file_size(path) / 4096;
  EXPECT_EQ(m.first, 0u);
  EXPECT_GE(m.bits, pages);
  EXPECT_EQ(m.bits % 32, 0u);
  for (uint64_t p = pages; p < m.bits; ++p) EXPECT_TRUE(m.isFree[p]) << "page " << p << " past the end";
  jet::CheckReport r = jet::CheckDatabase(path, kBrenvoPassword);
  std::string faults;
  for (const auto& f : r.faults) faults += f + "\n";
  for (const auto& n : r.notes)
    if (n.find("marked free") != std::string::npos) faults += n + "\n";
  EXPECT_EQ(faults, "");
}

TEST(GlobalUsageMap, GrowsWithTheFileAsAccessKeepsIt) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
  ASSERT_EQ(ReadGlobalMap(path).bits, 512u);
  for (const char* table : {"sale_m", "sale_d", "taxlist_d"}) {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    std::istringstream in(ExpectedCsv(table));
    mdb::ImportCsv(*w, table, in);
    w->Close();
  }
  ASSERT_GT(std::filesystem::file_size(path) / 4096, 512u);
  ExpectMapLikeAccess(path);
  EXPECT_EQ(ExportWithOurReader(path, "sale_d"), ExpectedCsv("sale_d"));
}

// The other library slid the map's window to start at page 760 and marked
// pages 760-1015 free, which our tables own. Our writer appends into that
// file and replaces a table: afterwards the map covers the whole file from page 0 again, no
// owned page is free, and every row of every table reads.
TEST(GlobalUsageMap, OurWriterTakesTurnsWithTheOtherLibrary) {
  REQUIRE_FIXTURES();
  TempDir dir;
  fs::path to = dir.path() / "turns.mdb";
  fs::copy_file(FixturesDir() / "interop" / "filled-then-appended-by-other-writer.mdb", to);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
  const std::string path = to.string();
  ASSERT_EQ(ReadGlobalMap(path).first, 760u);
  {
    jet::CheckReport before = jet::CheckDatabase(path, kBrenvoPassword);
    EXPECT_TRUE(before.Ok());
    EXPECT_FALSE(before.notes.empty());
  }
  // A row appended; then, the copy run's way, a table emptied and filled anew.
  {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    std::istringstream row("dbid,ver\r\nappended,13\r\n");
    EXPECT_EQ(mdb::ImportCsv(*w, "dbversion", row), 1u);
    w->Close();
  }
  ExpectMapLikeAccess(path);
  auto w = jet::JetWriter::Open(path, kBrenvoPassword);
  std::string csv = ExpectedCsv("cashbook");
  w->Table("cashbook").DeleteAll();
  std::istringstream in(csv);
  EXPECT_EQ(mdb::ImportCsv(*w, "cashbook", in), 3000u);
  w->Close();
  ExpectMapLikeAccess(path);

  auto db = jet::Database::Open(path, kBrenvoPassword);
  long rows = 0;
  for (const auto& t : db->UserTables()) {
    EXPECT_NO_THROW(ExportWithOurReader(path, t)) << t;
    jet::TableScan scan(db->File(), db->Table(t));
    for (jet::RowBytes rb; scan.Next(rb);) ++rows;
  }
  EXPECT_EQ(rows, 36525 + 1);
  EXPECT_EQ(ExportWithOurReader(path, "cashbook"), csv);
  // A table the other library appended to and we did not touch.
  std::string customer = ExportWithOurReader(path, "customer");
  EXPECT_EQ(customer.substr(0, ExpectedCsv("customer").size()), ExpectedCsv("customer"));
}

}  // namespace
}  // namespace brenvo::test
