#include "util/text.h"

#include <gtest/gtest.h>

#include "util/error.h"

using namespace brenvo;

TEST(Text, TheTwoTrimRules) {
  // The forms' Trim takes blanks only; a value's tab or line break stays.
  EXPECT_EQ(TrimSpaces("  a b  "), "a b");
  EXPECT_EQ(TrimSpaces("\ta \r\n"), "\ta \r\n");
  EXPECT_EQ(TrimSpaces("   "), "");
  EXPECT_EQ(TrimSpaces(""), "");
  EXPECT_EQ(TrimWhitespace(" \t16\r\n"), "16");
  EXPECT_EQ(TrimWhitespace("\v\f"), "");
}

TEST(Text, LeadingNumberReadsAsTheFormsDid) {
  EXPECT_EQ(LeadingNumber("1"), 1);
  EXPECT_EQ(LeadingNumber(" 1"), 1);
  EXPECT_EQ(LeadingNumber("1.0"), 1);
  EXPECT_EQ(LeadingNumber("1abc"), 1);
  EXPECT_EQ(LeadingNumber("\r\n-2.5x"), -2.5);
  EXPECT_EQ(LeadingNumber("1.2.3"), 1.2);
  EXPECT_EQ(LeadingNumber(".5"), 0.5);
  EXPECT_EQ(LeadingNumber("abc"), 0);
  EXPECT_EQ(LeadingNumber("+"), 0);
}

TEST(Text, LeadingWholeNumberRoundsHalvesToEvenAndRefusesOverflow) {
  EXPECT_EQ(LeadingWholeNumber("16\r\n"), 16);
  EXPECT_EQ(LeadingWholeNumber("  7x"), 7);
  EXPECT_EQ(LeadingWholeNumber(""), 0);
  EXPECT_EQ(LeadingWholeNumber("2.5"), 2);
  EXPECT_EQ(LeadingWholeNumber("3.5"), 4);
  EXPECT_EQ(LeadingWholeNumber("-1"), -1);
  EXPECT_EQ(LeadingWholeNumber("2147483647"), 2147483647);
  EXPECT_THROW(LeadingWholeNumber("2147483648"), BrenvoError);
}
