// ODBC record sets against the real CS server: type codes and sizes, typed
// values both ways, Korean in utf8mb4 and euckr databases, sliced reading.
#include <gtest/gtest.h>

#include <optional>

#include "db/odbc/myodbc_dsn.h"
#include "db/odbc/odbc_connection.h"
#include "db/odbc/odbc_recordset.h"
#include "mariadb_test_db.h"
#include "odbc_test_env.h"
#include "support/test_support.h"
#include "util/error.h"

namespace brenvo::odbc {
namespace {

using ado::Value;

std::string LongKorean() {
  std::string s;
  for (int i = 0; i < 1200; ++i) s += "가나다라마바사아자차" + std::string(i % 50 == 49 ? "\r\n" : "");
  return s;  // 12,000 Hangul syllables with CR LF paragraph breaks
}

class OdbcRecordsetTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (test::TestEnv("CS_HOST").empty()) GTEST_SKIP() << "test server not started: BRENVO_TEST_CS_HOST unset";
    server_ = test::CsServer();
    db_ = test::UniqueName("rs");
    test::CreateDatabase(server_, db_, GetParam());
    scoped_ = std::make_unique<test::ScopedDatabase>(server_, db_);
    std::string cache;
    const std::string driver = GetMyODBCDllPath(cache);
    ASSERT_FALSE(driver.empty());
    conn_ = MakeOdbcConnection();
    conn_->Open("Driver=" + driver + ";SERVER=" + server_.host + ";UID=root;PWD=" + server_.rootPassword +
                ";DATABASE=" + db_);
  }
  void TearDown() override { SetReadSliceRows(5000); }

  void Root(const std::string& sql) { test::RootExec(server_, "USE `" + db_ + "`; " + sql); }

  // Every row through one appender (batches of batchRows when given); none refused.
  void AppendRows(const std::string& table, const std::vector<std::vector<ado::Value>>& rows, int batchRows = 0) {
    auto w = conn_->OpenTable(table, ado::OpenMode::Append);
    if (batchRows > 0) w->SetBatchRows(batchRows);
    for (const auto& row : rows) {
      w->AddNew();
      for (size_t i = 0; i < row.size(); ++i) w->SetValue(static_cast<int>(i), row[i]);
      w->Update();
    }
    EXPECT_TRUE(w->Flush().empty());
    w->Close();
  }

  test::MariaServer server_;
  std::string db_;
  std::unique_ptr<test::ScopedDatabase> scoped_;
  std::unique_ptr<ado::Connection> conn_;
};

INSTANTIATE_TEST_SUITE_P(Charsets, OdbcRecordsetTest, ::testing::Values("utf8mb4", "euckr"));

const char* kEveryType =
    "CREATE TABLE every ("
    " id INT NOT NULL PRIMARY KEY, v VARCHAR(50), t TEXT, i INT, si SMALLINT, ti TINYINT,"
    " tu TINYINT UNSIGNED, d DOUBLE, dt DATE, dtm DATETIME, c CHAR(4), num DECIMAL(12,2),"
    " bi BIGINT, b BIT(1))";

TEST_P(OdbcRecordsetTest, TypeCodesAndSizesOfEveryColumnType) {
  Root(kEveryType);
  struct Expect {
    const char* name;
    ado::DataType type;
    long size;
  } expect[] = {
      {"id", ado::adInteger, 4},          {"v", ado::adVarChar, 50},     {"t", ado::adLongVarChar, 65535},
      {"i", ado::adInteger, 4},           {"si", ado::adSmallInt, 2},    {"ti", ado::adTinyInt, 1},
      {"tu", ado::adUnsignedTinyInt, 1},  {"d", ado::adDouble, 8},       {"dt", ado::adDBDate, 6},
      {"dtm", ado::adDBTimeStamp, 16},    {"c", ado::adChar, 4},         {"num", ado::adNumeric, 19},
      {"bi", ado::adBigInt, 8},           {"b", ado::adBoolean, 2},
  };
  for (auto mode : {ado::OpenMode::Read, ado::OpenMode::Append}) {
    auto rs = conn_->OpenTable("every", mode);
    ASSERT_EQ(rs->FieldCount(), static_cast<int>(std::size(expect)));
    for (int i = 0; i < rs->FieldCount(); ++i) {
      SCOPED_TRACE(expect[i].name);
      EXPECT_EQ(rs->Field(i).name, expect[i].name);
      EXPECT_EQ(rs->Field(i).type, expect[i].type);
      EXPECT_EQ(rs->Field(i).definedSize, expect[i].size);
    }
    if (mode == ado::OpenMode::Read) {
      EXPECT_TRUE(rs->Eof());
    }
  }
}

TEST_P(OdbcRecordsetTest, EveryTypeRoundTripsExactly) {
  Root(kEveryType);
  const std::vector<std::vector<Value>> rows = {
      {int64_t{1}, std::string("㈜대한상사 Kim's 무역\\본점"), LongKorean(), int64_t{-2147483647 - 1},
       int64_t{-32768}, int64_t{-128}, int64_t{255}, 1604.9381400000002, ado::DateTime{2024, 2, 29},
       ado::DateTime{1999, 12, 31, 23, 59, 59}, std::string("AB"), ado::Decimal{"-1234567890.12"},
       int64_t{9007199254740993}, true},
      {int64_t{2}, std::string(" 앞뒤 공백 "), std::string("규격 5'x10\" \\ 양면\r\n둘째 줄"), int64_t{2147483647},
       int64_t{32767}, int64_t{127}, int64_t{0}, 0.001, ado::DateTime{1998, 1, 1},
       ado::DateTime{2026, 12, 31, 23, 59, 59}, std::string("가나"), ado::Decimal{"0.00"}, int64_t{-1}, false},
      {int64_t{3}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{},
       ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}},
      {int64_t{4}, std::string(""), std::string(""), int64_t{0}, int64_t{0}, int64_t{0}, int64_t{1}, 99999999999.99,
       ado::DateTime{2000, 1, 1}, ado::DateTime{2000, 2, 29, 12, 0, 0}, std::string(""), ado::Decimal{"1.50"},
       int64_t{0}, false},
      {int64_t{5}, std::string("x"), std::string("y"), int64_t{1}, int64_t{1}, int64_t{1}, int64_t{1}, -1500000.0,
       ado::DateTime{2016, 5, 9}, ado::DateTime{2016, 5, 9, 0, 0, 0}, std::string("C001"), ado::Decimal{"500000000.00"},
       int64_t{1}, true},
      // Hangul followed by ASCII at the end, and a short value after a longer
      // one: the driver's wide conversions lost the last characters of the
      // first and added a NUL to the second.
      {int64_t{6}, std::string("캐비닛 (흑색)"), std::string("배송 시 파손 주의 요망. 엘리베이터 없음(3층)."),
       ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{},
       ado::Null{}, ado::Null{}, ado::Null{}},
      {int64_t{7}, std::string("황용동"), std::string("(3층)."), ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{},
       ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}, ado::Null{}},
  };
  // Row by row, then in batches of two (a last batch of one stays queued
  // until Flush), then in one batch.
  for (int batch : {1, 2, 100}) {
    SCOPED_TRACE("batch " + std::to_string(batch));
    conn_->Execute("DELETE FROM every");
    AppendRows("every", rows, batch);
    auto r = conn_->OpenTable("every", ado::OpenMode::Read);
    for (const auto& row : rows) {
      ASSERT_FALSE(r->Eof());
      for (size_t i = 0; i < row.size(); ++i) {
        SCOPED_TRACE(r->Field(static_cast<int>(i)).name + " of row " + std::to_string(std::get<int64_t>(row[0])));
        EXPECT_EQ(r->GetValue(static_cast<int>(i)), row[i]);
      }
      r->MoveNext();
    }
    EXPECT_TRUE(r->Eof());
  }

  // The server holds the characters themselves, not bytes in another code page.
  auto seen = test::RootQuery(server_, "SELECT v FROM `" + db_ + "`.every WHERE id = 1");
  EXPECT_EQ(seen.at(0).at(0), "㈜대한상사 Kim's 무역\\본점");
}

TEST_P(OdbcRecordsetTest, UnsetColumnsKeepTheirDefaultAndNullIsStoredAsNull) {
  Root("CREATE TABLE d (id INT PRIMARY KEY, s VARCHAR(10) DEFAULT '기본', n INT DEFAULT 7)");
  auto w = conn_->OpenTable("d", ado::OpenMode::Append);
  w->AddNew();
  w->SetValue(0, int64_t{1});
  w->Update();
  w->AddNew();
  w->SetValue(0, int64_t{2});
  w->SetValue(1, ado::Null{});
  w->SetValue(2, ado::Null{});
  w->Update();
  w->AddNew();
  w->SetValue(0, int64_t{3});
  w->SetValue(2, int64_t{9});
  w->Update();
  auto r = conn_->OpenTable("d", ado::OpenMode::Read);
  EXPECT_EQ(r->GetValue(1), Value(std::string("기본")));
  EXPECT_EQ(r->GetValue(2), Value(int64_t{7}));
  r->MoveNext();
  EXPECT_TRUE(ado::IsNull(r->GetValue(1)));
  EXPECT_TRUE(ado::IsNull(r->GetValue(2)));
  r->MoveNext();
  EXPECT_EQ(r->GetValue(1), Value(std::string("기본")));
  EXPECT_EQ(r->GetValue(2), Value(int64_t{9}));
}

TEST_P(OdbcRecordsetTest, AFailedRowIsNotStoredAndTheNextOneIs) {
  Root("CREATE TABLE k (id INT PRIMARY KEY, s VARCHAR(4))");
  auto w = conn_->OpenTable("k", ado::OpenMode::Append);
  auto put = [&](int64_t id, std::string s) {
    w->AddNew();
    w->SetValue(0, id);
    w->SetValue(1, std::move(s));
    w->Update();
  };
  put(1, "a");
  try {
    put(1, "b");
    FAIL() << "duplicate key stored";
  } catch (const BrenvoError& e) {
    EXPECT_EQ(e.number(), -2147467259);
    EXPECT_NE(e.description().find("Duplicate entry"), std::string::npos) << e.description();
  }
  EXPECT_THROW(put(2, "too long"), BrenvoError);  // strict mode: no silent truncation
  EXPECT_THROW(w->Update(), BrenvoError) << "no row pending after a failed Update";
  put(3, "c");
  auto n = conn_->OpenQuery("SELECT COUNT(*), GROUP_CONCAT(s ORDER BY id) FROM k");
  EXPECT_EQ(n->GetValue(0), Value(int64_t{2}));
  EXPECT_EQ(n->GetValue(1), Value(std::string("a,c")));
}

// Batches: each row succeeds or fails on its own, text that looks like SQL
// stays text, and tables that cannot undo a statement are not batched.
TEST_P(OdbcRecordsetTest, BatchedRowsSucceedOrFailOnTheirOwn) {
  Root("CREATE TABLE k (id INT PRIMARY KEY, s VARCHAR(40), n INT DEFAULT 7)");
  const std::vector<std::string> texts = {"'; DROP TABLE k; --", "a?b ? c", "끝\\", "\\'", "''", "Kim's 무역\\본점",
                                          "x\\0y", "\"큰따옴표\""};
  auto w = conn_->OpenTable("k", ado::OpenMode::Append);
  w->SetBatchRows(4);
  auto put = [&](int64_t id, std::optional<std::string> s) {
    w->AddNew();
    w->SetValue(0, id);
    if (s) w->SetValue(1, *s);
    w->Update();  // never throws for the server's refusal in batches
  };
  for (size_t i = 0; i < texts.size(); ++i) put(static_cast<int64_t>(i + 1), texts[i]);  // Updates 0..7
  // The connection stays usable while a batch is on its way.
  EXPECT_FALSE(conn_->OpenQuery("SELECT COUNT(*) FROM k")->Eof());
  put(3, "dup");                                       // 8: duplicate key
  put(20, std::string(41, 'x'));                       // 9: too long (strict mode)
  put(21, std::nullopt);                               // 10: s unset -> default NULL, n default 7
  auto failures = w->Flush();
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].row, 8);
  EXPECT_NE(failures[0].description.find("Duplicate entry"), std::string::npos);
  EXPECT_EQ(failures[1].row, 9);
  EXPECT_TRUE(w->Flush().empty()) << "reported once";
  put(22, "닫을 때 저장");
  w->Close();  // stores the queued row

  auto r = conn_->OpenTable("k", ado::OpenMode::Read);
  for (size_t i = 0; i < texts.size(); ++i, r->MoveNext()) {
    ASSERT_FALSE(r->Eof());
    EXPECT_EQ(r->GetValue(1), Value(texts[i]));
  }
  EXPECT_EQ(r->GetValue(0), Value(int64_t{21}));
  EXPECT_TRUE(ado::IsNull(r->GetValue(1)));
  EXPECT_EQ(r->GetValue(2), Value(int64_t{7}));
  r->MoveNext();
  EXPECT_EQ(r->GetValue(1), Value(std::string("닫을 때 저장")));
  r->MoveNext();
  EXPECT_TRUE(r->Eof());
}

TEST_P(OdbcRecordsetTest, BatchesFollowTheSessionsEscapeMode) {
  Root("CREATE TABLE e (id INT PRIMARY KEY, s VARCHAR(20))");
  conn_->Execute("SET SESSION sql_mode = CONCAT(@@SESSION.sql_mode, ',NO_BACKSLASH_ESCAPES')");
  auto w = conn_->OpenTable("e", ado::OpenMode::Append);
  w->SetBatchRows(10);
  const std::vector<std::string> texts = {"a\\b", "끝\\", "\\'x", "'\\''"};
  for (size_t i = 0; i < texts.size(); ++i) {
    w->AddNew();
    w->SetValue(0, static_cast<int64_t>(i));
    w->SetValue(1, texts[i]);
    w->Update();
  }
  EXPECT_TRUE(w->Flush().empty());
  auto r = conn_->OpenTable("e", ado::OpenMode::Read);
  for (const auto& t : texts) {
    ASSERT_FALSE(r->Eof());
    EXPECT_EQ(r->GetValue(1), Value(t));
    r->MoveNext();
  }
}

TEST_P(OdbcRecordsetTest, TablesThatCannotUndoAStatementAreStoredRowByRow) {
  Root("CREATE TABLE m (id INT PRIMARY KEY) ENGINE=MyISAM");
  auto w = conn_->OpenTable("m", ado::OpenMode::Append);
  w->SetBatchRows(100);
  w->AddNew();
  w->SetValue(0, int64_t{1});
  w->Update();
  EXPECT_EQ(conn_->OpenQuery("SELECT COUNT(*) FROM m")->GetValue(0), Value(int64_t{1})) << "stored at once";
  w->AddNew();
  w->SetValue(0, int64_t{1});
  EXPECT_THROW(w->Update(), BrenvoError);
}

TEST_P(OdbcRecordsetTest, ZeroDatesReadAsTheZeroDate) {
  Root("SET SESSION sql_mode = ''; CREATE TABLE z (id INT PRIMARY KEY, d DATE, t DATETIME);"
       "INSERT INTO z VALUES (1, '0000-00-00', '0000-00-00 00:00:00')");
  auto r = conn_->OpenTable("z", ado::OpenMode::Read);
  ASSERT_FALSE(r->Eof());
  EXPECT_TRUE(std::get<ado::DateTime>(r->GetValue(1)).IsZeroDate());
  EXPECT_TRUE(std::get<ado::DateTime>(r->GetValue(2)).IsZeroDate());
}

TEST_P(OdbcRecordsetTest, TablesAreReadInSlicesWithoutLosingOrRepeatingRows) {
  Root("CREATE TABLE s (a INT, b VARCHAR(10), v VARCHAR(10), PRIMARY KEY (a, b));"
       "CREATE TABLE nokey (v INT); INSERT INTO nokey VALUES (3), (1), (2);"
       "CREATE TABLE empty_t (id INT PRIMARY KEY)");
  // Keys in two columns, inserted out of order; 9 rows = three full slices of 3.
  std::vector<std::pair<int, std::string>> keys = {{2, "나"}, {1, "b"}, {1, "a"}, {3, "a"}, {2, "가"},
                                                   {1, "c"}, {3, "b"}, {2, "다"}, {3, "c"}};
  for (auto& [a, b] : keys) Root("INSERT INTO s VALUES (" + std::to_string(a) + ", '" + b + "', 'x')");
  SetReadSliceRows(3);
  for (int extra = 0; extra < 2; ++extra) {
    auto r = conn_->OpenTable("s", ado::OpenMode::Read);
    std::vector<std::string> got;
    for (; !r->Eof(); r->MoveNext())
      got.push_back(std::to_string(std::get<int64_t>(r->GetValue(0))) + std::get<std::string>(r->GetValue(1)));
    EXPECT_EQ(got, (extra == 0 ? std::vector<std::string>{"1a", "1b", "1c", "2가", "2나", "2다", "3a", "3b", "3c"}
                               : std::vector<std::string>{"1a", "1b", "1c", "2가", "2나", "2다", "3a", "3b", "3c",
                                                          "4z"}));
    // MoveFirst starts over.
    r = conn_->OpenTable("s", ado::OpenMode::Read);
    r->MoveNext();
    r->MoveFirst();
    EXPECT_EQ(r->GetValue(1), Value(std::string("a")));
    if (extra == 0) Root("INSERT INTO s VALUES (4, 'z', 'x')");  // 10 rows: a short last slice
  }
  auto nk = conn_->OpenTable("nokey", ado::OpenMode::Read);
  int n = 0;
  for (; !nk->Eof(); nk->MoveNext()) ++n;
  EXPECT_EQ(n, 3);
  auto e = conn_->OpenTable("empty_t", ado::OpenMode::Read);
  EXPECT_TRUE(e->Eof());
  EXPECT_THROW(e->GetValue(0), BrenvoError);
}

// At the default size slices grow (5,000 rows, then 10,000, ...), each
// going on from the last key of the one before with the slice's rows as a
// parameter: a table of 23,456 rows ends in a short slice, every row once.
TEST_P(OdbcRecordsetTest, GrowingSlicesReadEveryRowOnce) {
  Root("CREATE TABLE g (a INT, b INT, v VARCHAR(20), PRIMARY KEY (a, b));"
       "INSERT INTO g SELECT seq DIV 3, seq MOD 3, CONCAT('값', seq) FROM seq_0_to_23455");
  auto r = conn_->OpenTable("g", ado::OpenMode::Read);
  int64_t n = 0;
  for (; !r->Eof(); r->MoveNext(), ++n) {
    ASSERT_EQ(r->GetValue(0), Value(n / 3));
    ASSERT_EQ(r->GetValue(1), Value(n % 3));
    ASSERT_EQ(r->GetValue(2), Value("값" + std::to_string(n)));
  }
  EXPECT_EQ(n, 23456);
}

// Slices are read a block of rows at a time into buffers sized by the
// column; a longer value is never cut: its slice is read again with a wider
// buffer, or a value at a time once a value is past what a buffer may take.
TEST_P(OdbcRecordsetTest, ValuesLongerThanTheirBuffersArriveWhole) {
  Root("CREATE TABLE lv (id INT PRIMARY KEY, t LONGTEXT, b LONGBLOB, n INT)");
  std::string mid(6000, 'x');
  mid.replace(0, 9, "가나다");
  std::string huge(1536 * 1024, 'y');
  huge.back() = 'z';
  ado::Bytes blob(2 * 1024 * 1024 + 7);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 7);
  const std::vector<std::vector<Value>> rows = {
      {int64_t{1}, std::string("짧은 값"), ado::Bytes{1, 2, 3}, int64_t{10}},
      {int64_t{2}, ado::Null{}, ado::Null{}, int64_t{20}},
      {int64_t{3}, mid, ado::Bytes(5000, 0xAB), int64_t{30}},
      {int64_t{4}, std::string("다음"), ado::Bytes{}, ado::Null{}},
      {int64_t{5}, huge, blob, int64_t{50}},
      {int64_t{6}, std::string("끝"), ado::Bytes{9}, int64_t{60}},
      {int64_t{7}, mid + "!", ado::Bytes(5001, 0xCD), int64_t{70}},
  };
  AppendRows("lv", rows);
  // Slices of two: the wider buffers and the value-at-a-time reading both
  // happen on the read-ahead thread, in the middle of the table.
  SetReadSliceRows(2);
  for (int pass = 0; pass < 2; ++pass) {
    auto r = conn_->OpenTable("lv", ado::OpenMode::Read);
    for (const auto& row : rows) {
      ASSERT_FALSE(r->Eof());
      for (size_t i = 0; i < row.size(); ++i) {
        SCOPED_TRACE(r->Field(static_cast<int>(i)).name + " of row " + std::to_string(std::get<int64_t>(row[0])));
        EXPECT_TRUE(r->GetValue(static_cast<int>(i)) == row[i]);
      }
      r->MoveNext();
    }
    EXPECT_TRUE(r->Eof());
    SetReadSliceRows(5000);  // then all in one slice
  }
}

// The keys slices go by are read for every table of the database at once.
// They follow the key's own order (not the columns'), a table made after
// they were read still has its key, and a connection that moved to another
// database reads that database's keys.
TEST_P(OdbcRecordsetTest, SlicesFollowEachTablesOwnKeyWhereverTheConnectionIs) {
  const std::string other = test::UniqueName("rs_other");
  test::CreateDatabase(server_, other, GetParam());
  test::ScopedDatabase scopedOther(server_, other);
  Root("CREATE TABLE k (a INT NOT NULL, b INT NOT NULL, v VARCHAR(10), PRIMARY KEY (b, a));"
       "INSERT INTO k VALUES (1, 2, 'x'), (2, 1, 'y'), (3, 1, 'z'), (1, 1, 'w'), (2, 2, 'v')");
  test::RootExec(server_, "CREATE TABLE `" + other + "`.k (a INT NOT NULL PRIMARY KEY, b INT, v VARCHAR(10));"
                          "INSERT INTO `" + other + "`.k VALUES (3, 0, 'c'), (1, 2, 'a'), (2, 1, 'b')");
  SetReadSliceRows(2);
  auto read = [&](const std::string& table) {
    std::string got;
    auto r = conn_->OpenTable(table, ado::OpenMode::Read);
    for (; !r->Eof(); r->MoveNext()) got += std::get<std::string>(r->GetValue(r->FieldCount() - 1));
    return got;
  };
  EXPECT_EQ(read("k"), "wyzxv");  // by (b, a)
  Root("CREATE TABLE later (id INT PRIMARY KEY, v VARCHAR(10)); INSERT INTO later VALUES (2, 'q'), (1, 'p'), (3, 'r')");
  EXPECT_EQ(read("later"), "pqr");
  conn_->Execute("USE `" + other + "`");
  EXPECT_EQ(read("k"), "abc");  // by a alone; the first database's key (b, a) would give "cba"
}

// Slices are read ahead by a thread of the record set's own: two readers,
// an appender and plain statements on one connection must still take turns,
// and a connection lost mid-table shows as an error after the rows really
// read, never as a table that merely ended.
TEST_P(OdbcRecordsetTest, ReadAheadSharesTheConnectionAndStopsAtALostServer) {
  std::string rows;
  for (int i = 1; i <= 40; ++i) rows += std::string(i > 1 ? "," : "") + "(" + std::to_string(i) + ", '값" + std::to_string(i) + "')";
  Root("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(10)); INSERT INTO t VALUES " + rows +
       "; CREATE TABLE out_t (id INT PRIMARY KEY) ENGINE=InnoDB");
  SetReadSliceRows(4);
  {
    auto a = conn_->OpenTable("t", ado::OpenMode::Read);
    auto b = conn_->OpenTable("t", ado::OpenMode::Read);
    auto w = conn_->OpenTable("out_t", ado::OpenMode::Append);
    w->SetBatchRows(3);
    int n = 0;
    for (; !a->Eof(); a->MoveNext(), ++n) {
      ASSERT_FALSE(b->Eof());
      EXPECT_EQ(a->GetValue(0), Value(int64_t{n + 1}));
      EXPECT_EQ(b->GetValue(1), Value("값" + std::to_string(n + 1)));
      w->AddNew();
      w->SetValue(0, a->GetValue(0));
      w->Update();
      if (n % 7 == 0) conn_->Execute("UPDATE t SET v = v WHERE id = 1");
      b->MoveNext();
    }
    EXPECT_EQ(n, 40);
    EXPECT_TRUE(b->Eof());
    w->Close();
    auto c = conn_->OpenQuery("SELECT COUNT(*) FROM out_t");
    EXPECT_EQ(c->GetValue(0), Value(int64_t{40}));
  }
  auto id = conn_->OpenQuery("SELECT CONNECTION_ID()");
  const int64_t conn = std::get<int64_t>(id->GetValue(0));
  id->Close();
  auto r = conn_->OpenTable("t", ado::OpenMode::Read);
  for (int i = 0; i < 6; ++i) r->MoveNext();
  test::RootExec(server_, "KILL CONNECTION " + std::to_string(conn));
  int64_t seen = 7;
  bool failed = false;
  try {
    for (; !r->Eof(); r->MoveNext()) EXPECT_EQ(r->GetValue(0), Value(seen++));
  } catch (const BrenvoError&) {
    failed = true;
  }
  EXPECT_TRUE(failed);
  EXPECT_LT(seen, 40);
  EXPECT_FALSE(r->Eof());
  EXPECT_THROW(r->MoveNext(), BrenvoError);
}

TEST_P(OdbcRecordsetTest, ExecuteAndQueries) {
  Root("CREATE TABLE q (id INT PRIMARY KEY, s VARCHAR(20)); INSERT INTO q VALUES (1,'일'),(2,'이'),(3,'삼')");
  EXPECT_EQ(conn_->Execute("UPDATE q SET s = CONCAT(s, '!') WHERE id < 3"), 2);
  EXPECT_EQ(conn_->Execute("DELETE FROM q WHERE id = 99"), 0);
  auto rs = conn_->OpenQuery("SELECT s FROM q WHERE id = 2");
  EXPECT_EQ(rs->GetValue(0), Value(std::string("이!")));
  EXPECT_EQ(conn_->Execute("DELETE FROM q"), 3);
  rs = conn_->OpenQuery("SELECT COUNT(*) FROM q");
  EXPECT_EQ(rs->GetValue(0), Value(int64_t{0}));
  EXPECT_THROW(conn_->Execute("DELETE FROM no_such_table"), BrenvoError);
  // Two record sets open on one connection at once.
  Root("INSERT INTO q VALUES (1,'a'),(2,'b')");
  auto a = conn_->OpenTable("q", ado::OpenMode::Read);
  auto b = conn_->OpenQuery("SELECT COUNT(*) FROM q");
  EXPECT_EQ(b->GetValue(0), Value(int64_t{2}));
  a->MoveNext();
  EXPECT_EQ(a->GetValue(1), Value(std::string("b")));
  conn_->Close();
  EXPECT_EQ(conn_->State(), ado::adStateClosed);
  // Closing the connection closed its record sets; they say so instead of
  // touching the freed connection.
  EXPECT_EQ(a->State(), ado::adStateClosed);
  EXPECT_THROW(a->MoveNext(), BrenvoError);
}

}  // namespace
}  // namespace brenvo::odbc
