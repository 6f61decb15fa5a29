// Damaged files end in an error, never a crash, a hang or a foreign
// exception: truncation, zeroed and random pages, pointers out of range and
// chains that loop. The damage is done to in-memory copies of the shared
// files.
#include <gtest/gtest.h>

#include <random>

#include "db/jet/data_page.h"
#include "db/jet/database.h"
#include "db/jet/jet_errors.h"
#include "db/jet/long_value.h"
#include "db/jet/row.h"
#include "db/jet/table_scan.h"
#include "jet_read_all.h"
#include "jet_test_util.h"

namespace brenvo::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Load(const std::filesystem::path& p) {
  std::string s = ReadFile(p);
  return Bytes(s.begin(), s.end());
}

constexpr size_t kPage = 4096;

TEST(JetDamage, TruncatedFiles) {
  REQUIRE_FIXTURES();
  Bytes whole = Load(BrenvoFixtures() / "dbMain.mdb");
  ASSERT_TRUE(ReadAllJet(whole, "wq3518").ok);
  std::mt19937 rng(7);
  std::vector<size_t> cuts = {0, 1, 100, kPage - 1, kPage, kPage + 1, 2 * kPage, 3 * kPage + 17, whole.size() - 1,
                              whole.size() - kPage};
  for (int i = 0; i < 12; ++i) cuts.push_back(rng() % whole.size());
  for (size_t cut : cuts) {
    Bytes b(whole.begin(), whole.begin() + static_cast<long>(cut));
    ReadAllResult r = ReadAllJet(b, "wq3518");
    // Losing only the last page may lose nothing that is in use.
    if (cut < whole.size() - kPage) {
      EXPECT_FALSE(r.ok) << "cut at " << cut;
      EXPECT_EQ(r.errorNumber, jet::kErrFail) << "cut at " << cut;
    }
  }
}

TEST(JetDamage, ZeroedAndRandomPages) {
  REQUIRE_FIXTURES();
  Bytes whole = Load(JetCompat() / "overflowTestV2000.mdb");
  size_t pages = whole.size() / kPage;
  int failures = 0;
  for (size_t p = 0; p < pages; ++p) {
    Bytes b = whole;
    std::fill(b.begin() + static_cast<long>(p * kPage), b.begin() + static_cast<long>((p + 1) * kPage), 0);
    failures += !ReadAllJet(b, "").ok;
  }
  EXPECT_GT(failures, 3);  // the header, the catalogue, the table: at the least

  std::mt19937 rng(11);
  Bytes memo = Load(BrenvoFixtures() / "dbMain.mdb");
  for (int round = 0; round < 60; ++round) {
    Bytes b = round % 2 ? whole : memo;
    size_t n = b.size() / kPage;
    size_t p = 1 + rng() % (n - 1);
    if (round % 3 == 0) {
      for (size_t i = 0; i < kPage; ++i) b[p * kPage + i] = static_cast<uint8_t>(rng());
    } else {
      // A few flipped bytes keep the page type and most structure: the
      // harder case for the checks.
      for (int k = 0; k < 8; ++k) b[p * kPage + rng() % kPage] ^= static_cast<uint8_t>(1 + rng() % 255);
    }
    ReadAllJet(b, round % 2 ? "" : "wq3518");
  }
}

// The table-definition page of a table, found through the catalogue.
uint32_t DefPage(const Bytes& file, const std::string& table, const std::string& password) {
  auto db = jet::Database::OpenSource(jet::MakeMemorySource(file), "x.mdb", password);
  return db->Table(table).page;
}

TEST(JetDamage, PointersOutOfRangeAndLoops) {
  REQUIRE_FIXTURES();
  Bytes file = Load(JetCompat() / "overflowTestV2000.mdb");
  uint32_t def = DefPage(file, "Table1", "");

  // The owned-pages map names a page far beyond the end of the file.
  Bytes b = file;
  jet::Put32(&b[def * kPage + 55], 0xFFFFFF00u);
  ReadAllResult r = ReadAllJet(b, "");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.description.find("beyond the end"), std::string::npos) << r.description;

  // The definition's continuation points back to itself.
  b = file;
  jet::Put32(&b[def * kPage + 4], def);
  r = ReadAllJet(b, "");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.description.find("loops"), std::string::npos) << r.description;

  // An overflow slot that points at itself.
  b = file;
  bool found = false;
  for (size_t p = 1; p < b.size() / kPage && !found; ++p) {
    uint8_t* pg = &b[p * kPage];
    if (pg[0] != jet::kPageData || jet::Get32(pg + 4) != def) continue;
    uint16_t n = jet::Get16(pg + 12);
    for (uint16_t i = 0; i < n && !found; ++i) {
      uint16_t off = jet::Get16(pg + 14 + 2 * i);
      if ((off & jet::kSlotLookup) && !(off & jet::kSlotDeleted)) {
        jet::Put32(pg + (off & jet::kSlotOffsetMask), jet::RowPointer{static_cast<uint32_t>(p), static_cast<uint8_t>(i)}.Raw());
        found = true;
      }
    }
  }
  ASSERT_TRUE(found) << "no overflow row in the fixture";
  r = ReadAllJet(b, "");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.description.find("loop"), std::string::npos) << r.description;
}

TEST(JetDamage, LongValueChainThatLoops) {
  REQUIRE_FIXTURES();
  Bytes file = Load(BrenvoFixtures() / "dbMain.mdb");
  auto db = jet::Database::OpenSource(jet::MakeMemorySource(file), "x.mdb", "wq3518");
  const jet::TableDef& t = db->Table("customer");
  const jet::ColumnDef* memo = t.FindColumn("memo");
  ASSERT_NE(memo, nullptr);
  jet::TableScan scan(db->File(), t);
  jet::RowBytes row;
  std::optional<jet::RowPointer> first;
  while (!first && scan.Next(row)) {
    jet::RowReader rr(row.bytes, t);
    if (!rr.HasValue(*memo)) continue;
    jet::ByteView f = rr.Bytes(*memo);
    if (f.size >= jet::kLvalHeader && f.data[3] == jet::kLvalChain) first = jet::RowPointer::FromRaw(jet::Get32(f.data + 4));
  }
  ASSERT_TRUE(first) << "no chained memo in dbMain.mdb";
  // The first piece's next pointer is made to name the piece itself.
  Bytes b = file;
  uint8_t* pg = &b[first->page * kPage];
  uint16_t off = jet::Get16(pg + 14 + 2 * first->row) & jet::kSlotOffsetMask;
  jet::Put32(pg + off, first->Raw());
  ReadAllResult r = ReadAllJet(b, "wq3518");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.errorNumber, jet::kErrFail);
  EXPECT_NE(r.description.find("loops"), std::string::npos) << r.description;
}

}  // namespace
}  // namespace brenvo::test
