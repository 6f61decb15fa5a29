#include <gtest/gtest.h>

#include "util/korean.h"

namespace brenvo {
namespace {

TEST(ByteWidth, CountsCp949Bytes) {
  EXPECT_EQ(ByteLen(""), 0);
  EXPECT_EQ(ByteLen("ABC"), 3);
  EXPECT_EQ(ByteLen("고객"), 4);
  EXPECT_EQ(ByteLen("㈜대한"), 6);  // U+3231 is double-byte in CP949
  EXPECT_EQ(ByteLen("a😀b"), 3);    // not encodable: counts 1
}

TEST(ByteWidth, ConvertsBothWays) {
  std::string cp = Utf8ToCp949("가A");
  ASSERT_EQ(cp.size(), 3u);
  EXPECT_EQ(static_cast<unsigned char>(cp[0]), 0xB0);
  EXPECT_EQ(static_cast<unsigned char>(cp[1]), 0xA1);
  EXPECT_EQ(Cp949ToUtf8(cp), "가A");
}

TEST(Padding, AsciiPadsToWidth) {
  EXPECT_EQ(rpad("ABC", 6, "."), "ABC...");
  EXPECT_EQ(LPad("ABC", 6, "."), "...ABC");
  EXPECT_EQ(rpad("ABC", 3, "."), "ABC");
  EXPECT_EQ(LPad("ABC", 3, "."), "ABC");
  EXPECT_EQ(rpad("ABC", 5, ".-"), "ABC..");  // only the first character fills
}

TEST(Padding, HangulCountsTwo) {
  EXPECT_EQ(rpad("고객", 6, "."), "고객..");
  EXPECT_EQ(LPad("고객", 6, "."), "..고객");
  EXPECT_EQ(ByteLen(rpad("고객", 6, ".")), 6);
}

TEST(Padding, TooWideKeepsTheBeginning) {
  EXPECT_EQ(rpad("ABCDEFG", 4, "."), "ABCD");
  EXPECT_EQ(LPad("ABCDEFG", 4, "."), "ABCD");
  EXPECT_EQ(LPad("가나다", 5, "."), "가나 ");
}

TEST(Cut, InsideADoubleByteCharacter) {
  EXPECT_EQ(CutByByteWidth("가나다", 5, false), "가나 ");
  EXPECT_EQ(ByteLen(CutByByteWidth("가나다", 5, false)), 5);
  EXPECT_EQ(CutByByteWidth("가나다", 5, true), "가나");
  EXPECT_EQ(CutByByteWidth("가나다", 4, false), "가나");
  EXPECT_EQ(CutByByteWidth("A가", 2, false), "A ");
  EXPECT_EQ(CutByByteWidth("가나다", 0, false), "");
  EXPECT_EQ(CutByByteWidth("가나다", 10, false), "가나다");
}

TEST(Contains, EmptyPartIsFalse) {
  EXPECT_TRUE(ContainsText("a,b", ","));
  EXPECT_FALSE(ContainsText("ab", ","));
  EXPECT_FALSE(ContainsText("ab", ""));
}

TEST(OptionGroup, FirstSelectedCaption) {
  EXPECT_EQ(GetSelOptionCaption({{"A", false}, {"B", true}, {"C", true}}), "B");
  EXPECT_EQ(GetSelOptionCaption({{"A", false}, {"B", false}}), "");
  EXPECT_EQ(GetSelOptionCaption({}), "");
}

TEST(Thousands, GroupsOfThree) {
  EXPECT_EQ(FormatThousands(0), "0");
  EXPECT_EQ(FormatThousands(999), "999");
  EXPECT_EQ(FormatThousands(1000), "1,000");
  EXPECT_EQ(FormatThousands(400000), "400,000");
  EXPECT_EQ(FormatThousands(1234567), "1,234,567");
  EXPECT_EQ(FormatThousands(-1234), "-1,234");
}

}  // namespace
}  // namespace brenvo
