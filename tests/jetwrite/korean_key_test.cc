// Keys in the Korean sort order: every index entry Access wrote into the
// Korean-sorted real files, recomputed from its row's values; the
// characters those files do not show are refused by name.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "db/jet/database.h"
#include "db/jet/index_key.h"
#include "db/jet/jet_errors.h"
#include "support/test_support.h"

namespace brenvo::jet {
namespace {

using test::Hex;

std::vector<std::string> Split(const std::string& s, const std::string& sep) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t at; (at = s.find(sep, from)) != std::string::npos; from = at + sep.size())
    out.push_back(s.substr(from, at - from));
  out.push_back(s.substr(from));
  return out;
}

// A value of the listing: 'text' (quotes doubled inside), NULL or a number.
ado::Value ParseValue(const std::string& v) {
  if (v == "NULL") return ado::Null{};
  if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'') {
    std::string t;
    for (size_t i = 1; i + 1 < v.size(); ++i) {
      t += v[i];
      if (v[i] == '\'' && v[i + 1] == '\'') ++i;
    }
    return t;
  }
  return int64_t{std::stoll(v)};
}

std::string KoreanKey(const std::string& text, bool ascending = true) {
  ColumnDef c;
  c.name = "k";
  c.type = kColText;
  c.sortLcid = kSortKorean;
  std::vector<uint8_t> key;
  AppendKeySegment(c, ascending, text, key);
  return Hex(key);
}

TEST(KoreanKeys, EveryEntryOfTheKoreanSortedRealFiles) {
  auto dir = test::FixturesDir() / "realworld";
  std::ifstream in(dir / "korean-index-keys.tsv");
  if (!in) GTEST_SKIP() << "realworld fixtures absent";
  std::string line;
  std::getline(in, line);  // header
  std::map<std::string, std::unique_ptr<Database>> files;
  long n = 0;
  while (std::getline(in, line)) {
    auto f = Split(line, "\t");
    ASSERT_EQ(f.size(), 8u) << line;
    auto& db = files[f[0]];
    if (!db) db = Database::Open((dir / f[0]).string(), "");
    const TableDef& t = db->Table(f[1]);
    std::string values = f[6];
    if (values.size() >= 2 && values.front() == '"') values = values.substr(1, values.size() - 2);
    auto cols = Split(f[3], "+");
    auto vals = Split(values, " | ");
    ASSERT_EQ(cols.size(), vals.size()) << line;
    const RealIndex* ri = nullptr;
    for (const auto& l : t.indexes)
      if (l.name == f[2]) ri = &t.realIndexes[l.realIndex];
    ASSERT_NE(ri, nullptr) << line;
    std::vector<uint8_t> key;
    for (size_t i = 0; i < cols.size(); ++i) {
      const ColumnDef* c = t.FindColumn(cols[i]);
      ASSERT_NE(c, nullptr) << line;
      if (c->type == kColText) EXPECT_EQ(ColumnTextOrder(*c), TextOrder::Korean);
      AppendKeySegment(*c, ri->columns[i].ascending, ParseValue(vals[i]), key);
    }
    EXPECT_EQ(Hex(key), f[7]) << line;
    ++n;
  }
  EXPECT_EQ(n, 7550);
}

TEST(KoreanKeys, RulesTheFilesShow) {
  // Letters move up by 0x72 and lose their case; digits, ':' and '_' keep
  // their General weights; Hangul moves down by 0x37 in its first byte.
  EXPECT_EQ(KoreanKey("korea"), "7fced6dbc3bc0100");
  EXPECT_EQ(KoreanKey("4A462997"), KoreanKey("4a462997"));
  EXPECT_EQ(KoreanKey("AZ"), "7fbcea0100");
  EXPECT_EQ(KoreanKey("0_9:"), "7f362b0348200100");
  EXPECT_EQ(KoreanKey("카드번호"), "7f6d7a52fe5adf75530100");
  EXPECT_EQ(KoreanKey(""), "7f0100");
  // A control character sorts as absent, recorded by position.
  EXPECT_EQ(KoreanKey("\x03" "DirData"), "7fc1cbdbc1bcdfbc010101018007060500");
  // Inferred from the General layout: the first and last syllables, a jamo.
  EXPECT_EQ(KoreanKey("가힣"), "7f4a0376c00100");
  EXPECT_EQ(KoreanKey("ㄱ"), "7f4a020100");
  // Hangul sorts between the digits and the Latin letters.
  EXPECT_LT(KoreanKey("9"), KoreanKey("가"));
  EXPECT_LT(KoreanKey("힣"), KoreanKey("A"));
}

TEST(KoreanKeys, CharactersNoFileShowsAreRefusedByName) {
  for (const char* text : {"a b", "abc ", "(주)", "漢字", "é", "a-b", "㈜", "ｈ", "\x01"}) {
    try {
      KoreanKey(text);
      ADD_FAILURE() << "no refusal for " << text;
    } catch (const BrenvoError& e) {
      EXPECT_NE(e.description().find("Korean sort order"), std::string::npos) << e.description();
      EXPECT_NE(e.description().find("U+"), std::string::npos) << e.description();
    }
  }
  try {
    KoreanKey("홍 길동");
    ADD_FAILURE();
  } catch (const BrenvoError& e) {
    EXPECT_NE(e.description().find("' ' (U+0020)"), std::string::npos) << e.description();
  }
}

TEST(KoreanKeys, OtherSortOrdersAreRefused) {
  EXPECT_EQ(TextOrderOf(1042, 0), TextOrder::Korean);
  EXPECT_EQ(TextOrderOf(1042, 1), TextOrder::Unsupported);
  EXPECT_EQ(TextOrderOf(2052, 0), TextOrder::Unsupported);
  ColumnDef c;
  c.name = "k";
  c.type = kColText;
  c.sortLcid = 2052;
  std::vector<uint8_t> key;
  EXPECT_THROW(AppendKeySegment(c, true, std::string("1"), key), BrenvoError);
}

}  // namespace
}  // namespace brenvo::jet
