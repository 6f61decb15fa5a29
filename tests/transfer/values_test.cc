#include <gtest/gtest.h>

#include "transfer/estimate.h"
#include "transfer/field_check.h"
#include "transfer/values.h"
#include "util/error.h"

namespace brenvo {
namespace {

TEST(Estimate, RatesAndHalfToEven) {
  // A local server is faster than a remote one; Access to Access fastest.
  EXPECT_GT(CopyRate(0, true), CopyRate(0, false));
  EXPECT_GT(CopyRate(1, true), CopyRate(1, false));
  EXPECT_EQ(CopyRate(2, true), CopyRate(2, false));
  EXPECT_GE(FixedSeconds(0, false), FixedSeconds(0, true));
  EXPECT_EQ(EstimateSeconds(1000, 15, 50), 117);
  EXPECT_EQ(EstimateSeconds(25, 50, 50), 50);   // 50.5 -> 50
  EXPECT_EQ(EstimateSeconds(75, 50, 50), 52);   // 51.5 -> 52
  EXPECT_EQ(EstimateSeconds(0, 40000, 5), 5);
  // The large fixture toward a local CS server took 10.7 s on the bench machine.
  const int32_t large = EstimateSeconds(516325, CopyRate(0, true), FixedSeconds(0, true));
  EXPECT_GE(large, 11);
  EXPECT_LE(large, 30);
}

TEST(Values, TextForms) {
  EXPECT_EQ(ValueToText(ado::Value{int64_t{-42}}), "-42");
  EXPECT_EQ(ValueToText(ado::Value{1604.9381400000002}), "1604.9381400000002");
  EXPECT_EQ(ValueToText(ado::Value{99999999999.99}), "99999999999.99");
  EXPECT_EQ(ValueToText(ado::Value{500000000.0}), "500000000");
  EXPECT_EQ(ValueToText(ado::Value{ado::Currency{35000}}), "3.5000");
  EXPECT_EQ(ValueToText(ado::Value{ado::Currency{-5000}}), "-0.5000");
  EXPECT_EQ(ValueToText(ado::Value{ado::DateTime{2024, 2, 29, 0, 0, 0, 0}}), "2024-02-29 00:00:00");
  EXPECT_EQ(ValueToText(ado::Value{true}), "1");
  EXPECT_FALSE(ValueToText(ado::Value{ado::Null{}}).has_value());
}

TEST(Values, IntegersFromWhatTheProvidersGive) {
  EXPECT_EQ(ValueToInteger(ado::Value{int64_t{12}}), 12);
  EXPECT_EQ(ValueToInteger(ado::Value{std::string("400000")}), 400000);
  EXPECT_EQ(ValueToInteger(ado::Value{12.9}), 12);
  EXPECT_THROW(ValueToInteger(ado::Value{ado::Null{}}), BrenvoError);
  EXPECT_THROW(ValueToInteger(ado::Value{std::string("abc")}), BrenvoError);
}

TEST(Values, ElapsedIsATrueDuration) {
  EXPECT_EQ(FormatElapsed(5), "00:00:05");
  EXPECT_EQ(FormatElapsed(3600 * 25 + 61), "25:01:01");
  EXPECT_EQ(FormatElapsed(0), "00:00:00");
}

TEST(FieldClasses, ByAdoTypeCode) {
  for (int t : {2, 3, 5, 7, 16, 17, 18, 19, 129, 133, 135, 201, 203})
    EXPECT_EQ(ClassifyColumn(t), ColumnClass::Skipped) << t;
  EXPECT_EQ(ClassifyColumn(200), ColumnClass::Compared);
  EXPECT_EQ(ClassifyColumn(202), ColumnClass::Compared);
  for (int t : {4, 6, 11, 20, 131, 205, 72})
    EXPECT_EQ(ClassifyColumn(t), ColumnClass::Unlisted) << t;
}

TEST(Dates, OleRoundTrip) {
  auto dt = ado::DateTimeFromOle(38143.546523784724);
  EXPECT_EQ(ado::FormatDateTime(dt), "2004-06-05 13:06:59.655000");
  for (auto d : {ado::DateTime{1998, 1, 1, 0, 0, 0, 0}, ado::DateTime{2026, 12, 31, 23, 59, 59, 0},
                 ado::DateTime{2000, 2, 29, 12, 0, 0, 0}, ado::DateTime{1899, 12, 30, 0, 0, 0, 0},
                 ado::DateTime{1800, 3, 1, 6, 30, 0, 0}}) {
    EXPECT_EQ(ado::DateTimeFromOle(ado::OleFromDateTime(d)), d) << ado::FormatDateTime(d);
  }
  EXPECT_EQ(ado::FormatDateTime(ado::DateTimeFromOle(-1.25)), "1899-12-29 06:00:00");
}

}  // namespace
}  // namespace brenvo
