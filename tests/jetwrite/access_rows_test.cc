// Writing into tables of real Access files the way Access lays out their
// rows: a table whose columns are all fixed-length (no variable-column
// offsets in its rows), fixed-length text.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "db/jet/byte_order.h"
#include "db/jet/data_page.h"
#include "db/jet/database.h"
#include "db/jet/jet_errors.h"
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

}  // namespace
}  // namespace brenvo::test
