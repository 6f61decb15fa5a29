// The column plan and the row digests of the read-back, on rows built in
// memory: which differences the comparison must see, and which it must not.
#include <gtest/gtest.h>

#include "transfer/column_plan.h"
#include "transfer/verify.h"

namespace brenvo {
namespace {

using ado::Value;

// One row of typed values under the given columns.
class OneRow : public ado::Recordset {
 public:
  OneRow(std::vector<ado::FieldInfo> f, std::vector<Value> v) : f_(std::move(f)), v_(std::move(v)) {}
  int State() const override { return ado::adStateOpen; }
  void Close() override {}
  bool Eof() const override { return false; }
  void MoveNext() override {}
  void MoveFirst() override {}
  int FieldCount() const override { return static_cast<int>(f_.size()); }
  const ado::FieldInfo& Field(int i) const override { return f_.at(i); }
  const Value& GetValue(int i) const override { return v_.at(i); }
  void AddNew() override {}
  void SetValue(int, Value) override {}
  void Update() override {}

 private:
  std::vector<ado::FieldInfo> f_;
  std::vector<Value> v_;
};

ado::FieldInfo F(const char* name, ado::DataType t = ado::adDouble) { return {name, t}; }

TEST(ColumnPlan, NamesDecideAndOnlyTheRestGoesByPosition) {
  OneRow src({F("sale_id"), F("qty"), F("price"), F("memo")}, {});
  OneRow same({F("SALE_ID"), F("qty"), F("price"), F("memo")}, {});
  ColumnPlan p = PlanColumns(src, same);
  EXPECT_EQ(p.target, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_FALSE(p.NamesDiffer());

  OneRow swapped({F("sale_id"), F("price"), F("qty"), F("memo")}, {});
  p = PlanColumns(src, swapped);
  EXPECT_EQ(p.target, (std::vector<int>{0, 2, 1, 3}));
  EXPECT_FALSE(p.NamesDiffer());

  OneRow renamed({F("note"), F("sale_id"), F("price"), F("qty"), F("extra")}, {});
  p = PlanColumns(src, renamed);
  EXPECT_EQ(p.target, (std::vector<int>{1, 3, 2, 0}));
  EXPECT_EQ(p.byPosition, (std::vector<std::string>{"memo → note"}));
  EXPECT_EQ(p.targetOnly, (std::vector<std::string>{"extra"}));

  OneRow narrower({F("sale_id"), F("qty")}, {});
  p = PlanColumns(src, narrower);
  EXPECT_EQ(p.target, (std::vector<int>{0, 1, -1, -1}));
  EXPECT_EQ(p.sourceOnly, (std::vector<std::string>{"price", "memo"}));
}

// Digest of a source row and of a target row under the plan between them.
struct Pair {
  uint64_t source, target;
};
Pair Digests(std::vector<ado::FieldInfo> sf, std::vector<Value> sv, std::vector<ado::FieldInfo> tf,
             std::vector<Value> tv) {
  OneRow s(std::move(sf), std::move(sv)), t(std::move(tf), std::move(tv));
  ColumnPlan plan = PlanColumns(s, t);
  return {RowDigest(s, plan, true), RowDigest(t, plan, false)};
}

TEST(RowDigest, EqualValuesOfOtherTypesMatchAndRealDifferencesDoNot) {
  // Numbers by value: an integer, a whole double, a decimal with trailing zeros.
  auto d = Digests({F("a"), F("b"), F("c")}, {Value(int64_t{5}), Value(2.5), Value(ado::Decimal{"12.3400"})},
                   {F("a"), F("b"), F("c", ado::adDecimal)}, {Value(5.0), Value(2.5), Value(ado::Decimal{"12.34"})});
  EXPECT_EQ(d.source, d.target);
  // A number into a text column reads back as text.
  d = Digests({F("a", ado::adInteger)}, {Value(int64_t{42})}, {F("a", ado::adVarWChar)}, {Value(std::string("42"))});
  EXPECT_EQ(d.source, d.target);
  // NULL is not the empty text.
  d = Digests({F("a", ado::adVarWChar)}, {Value(ado::Null{})}, {F("a", ado::adVarWChar)}, {Value(std::string())});
  EXPECT_NE(d.source, d.target);
  // Two values changing places are a difference, not the same row.
  d = Digests({F("qty"), F("price")}, {Value(2.0), Value(1500.0)}, {F("qty"), F("price")}, {Value(1500.0), Value(2.0)});
  EXPECT_NE(d.source, d.target);
  // The same values under swapped columns, found by name, are the same row.
  d = Digests({F("qty"), F("price")}, {Value(2.0), Value(1500.0)}, {F("price"), F("qty")}, {Value(1500.0), Value(2.0)});
  EXPECT_EQ(d.source, d.target);
}

TEST(RowDigest, DateColumnsCompareByDayAndZeroDatesAsUnset) {
  ado::DateTime noon{2024, 2, 29, 12, 0, 0};
  ado::DateTime midnight{2024, 2, 29, 0, 0, 0};
  auto d = Digests({F("d", ado::adDate)}, {Value(noon)}, {F("d", ado::adDBDate)}, {Value(midnight)});
  EXPECT_EQ(d.source, d.target);
  d = Digests({F("d", ado::adDate)}, {Value(noon)}, {F("d", ado::adDate)}, {Value(midnight)});
  EXPECT_NE(d.source, d.target);
  // The copy leaves a zero date unset: it reads back as NULL.
  d = Digests({F("d", ado::adVarChar)}, {Value(std::string("0000-00-00"))}, {F("d", ado::adDBDate)},
              {Value(ado::Null{})});
  EXPECT_EQ(d.source, d.target);
}

}  // namespace
}  // namespace brenvo
