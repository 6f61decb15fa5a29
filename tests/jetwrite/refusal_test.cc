// What the writer refuses: values that do not fit, NULL keys, files it must
// not write (read-only, held by another program), indexes in a sort order
// it does not write, and a disk that fills up. A refused row is not stored
// and the file stays sound.
#include <gtest/gtest.h>

#include <filesystem>

#include "db/jet/database.h"
#include "db/jet/jet_errors.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"

namespace brenvo::test {
namespace {

using Row = std::vector<std::optional<ado::Value>>;

Row Schedule(int64_t id, std::optional<ado::Value> title = std::nullopt) {
  Row r(5);
  r[0] = ado::Value(id);
  r[2] = std::move(title);
  return r;
}

BrenvoError InsertError(jet::TableWriter& t, const Row& r) {
  try {
    t.Insert(r);
  } catch (const BrenvoError& e) {
    return e;
  }
  ADD_FAILURE() << "row stored";
  return BrenvoError(0, "");
}

TEST(Refusals, ValuesThatDoNotFitAreRefusedAndNothingIsStored) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
  {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("schedules");
    // Text(100): 100 Hangul characters fit, 101 do not.
    std::string hundred;
    for (int i = 0; i < 100; ++i) hundred += "한";
    t.Insert(Schedule(1, hundred));
    BrenvoError e = InsertError(t, Schedule(2, hundred + "x"));
    EXPECT_NE(e.description().find("field is too small"), std::string::npos);

    EXPECT_EQ(InsertError(t, Schedule(3, std::nullopt) = Row{ado::Value(std::string("abc"))}).number(),
              jet::kErrTypeMismatch);
    EXPECT_EQ(InsertError(t, Row{ado::Value(1e12)}).description(), "Numeric field overflow.");
    Row byteTooBig = Schedule(4);
    byteTooBig[4] = ado::Value(int64_t{256});
    EXPECT_EQ(InsertError(t, byteTooBig).description(), "Numeric field overflow.");
    Row badDate = Schedule(5);
    badDate[1] = ado::Value(ado::DateTime{0, 0, 0});  // MySQL's zero date
    EXPECT_EQ(InsertError(t, badDate).number(), jet::kErrTypeMismatch);
    EXPECT_EQ(InsertError(t, Row(5)).description(), "Index or primary key cannot contain a Null value.");
    // The writer goes on after refusals.
    t.Insert(Schedule(6, std::string("after")));
    w->Close();
  }
  EXPECT_EQ(ExportWithOurReader(path, "schedules").substr(0, 36), "sch_id,sch_date,title,content,done\r\n");
  auto db = jet::Database::Open(path, kBrenvoPassword);
  EXPECT_EQ(db->Table("schedules").rowCount, 2u);
  db.reset();
  EXPECT_EQ(CheckFaults(path), "");
}

TEST(Refusals, FilesThatMustNotBeWrittenAreRefused) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
  std::string before = ReadFile(path);
  {
    // A reader holds the file: no writer.
    auto reader = jet::Database::Open(path, kBrenvoPassword);
    try {
      jet::JetWriter::Open(path, kBrenvoPassword);
      ADD_FAILURE() << "opened while read";
    } catch (const BrenvoError& e) {
      EXPECT_EQ(e.number(), jet::kErrFail);
      EXPECT_NE(e.description().find("already opened exclusively"), std::string::npos);
    }
  }
  {
    // A writer holds it: neither a reader nor a second writer.
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    EXPECT_THROW(jet::Database::Open(path, kBrenvoPassword), BrenvoError);
    EXPECT_THROW(jet::JetWriter::Open(path, kBrenvoPassword), BrenvoError);
  }
  EXPECT_THROW(jet::JetWriter::Open(path, "wrong"), BrenvoError);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  EXPECT_THROW(jet::JetWriter::Open(path, kBrenvoPassword), BrenvoError);
  EXPECT_TRUE(ReadFile(path) == before);
}

TEST(Refusals, AnIndexInAnotherSortOrderIsNotWritten) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
  // Give customer.cust_code (a unique text index) the Chinese sort order, as
  // a file made by a Chinese installation of Access would carry.
  uint64_t at;
  {
    auto db = jet::Database::Open(path, kBrenvoPassword);
    const auto& t = db->Table("customer");
    const jet::ColumnDef* c = t.FindColumn("cust_code");
    ASSERT_LT(c->defOffset + 12, 4096u);
    at = static_cast<uint64_t>(t.page) * 4096 + c->defOffset + 11;
  }
  std::string bytes = ReadFile(path);
  bytes[at] = 0x04;
  bytes[at + 1] = 0x08;  // LCID 2052
  WriteFile(path, bytes);
  auto w = jet::JetWriter::Open(path, kBrenvoPassword);
  Row r(12);
  r[0] = ado::Value(int64_t{1});
  r[1] = ado::Value(std::string("C00001"));
  try {
    w->Table("customer").Insert(r);
    ADD_FAILURE() << "row stored";
  } catch (const BrenvoError& e) {
    EXPECT_EQ(e.number(), jet::kErrNotCapable);
    EXPECT_NE(e.description().find("sort order"), std::string::npos);
  }
  // Emptying needs no keys and is allowed.
  EXPECT_NO_THROW(w->Table("customer").DeleteAll());
  w->Close();
  // General, but a later version of it (the byte after the LCID).
  bytes[at] = 0x09;
  bytes[at + 1] = 0x04;
  bytes[at + 2] = 0x01;
  WriteFile(path, bytes);
  auto w2 = jet::JetWriter::Open(path, kBrenvoPassword);
  try {
    w2->Table("customer").Insert(r);
    ADD_FAILURE() << "row stored";
  } catch (const BrenvoError& e) {
    EXPECT_EQ(e.number(), jet::kErrNotCapable);
  }
}

TEST(Refusals, AFullDiskKeepsTheRowsOfTheLastDurablePoint) {
  REQUIRE_FIXTURES();
  // Every write of the inserts and of the durable point that follows fails
  // in turn; whatever fails, the file holds the first 100 rows or, when the
  // definition page was already written, all 250.
  for (long failAfter = 0; failAfter < 16; ++failAfter) {
    TempDir dir;
    std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
    {
      auto w = jet::JetWriter::Open(path, kBrenvoPassword);
      auto& t = w->Table("schedules");
      for (int i = 1; i <= 100; ++i) t.Insert(Schedule(i, std::string(90, 'a')));
      w->Commit();
      w->InjectWriteFailureAfter(failAfter);
      bool failed = false;
      try {
        for (int i = 101; i <= 250; ++i) t.Insert(Schedule(i, std::string(90, 'b')));
        w->Commit();
      } catch (const BrenvoError& e) {
        failed = true;
        EXPECT_NE(e.description().find("No space left"), std::string::npos) << e.description();
      }
      if (!failed) continue;
      // Once failed, the table takes no more rows.
      EXPECT_THROW(t.Insert(Schedule(5000)), BrenvoError);
    }
    EXPECT_EQ(CheckFaults(path), "") << failAfter;
    auto db = jet::Database::Open(path, kBrenvoPassword);
    uint32_t rows = db->Table("schedules").rowCount;
    EXPECT_TRUE(rows == 100u || rows == 250u) << failAfter << ": " << rows;
  }
}

}  // namespace
}  // namespace brenvo::test
