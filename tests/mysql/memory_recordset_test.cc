#include "db/mysql/memory_recordset.h"

#include <gtest/gtest.h>

#include "util/error.h"

namespace brenvo::mysql {
namespace {

std::vector<ado::FieldInfo> TwoFields() {
  ado::FieldInfo a{"cust_id", ado::adBSTR, 11};
  ado::FieldInfo b{"cust_name", ado::adBSTR, 400};
  return {a, b};
}

TEST(MemoryRecordset, WalkingLookupAndTheErrorsAtTheEdges) {
  MemoryRecordset rs(TwoFields());
  EXPECT_TRUE(rs.Eof());
  EXPECT_TRUE(rs.Bof());
  EXPECT_THROW(rs.Text(0), BrenvoError);
  rs.AddRow({"1", "가나"});
  rs.AddRow({"2", "다라"});
  EXPECT_EQ(rs.Text("CUST_NAME"), "다라");  // stands on the last row added
  rs.MoveFirst();
  EXPECT_EQ(rs.Text(1), "가나");
  rs.MoveNext();
  rs.MoveNext();
  EXPECT_TRUE(rs.Eof());
  try {
    rs.MoveNext();
    FAIL();
  } catch (const BrenvoError& e) {
    EXPECT_EQ(e.number(), 3021);
  }
  rs.MoveFirst();
  try {
    (void)rs.Text("no_such");
    FAIL();
  } catch (const BrenvoError& e) {
    EXPECT_EQ(e.number(), 3265);
  }
  EXPECT_EQ(rs.FieldIndex("cust_id"), 0);
  EXPECT_EQ(rs.FieldIndex("x"), -1);
  EXPECT_EQ(rs.RecordCount(), 2);
  std::unique_ptr<ado::Recordset> p = std::make_unique<MemoryRecordset>(TwoFields());
  ado::CloseADO(p);
  EXPECT_FALSE(p);
  rs.Close();
  EXPECT_EQ(rs.State(), ado::adStateClosed);
  EXPECT_THROW(rs.Eof(), BrenvoError);
}

TEST(MemoryRecordset, AppendingStoresText) {
  MemoryRecordset rs(TwoFields());
  rs.AddNew();
  rs.SetValue(0, int64_t{42});
  rs.SetValue(1, std::string("값"));
  rs.Update();
  rs.MoveFirst();
  EXPECT_EQ(rs.Text(0), "42");
  EXPECT_EQ(rs.Text(1), "값");
}

}  // namespace
}  // namespace brenvo::mysql
