// Names with punctuation, accents and every Hangul initial go into the
// customer table's text indexes: the file passes the check (which walks each
// index in key order, finds every row and recomputes every key), and the
// rows read back unchanged through our reader and through mdbtools.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "db/jet/check.h"
#include "db/jet/database.h"
#include "db/jet/jet_errors.h"
#include "db/jet/writer.h"
#include "tools/brenvo-mdb/csv_import.h"
#include "tests/jetwrite/write_support.h"

namespace brenvo::test {
namespace {

using Row = std::vector<std::optional<ado::Value>>;

const char* const kNames[] = {
    "A&B Co., Ltd.",  "(주)따뜻한 세상", "빠른배송#1",     "짜장@본점",      "Kim's 무역/수출",
    "Café Ñandú",     "Müller + Söhne",   "Straße 12",       "x_y:z",          "O'Brien-Smith",
    "쌍둥이 & 뽀로로", "㈜한빛",          "상사 ㈜가나",     "¿Qué?",          "50% 할인!",
    "£ & ¥",          "co-op",            "coop",            "Æsir; Øresund",  "tab\there",
    "ㄱㄴㄷ 순",       "㉠ 항목 ㉡",       "㈎ 가나다",       "“대표” 김–이",    "※ 1,000₩…",
    "（주）한국～",      "「특가」 〔신상〕",
};

Row Customer(int id, const std::string& code, const std::string& name) {
  Row r(12);
  r[0] = ado::Value(int64_t{id});
  r[1] = ado::Value(code);
  r[2] = ado::Value(name);
  return r;
}

TEST(TextKeys, PunctuationLatin1AndHangulRowsKeepTheIndexesSound) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
  // Every name several times over, with a varying suffix, in random order.
  std::vector<std::pair<int, std::string>> rows;
  int id = 1;
  for (int round = 0; round < 15; ++round)
    for (const char* n : kNames) {
      std::string name = n;
      if (round % 3 == 1) name += " " + std::to_string(round);
      if (round % 3 == 2) name = "ä-" + name;
      rows.emplace_back(id++, name);
    }
  std::mt19937 rng(77);
  std::shuffle(rows.begin(), rows.end(), rng);
  {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("customer");
    for (const auto& [i, name] : rows) t.Insert(Customer(i, "C" + std::to_string(i) + ".é", name));
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path), "");
  jet::CheckReport report = jet::CheckDatabase(path, kBrenvoPassword);
  EXPECT_TRUE(report.notes.empty()) << report.notes.front();

  // Our reader: the rows in the order they were appended.
  std::istringstream ours(ExportWithOurReader(path, "customer"));
  std::vector<std::optional<std::string>> rec;
  ASSERT_TRUE(mdb::ReadCsvRecord(ours, rec));  // the column names
  for (const auto& [i, name] : rows) {
    ASSERT_TRUE(mdb::ReadCsvRecord(ours, rec));
    ASSERT_GE(rec.size(), 3u);
    EXPECT_EQ(rec[0].value_or(""), std::to_string(i));
    EXPECT_EQ(rec[1].value_or(""), "C" + std::to_string(i) + ".é");
    EXPECT_EQ(rec[2].value_or(""), name);
  }
  EXPECT_FALSE(mdb::ReadCsvRecord(ours, rec));

  if (!HaveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
  auto recs = ExportWithMdbtools(path, "customer");
  ASSERT_EQ(recs.size(), rows.size() + 1);
  for (size_t k = 0; k < rows.size(); ++k) {
    ASSERT_GE(recs[k + 1].size(), 3u);
    EXPECT_EQ(recs[k + 1][0].value_or(""), std::to_string(rows[k].first));
    EXPECT_EQ(recs[k + 1][2].value_or(""), rows[k].second) << k;
  }
}

TEST(TextKeys, TextsWithEqualKeysCollideInAUniqueIndex) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
  {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("customer");
    t.Insert(Customer(1, "STRASSE", "first"));
    t.Insert(Customer(2, "straße-1", "second"));
    // ß weighs as "ss" and case does not count; the hyphen does.
    for (const auto& [code, n] : {std::pair{"Straße", 3}, std::pair{"strasse", 4}}) {
      try {
        t.Insert(Customer(n, code, "dup"));
        ADD_FAILURE() << code << " stored";
      } catch (const BrenvoError& e) {
        EXPECT_NE(e.description().find("duplicate values"), std::string::npos) << code;
      }
    }
    w->Close();
  }
  auto db = jet::Database::Open(path, kBrenvoPassword);
  EXPECT_EQ(db->Table("customer").rowCount, 2u);
  db.reset();
  EXPECT_EQ(CheckFaults(path), "");
}

}  // namespace
}  // namespace brenvo::test
