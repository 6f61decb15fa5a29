// Index keys byte for byte, as General-order files carry them.
#include <gtest/gtest.h>

#include "db/jet/index_key.h"
#include "db/jet/jet_errors.h"
#include "support/test_support.h"

namespace brenvo::jet {
namespace {

using test::Hex;

std::string Key(uint8_t type, const ado::Value& v, bool ascending = true) {
  ColumnDef c;
  c.name = "k";
  c.type = type;
  std::vector<uint8_t> key;
  AppendKeySegment(c, ascending, v, key);
  return Hex(key, " ");
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

TEST(IndexKeys, PunctuationAccentsAndTheRestOfHangul) {
  // Punctuation weighs like a letter, below the digits.
  EXPECT_EQ(Key(kColText, std::string("a.b")), "7f 4a 1c 4c 01 00");
  EXPECT_EQ(Key(kColText, std::string("x@y_z")), "7f 75 26 76 2b 03 78 01 00");
  EXPECT_EQ(Key(kColText, std::string("A&B Co., Ltd.")), "7f 4a 12 4c 07 4d 64 1c 1a 07 5e 6d 4f 1c 01 00");
  // An accented letter weighs as its base letter; the accent section holds
  // 0x02 for each plain letter before it, then its accent byte.
  EXPECT_EQ(Key(kColText, std::string("Café")), "7f 4d 4a 53 51 01 02 02 02 0e 00");
  // Plain letters after the last accent leave no placeholders.
  EXPECT_EQ(Key(kColText, std::string("Ñandú sa")), "7f 62 4a 62 4f 6f 07 6b 4a 01 19 02 02 02 0e 00");
  // ß weighs as "ss", Æ as "ae": the same key as the spelled-out form.
  EXPECT_EQ(Key(kColText, std::string("Straße")), Key(kColText, std::string("Strasse")));
  EXPECT_EQ(Key(kColText, std::string("Æon")), Key(kColText, std::string("aeon")));
  // Each absent character is placed by the number of weighed characters
  // before it, and follows the accent section.
  EXPECT_EQ(Key(kColText, std::string("a-b-c")), "7f 4a 4c 4d 01 01 01 01 80 0b 06 82 80 0f 06 82 00");
  EXPECT_EQ(Key(kColText, std::string("é-x")), "7f 51 75 01 0e 01 01 01 80 0b 06 82 00");
  // ㄸ ㅃ ㅉ, and ㈜ after other characters.
  EXPECT_EQ(Key(kColText, std::string("따빠짜")), "7f 8a 57 93 c0 9f d1 01 00");
  EXPECT_EQ(Key(kColText, std::string("띻")), "7f 8c a6 01 00");
  EXPECT_EQ(Key(kColText, std::string("A㈜")), "7f 4a 9e ec 01 02 0a 00");
  // Dashes sort as absent; typographic quotes, the ellipsis, ※ and the
  // currency signs weigh.
  EXPECT_EQ(Key(kColText, std::string("A–B—C")), "7f 4a 4c 4d 01 01 01 01 80 0b 06 89 80 0f 06 8b 00");
  EXPECT_EQ(Key(kColText, std::string("“OK”…")), "7f 2b 3b 64 5c 2b 3c 34 b9 01 00");
  EXPECT_EQ(Key(kColText, std::string("※ 10€ ₩5")), "7f 34 bc 07 38 36 35 a1 07 34 c9 40 01 00");
  // Full-width ASCII carries the ASCII codes; CJK brackets weigh, the wave
  // dash sorts as absent.
  EXPECT_EQ(Key(kColText, std::string("（주）ＡＢ～1")), Key(kColText, std::string("(주)AB~1")));
  EXPECT_EQ(Key(kColText, std::string("「가」、〜￦")), "7f 2b 59 81 03 2b 5b 1b 03 34 c9 01 01 01 01 80 17 06 8d 00");
  // Compatibility jamo, and enclosed Hangul recording their form like an accent.
  EXPECT_EQ(Key(kColText, std::string("ㄱㅏ ㆎ")), "7f 81 02 9a d6 07 9b 18 01 00");
  EXPECT_EQ(Key(kColText, std::string("㉠㈎x㉮㈛")), "7f 81 02 81 03 75 81 03 ab 71 01 0c 0a 02 0c 0a 00");
  EXPECT_EQ(Key(kColText, std::string("㉭")), "7f ab 70 01 0c 00");
  // Descending: inverted up to the terminator, then one more 0x00.
  EXPECT_EQ(Key(kColText, std::string("ab"), false), "80 b5 b3 fe ff 00");
  EXPECT_EQ(Key(kColText, std::string("é"), false), "80 ae fe f1 ff 00");
}

TEST(IndexKeys, MixedTextSortsInTheGeneralOrder) {
  // Each text here sorts after the one before it; byte order of the keys
  // must say the same. Code-point order would not: "_" and "^" come before
  // "+", and accents only break ties between otherwise equal texts.
  const std::vector<std::string> ordered = {
      " !",  "!",  "&",   "(",   ".",    "/",  ":",     "?",    "@",    "[",    "\\", "]",
      "^",   "_",  "+",   "<",   "0",    "1a", "9",     "a",    "á",    "à",    "â",    "ä",
      "ab",  "a–b", "a—c", "b",  "Ça",  "coop", "co-op", "coopa", "e", "é",   "ez",   "z",    "ㄱ",   "가",
      "㈎",  "㉮", "각",  "ㄲ",  "까",   "따",
      "땅",  "빠", "짜",  "힣"};
  for (size_t i = 1; i < ordered.size(); ++i) {
    ColumnDef c;
    c.name = "k";
    c.type = kColText;
    std::vector<uint8_t> a, b;
    AppendKeySegment(c, true, ordered[i - 1], a);
    AppendKeySegment(c, true, ordered[i], b);
    EXPECT_LT(a, b) << ordered[i - 1] << " / " << ordered[i];
    std::vector<uint8_t> da, db;
    AppendKeySegment(c, false, ordered[i - 1], da);
    AppendKeySegment(c, false, ordered[i], db);
    EXPECT_GT(da, db) << "descending " << ordered[i - 1] << " / " << ordered[i];
  }
}

TEST(IndexKeys, CharactersWithoutKnownWeightsAreRefused) {
  // Conjoining jamo, CJK ideographs, compatibility and full-width forms,
  // emoji, the line separator; the all-space text, whose key is not
  // confirmed.
  for (const char* s : {"\u1100\u1161", "漢字", "5㎡", "a\u3000b", "々", "ok😀", "a\u2028b", "   "}) {
    try {
      Key(kColText, std::string(s));
      ADD_FAILURE() << s;
    } catch (const BrenvoError& e) {
      EXPECT_EQ(e.number(), kErrNotCapable) << s;
    }
  }
}

TEST(IndexKeys, TheEmptyTextHasNoWeights) {
  // As the Korean- and Chinese-sorted files store it; below every other text.
  EXPECT_EQ(Key(kColText, std::string()), "7f 01 00");
  EXPECT_LT(Key(kColText, std::string()), Key(kColText, std::string("\x01")));
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
