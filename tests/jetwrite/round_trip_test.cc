// Rows appended the way the copy run appends them (DELETE FROM, then a
// record set opened for appending, AddNew / SetValue by position / Update)
// come back identical through our reader and through mdbtools.
#include <gtest/gtest.h>

#include "db/ado/recordset.h"
#include "db/jet/database.h"
#include "db/jet/jet_connection.h"
#include "db/jet/jet_errors.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"

namespace brenvo::test {
namespace {

std::string ConnectionString(const std::string& path) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" + kBrenvoPassword;
}

std::string LongKoreanMemo(int paragraphs) {
  std::string s;
  for (int i = 0; i < paragraphs; ++i) s += "가나다라마바사 아자차카타파하 " + std::to_string(i) + "번째 문단입니다.\r\n";
  return s;
}

struct Schedule {
  int64_t id;
  std::optional<ado::DateTime> date;
  std::optional<std::string> title;
  std::optional<std::string> content;
  std::optional<int64_t> done;
};

std::vector<Schedule> Rows() {
  return {
      {1, ado::DateTime{2024, 2, 29, 0, 0, 0}, "한글 제목", "짧은 메모", 1},
      {2, ado::DateTime{1999, 12, 31, 23, 59, 59}, "ASCII title", "line one\r\nline two\r\n", 0},
      {3, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {4, ado::DateTime{2000, 1, 1, 0, 0, 1}, "", "", 255},
      // One other page, then a chain over several pages.
      {5, ado::DateTime{2016, 5, 9, 13, 6, 59}, "㈜한빛 \"따옴표\" 'quote' \\", LongKoreanMemo(40), 1},
      {6, ado::DateTime{2026, 12, 31, 23, 59, 59}, "긴 메모", LongKoreanMemo(400), 0},
      {7, ado::DateTime{1998, 1, 1, 0, 0, 0}, "Latin-1 café", std::string(64, 'x'), 0},
      {8, ado::DateTime{1998, 1, 1, 0, 0, 0}, "just over inline", std::string(65, 'y'), 0},
  };
}

void Append(ado::Connection& conn) {
  conn.Execute("DELETE FROM [schedules]");
  auto rs = conn.OpenTable("schedules", ado::OpenMode::Append);
  ASSERT_EQ(rs->FieldCount(), 5);
  for (const auto& r : Rows()) {
    rs->AddNew();
    rs->SetValue(0, r.id);
    if (r.date) rs->SetValue(1, *r.date);
    if (r.title) rs->SetValue(2, *r.title);
    if (r.content) rs->SetValue(3, *r.content);
    if (r.done) rs->SetValue(4, *r.done);
    rs->Update();
  }
  ado::CloseADO(rs);
}

TEST(RoundTrip, AppendedRowsReadBackThroughOurReaderAndMdbtools) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "dbMain.mdb");
  auto conn = jet::MakeJetConnection();
  conn->Open(ConnectionString(path));
  Append(*conn);
  // The same connection reads what it wrote.
  auto rs = conn->OpenQuery("SELECT COUNT(*) FROM schedules");
  EXPECT_EQ(std::get<int64_t>(rs->GetValue(0)), 8);
  ado::CloseADO(rs);
  conn->Close();

  EXPECT_EQ(CheckFaults(path), "");
  auto reader = jet::MakeJetConnection();
  reader->Open(ConnectionString(path));
  rs = reader->OpenTable("schedules", ado::OpenMode::Read);
  auto expected = Rows();
  size_t i = 0;
  for (; !rs->Eof(); rs->MoveNext(), ++i) {
    ASSERT_LT(i, expected.size());
    const Schedule& e = expected[i];
    EXPECT_EQ(std::get<int64_t>(rs->GetValue(0)), e.id);
    if (e.date) EXPECT_EQ(std::get<ado::DateTime>(rs->GetValue(1)), *e.date) << e.id;
    else EXPECT_TRUE(ado::IsNull(rs->GetValue(1)));
    if (e.title) EXPECT_EQ(std::get<std::string>(rs->GetValue(2)), *e.title) << e.id;
    else EXPECT_TRUE(ado::IsNull(rs->GetValue(2)));
    if (e.content) EXPECT_EQ(std::get<std::string>(rs->GetValue(3)), *e.content) << e.id;
    else EXPECT_TRUE(ado::IsNull(rs->GetValue(3)));
    if (e.done) EXPECT_EQ(std::get<int64_t>(rs->GetValue(4)), *e.done) << e.id;
    else EXPECT_TRUE(ado::IsNull(rs->GetValue(4)));
  }
  EXPECT_EQ(i, expected.size());
  ado::CloseADO(rs);
  reader->Close();

  if (!HaveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
  auto recs = ExportWithMdbtools(path, "schedules");
  ASSERT_EQ(recs.size(), expected.size() + 1);
  for (size_t k = 0; k < expected.size(); ++k) {
    const auto& r = recs[k + 1];
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0].value_or(""), std::to_string(expected[k].id));
    // mdbtools cannot tell NULL from the empty string.
    EXPECT_EQ(r[2].value_or(""), expected[k].title.value_or("")) << k;
    EXPECT_EQ(r[3].value_or(""), expected[k].content.value_or("")) << k;
  }
}

TEST(RoundTrip, TypedValuesAreConvertedAsAccessConvertsThem) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
  auto conn = jet::MakeJetConnection();
  conn->Open(ConnectionString(path));
  auto rs = conn->OpenTable("schedules", ado::OpenMode::Append);
  // Text from the MySQL side for every column; a double into the Long key
  // is rounded half to even, as Access rounds.
  rs->AddNew();
  rs->SetValue(0, std::string("10"));
  rs->SetValue(1, std::string("2024-02-29 12:00:00"));
  rs->SetValue(2, int64_t{42});
  rs->SetValue(4, std::string("1"));
  rs->Update();
  rs->AddNew();
  rs->SetValue(0, 12.5);
  rs->SetValue(1, 45351.5);
  rs->SetValue(2, 0.1);
  rs->Update();
  ado::CloseADO(rs);
  conn->Close();
  EXPECT_EQ(ExportWithOurReader(path, "schedules"),
            "sch_id,sch_date,title,content,done\r\n"
            "10,2024-02-29 12:00:00,42,,1\r\n"
            "12,2024-02-29 12:00:00,0.1,,\r\n");
  EXPECT_EQ(CheckFaults(path), "");
}

TEST(RoundTrip, RowsScanInTheOrderTheyWereAppendedAcrossDurablePoints) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "dbMain.mdb");
  // Durable points free index pages that later pages may reuse; rows must
  // still come back in appending order, also after emptying the table.
  for (int round = 0; round < 2; ++round) {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("schedules");
    t.DeleteAll();
    for (int i = 1; i <= 3 * static_cast<int>(jet::JetWriter::kDurableRows); ++i) {
      std::vector<std::optional<ado::Value>> r(5);
      r[0] = ado::Value(int64_t{i});
      r[2] = ado::Value("제목 " + std::to_string(i));
      t.Insert(r);
    }
    w->Close();
  }
  auto conn = jet::MakeJetConnection();
  conn->Open(ConnectionString(path));
  auto rs = conn->OpenTable("schedules", ado::OpenMode::Read);
  int64_t expect = 1;
  for (; !rs->Eof(); rs->MoveNext(), ++expect) {
    ASSERT_EQ(std::get<int64_t>(rs->GetValue(0)), expect);
  }
  EXPECT_EQ(expect - 1, 3 * static_cast<int64_t>(jet::JetWriter::kDurableRows));
  ado::CloseADO(rs);
  conn->Close();
  EXPECT_EQ(CheckFaults(path), "");
}

TEST(RoundTrip, ARecordSetLeftOpenAfterItsConnectionClosesIsClosedWithIt) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
  auto conn = jet::MakeJetConnection();
  conn->Open(ConnectionString(path));
  auto rs = conn->OpenTable("schedules", ado::OpenMode::Append);
  rs->AddNew();
  rs->SetValue(0, int64_t{1});
  rs->Update();
  conn->Close();
  EXPECT_EQ(rs->State(), ado::adStateClosed);
  EXPECT_THROW(rs->AddNew(), BrenvoError);
  rs.reset();
  EXPECT_EQ(CheckFaults(path), "");
  auto db = jet::Database::Open(path, kBrenvoPassword);
  EXPECT_EQ(db->Table("schedules").rowCount, 1u);
}

}  // namespace
}  // namespace brenvo::test
