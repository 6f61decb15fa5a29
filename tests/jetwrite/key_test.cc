// Index keys byte for byte, as General-order files carry them.
#include <gtest/gtest.h>

#include "db/jet/index_key.h"
#include "db/jet/jet_errors.h"

namespace brenvo::jet {
namespace {

std::string Hex(const std::vector<uint8_t>& b) {
  std::string s;
  char buf[4];
  for (uint8_t x : b) {
    std::snprintf(buf, sizeof buf, "%02x ", x);
    s += buf;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

std::string Key(uint8_t type, const ado::Value& v, bool ascending = true) {
  ColumnDef c;
  c.name = "k";
  c.type = type;
  std::vector<uint8_t> key;
  AppendKeySegment(c, ascending, v, key);
  return Hex(key);
}

TEST(IndexKeys, TextInTheGeneralSortOrder) {
  EXPECT_EQ(Key(kColText, std::string("main")), "7f 60 4a 59 62 01 00");
  EXPECT_EQ(Key(kColText, std::string("C00001")), "7f 4d 36 36 36 36 38 01 00");
  // Hangul, a space inside, trailing spaces dropped, leading ones kept.
  EXPECT_EQ(Key(kColText, std::string("주순 상회")), "7f 9e ec 97 94 07 96 37 ac a7 01 00");
  EXPECT_EQ(Key(kColText, std::string("서류봉투 일반형 ")), "7f 96 92 8e 88 92 62 a8 3b 07 9d 57 91 6f ac 30 01 00");
  EXPECT_EQ(Key(kColText, std::string("(주)가온문구")), "7f 14 9e ec 16 81 03 9b ff 90 83 82 71 01 00");
  // ㈜ weighs as 주 and leaves 0x0A in the extra section.
  EXPECT_EQ(Key(kColText, std::string("㈜세종기획")), "7f 9e ec 96 ae 9e 75 83 37 ac a8 01 0a 00");
  // Hyphen and apostrophe sort as absent and are recorded by position.
  EXPECT_EQ(Key(kColText, std::string("S19980105-000093")),
            "7f 6b 38 48 48 46 36 38 36 40 36 36 36 36 48 3c 01 01 01 01 80 2b 06 82 00");
  EXPECT_EQ(Key(kColText, std::string("Kim's 무역\\본점")),
            "7f 5c 59 60 6b 07 90 7f 9b c4 29 92 51 9d fe 01 01 01 01 80 13 06 80 00");
  // Upper and lower case weigh the same.
  EXPECT_EQ(Key(kColText, std::string("XQZ")), Key(kColText, std::string("xqz")));
}

TEST(IndexKeys, CharactersWithoutKnownWeightsAreRefused) {
  for (const char* s : {"따옴표", "빠른", "짜장", "café", "a.b", "x@y", "", "   ", "A㈜"}) {
    try {
      Key(kColText, std::string(s));
      ADD_FAILURE() << s;
    } catch (const BrenvoError& e) {
      EXPECT_EQ(e.number(), kErrNotCapable) << s;
    }
  }
}

TEST(IndexKeys, NumbersDatesAndDirections) {
  EXPECT_EQ(Key(kColLong, int64_t{1}), "7f 80 00 00 01");
  EXPECT_EQ(Key(kColLong, int64_t{-1}), "7f 7f ff ff ff");
  EXPECT_EQ(Key(kColInt, int64_t{2}), "7f 80 02");
  EXPECT_EQ(Key(kColByte, int64_t{255}), "7f ff");
  EXPECT_EQ(Key(kColLong, int64_t{1}, false), "80 7f ff ff fe");
  EXPECT_EQ(Key(kColLong, ado::Null{}), "00");
  EXPECT_EQ(Key(kColLong, ado::Null{}, false), "ff");
  EXPECT_EQ(Key(kColDouble, 1.0), "7f bf f0 00 00 00 00 00 00");
  EXPECT_EQ(Key(kColDouble, -1.0), "7f 40 0f ff ff ff ff ff ff");
  EXPECT_EQ(Key(kColDateTime, 0.0), "7f 80 00 00 00 00 00 00 00");
  EXPECT_EQ(Key(kColMoney, ado::Currency{1}), "7f 80 00 00 00 00 00 00 01");
  EXPECT_EQ(Key(kColBool, int64_t{1}), "00");
  EXPECT_EQ(Key(kColBool, int64_t{0}), "ff");
  EXPECT_EQ(Key(kColBool, int64_t{1}, false), "ff");
}

}  // namespace
}  // namespace brenvo::jet
