// Batched appends against the real CS server: a refused row inside a batch
// costs that row alone and nothing is stored twice, every batch is committed
// where other sessions see it, columns left out get their defaults, and
// batches that do not fit one parameter array (mixed kinds, different columns
// set, one very long memo among short rows) still store every value as given.
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

class OdbcBatchTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (test::TestEnv("CS_HOST").empty()) GTEST_SKIP() << "test server not started: BRENVO_TEST_CS_HOST unset";
    server_ = test::CsServer();
    db_ = test::UniqueName("batch");
    test::CreateDatabase(server_, db_, GetParam());
    scoped_ = std::make_unique<test::ScopedDatabase>(server_, db_);
    std::string cache;
    const std::string driver = GetMyODBCDllPath(cache);
    ASSERT_FALSE(driver.empty());
    conn_ = MakeOdbcConnection();
    conn_->Open("Driver=" + driver + ";SERVER=" + server_.host + ";UID=root;PWD=" + server_.rootPassword +
                ";DATABASE=" + db_);
  }

  void Root(const std::string& sql) { test::RootExec(server_, "USE `" + db_ + "`; " + sql); }
  // Seen from another session: only what was committed.
  std::vector<std::vector<std::string>> Seen(const std::string& sql) {
    return test::RootQuery(server_, "SELECT " + sql);
  }

  test::MariaServer server_;
  std::string db_;
  std::unique_ptr<test::ScopedDatabase> scoped_;
  std::unique_ptr<ado::Connection> conn_;
};

INSTANTIATE_TEST_SUITE_P(Charsets, OdbcBatchTest, ::testing::Values("utf8mb4", "euckr"));

// Without a key nothing would refuse a row stored twice, so only a rolled
// back batch keeps the count right.
TEST_P(OdbcBatchTest, ARefusedRowCostsItselfAloneAndNothingIsStoredTwice) {
  Root("CREATE TABLE n (id INT NOT NULL, s VARCHAR(8)) ENGINE=InnoDB");
  Root("CREATE TABLE k (id INT PRIMARY KEY, s VARCHAR(8)) ENGINE=InnoDB");
  for (const char* table : {"n", "k"}) {
    SCOPED_TRACE(table);
    auto w = conn_->OpenTable(table, ado::OpenMode::Append);
    w->SetBatchRows(100);
    for (int64_t i = 0; i < 250; ++i) {
      w->AddNew();
      // Row 60 is too long everywhere; in k row 170 repeats the key of row
      // 120, a row of the same batch stored a moment before.
      const int64_t id = std::string(table) == "k" && i == 170 ? 120 : i;
      w->SetValue(0, id);
      w->SetValue(1, i == 60 ? std::string("아홉 글자는 넘친다") : "행" + std::to_string(i));
      w->Update();
    }
    const auto failures = w->Flush();
    const bool keyed = std::string(table) == "k";
    ASSERT_EQ(failures.size(), keyed ? 2u : 1u);
    EXPECT_EQ(failures[0].row, 60);
    if (keyed) {
      EXPECT_EQ(failures[1].row, 170);
      EXPECT_NE(failures[1].description.find("Duplicate entry"), std::string::npos) << failures[1].description;
    }
    // Committed, and the session is back in autocommit: the rows stored one
    // by one after the rollback are visible to everyone as well.
    const std::string expect = keyed ? "248" : "249";
    const auto seen = Seen("COUNT(*), COUNT(DISTINCT id), SUM(s = '행120') FROM `" + db_ + "`." + table);
    EXPECT_EQ(seen.at(0).at(0), expect);
    EXPECT_EQ(seen.at(0).at(1), expect);
    EXPECT_EQ(seen.at(0).at(2), "1");
    w->Close();
  }
}

// Batches handed over while the one before is still on its way go in one
// chain of transactions; refused batches, long values that go alone and rows
// that set other columns break the chain, and none of it may leave a
// transaction open behind the record set.
TEST_P(OdbcBatchTest, ChainedBatchesKeepEachRowOnItsOwnAndLeaveNothingUncommitted) {
  Root("CREATE TABLE c (id INT PRIMARY KEY, s VARCHAR(8), t MEDIUMTEXT, x INT DEFAULT 7) ENGINE=InnoDB");
  const std::string longText(5000, 'L');
  auto w = conn_->OpenTable("c", ado::OpenMode::Append);
  w->SetBatchRows(50);
  std::vector<long long> expectFailed;
  int64_t stored = 0;
  for (int64_t i = 0; i < 1500; ++i) {
    w->AddNew();
    const bool dup = i == 260 || i == 1111;  // repeat keys of the batches before
    w->SetValue(0, dup ? i - 55 : i);
    w->SetValue(1, i == 333 ? std::string("아홉 글자는 넘친다") : "행" + std::to_string(i));
    if (i % 97 == 0) w->SetValue(2, longText);
    if (i >= 600 && i < 640) w->SetValue(3, int64_t{1});
    w->Update();
    if (dup || i == 333) expectFailed.push_back(i);
    else ++stored;
  }
  const auto failures = w->Flush();
  ASSERT_EQ(failures.size(), expectFailed.size());
  for (size_t f = 0; f < failures.size(); ++f) EXPECT_EQ(failures[f].row, expectFailed[f]);
  const auto seen = Seen("COUNT(*), SUM(t IS NOT NULL), SUM(x = 1), SUM(LENGTH(t)) FROM `" + db_ + "`.c");
  EXPECT_EQ(seen.at(0).at(0), std::to_string(stored));
  EXPECT_EQ(seen.at(0).at(1), "16");
  EXPECT_EQ(seen.at(0).at(2), "40");
  EXPECT_EQ(seen.at(0).at(3), std::to_string(16 * 5000));
  // The connection is back in autocommit: a statement after the batches is
  // seen by everyone at once, before and after the record set is closed.
  conn_->Execute("INSERT INTO c (id) VALUES (99999)");
  EXPECT_EQ(Seen("COUNT(*) FROM `" + db_ + "`.c WHERE id = 99999").at(0).at(0), "1");
  w->Close();
  conn_->Execute("INSERT INTO c (id) VALUES (99998)");
  EXPECT_EQ(Seen("COUNT(*) FROM `" + db_ + "`.c").at(0).at(0), std::to_string(stored + 2));
}

TEST_P(OdbcBatchTest, BatchesThatDoNotFitOneArrayStoreEveryValueAsGiven) {
  Root("CREATE TABLE m (id INT PRIMARY KEY, i INT DEFAULT 5, d DOUBLE, s VARCHAR(20) DEFAULT '기본', t MEDIUMTEXT)");
  std::string memo;
  for (int i = 0; i < 40000; ++i) memo += i % 100 == 99 ? "\r\n" : "가";
  auto w = conn_->OpenTable("m", ado::OpenMode::Append);
  w->SetBatchRows(500);
  struct Row {
    std::optional<Value> i, d, s, t;
  };
  std::vector<Row> rows;
  for (int n = 0; n < 1000; ++n) {
    Row r;
    // The first hundred mix kinds within a column and leave columns unset;
    // the second batch is uniform but for one memo of 120,000 bytes.
    if (n < 100) {
      if (n % 3 == 0) r.i = Value(std::to_string(n));  // text into INT
      else if (n % 3 == 1) r.i = Value(int64_t{n});
      r.d = n % 2 ? Value(int64_t{n}) : Value(n + 0.1);
      if (n % 4) r.s = Value("줄 " + std::to_string(n));
    } else {
      r.i = Value(int64_t{n});
      r.d = Value(n / 7.0);
      r.s = Value(std::string(n % 2 ? "" : "짧은 값"));
      r.t = n == 700 ? Value(memo) : Value(ado::Null{});
    }
    rows.push_back(r);
    w->AddNew();
    w->SetValue(0, int64_t{n});
    if (r.i) w->SetValue(1, *r.i);
    if (r.d) w->SetValue(2, *r.d);
    if (r.s) w->SetValue(3, *r.s);
    if (r.t) w->SetValue(4, *r.t);
    w->Update();
  }
  EXPECT_TRUE(w->Flush().empty());
  w->Close();

  auto r = conn_->OpenTable("m", ado::OpenMode::Read);
  for (int n = 0; n < 1000; ++n, r->MoveNext()) {
    ASSERT_FALSE(r->Eof());
    SCOPED_TRACE("row " + std::to_string(n));
    const Row& e = rows[static_cast<size_t>(n)];
    Value i = e.i ? *e.i : Value(int64_t{5});
    if (const auto* s = std::get_if<std::string>(&i)) i = Value(int64_t{std::stoll(*s)});
    Value d = *e.d;
    if (const auto* x = std::get_if<int64_t>(&d)) d = Value(static_cast<double>(*x));
    EXPECT_EQ(r->GetValue(1), i);
    EXPECT_EQ(r->GetValue(2), d);
    EXPECT_EQ(r->GetValue(3), e.s ? *e.s : Value(std::string("기본")));
    EXPECT_EQ(r->GetValue(4), e.t ? *e.t : Value(ado::Null{}));
  }
  EXPECT_TRUE(r->Eof());
}

// A copy leaves NULL values unset: where NULL is the column's default that
// is the same row, but a default of its own must still be given, and a
// column that takes no NULL must still refuse the row.
TEST_P(OdbcBatchTest, LeftOutColumnsGetTheirOwnDefaults) {
  Root("CREATE TABLE u (id INT PRIMARY KEY, a INT, b VARCHAR(10) DEFAULT NULL, c VARCHAR(10) DEFAULT 'c',"
       " d INT NOT NULL, e DOUBLE)");
  auto w = conn_->OpenTable("u", ado::OpenMode::Append);
  w->SetBatchRows(50);
  for (int64_t n = 0; n < 120; ++n) {
    w->AddNew();
    w->SetValue(0, n);
    if (n % 2) w->SetValue(1, n);
    if (n % 3) w->SetValue(2, "비" + std::to_string(n));
    if (n >= 100 && n % 5 == 0) w->SetValue(3, std::string("셋"));  // only in the last batch
    if (n != 77) w->SetValue(4, n * 10);
    if (n % 7 == 0) w->SetValue(5, n / 4.0);
    w->Update();
  }
  const auto failures = w->Flush();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].row, 77);
  w->Close();
  auto r = conn_->OpenTable("u", ado::OpenMode::Read);
  for (int64_t n = 0; n < 120; ++n) {
    if (n == 77) continue;
    ASSERT_FALSE(r->Eof());
    SCOPED_TRACE("row " + std::to_string(n));
    EXPECT_EQ(r->GetValue(0), Value(n));
    EXPECT_EQ(r->GetValue(1), n % 2 ? Value(n) : Value(ado::Null{}));
    EXPECT_EQ(r->GetValue(2), n % 3 ? Value("비" + std::to_string(n)) : Value(ado::Null{}));
    EXPECT_EQ(r->GetValue(3), Value(std::string(n >= 100 && n % 5 == 0 ? "셋" : "c")));
    EXPECT_EQ(r->GetValue(4), Value(n * 10));
    EXPECT_EQ(r->GetValue(5), n % 7 == 0 ? Value(n / 4.0) : Value(ado::Null{}));
    r->MoveNext();
  }
  EXPECT_TRUE(r->Eof());
}

// Batches go side by side over several connections, and a later batch may
// reach the server first. A key that two batches share must still be stored
// from the earlier one: here the first batch stalls on a trigger while the
// second takes the key, and each row's outcome must be what storing the
// batches one after another gives.
TEST_P(OdbcBatchTest, ALaterBatchNeverTakesAKeyFromAnEarlierOne) {
  Root("CREATE TABLE o (id INT PRIMARY KEY, s VARCHAR(8)) ENGINE=InnoDB;"
       "CREATE TRIGGER o_slow BEFORE INSERT ON o FOR EACH ROW BEGIN IF NEW.id = 5 THEN DO SLEEP(1); END IF; END");
  auto w = conn_->OpenTable("o", ado::OpenMode::Append);
  w->SetBatchRows(20);
  for (int64_t i = 0; i < 100; ++i) {
    w->AddNew();
    // Row 30 (second batch) repeats the key of row 10 (first batch, after the stall).
    w->SetValue(0, i == 30 ? int64_t{10} : i);
    w->SetValue(1, "행" + std::to_string(i));
    w->Update();
  }
  const auto failures = w->Flush();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].row, 30);
  EXPECT_NE(failures[0].description.find("Duplicate entry"), std::string::npos) << failures[0].description;
  const auto seen = Seen("COUNT(*), MAX(s = '행10' AND id = 10) FROM `" + db_ + "`.o");
  EXPECT_EQ(seen.at(0).at(0), "99");
  EXPECT_EQ(seen.at(0).at(1), "1");
  w->Close();
}

// The side connections a batch may go over are opened by the connection's
// own connection string; they are used only where they reach the very
// database the connection is on now, or rows would land elsewhere.
TEST_P(OdbcBatchTest, BatchesLandInTheDatabaseTheConnectionIsOn) {
  const std::string other = test::UniqueName("batch_other");
  test::CreateDatabase(server_, other, GetParam());
  test::ScopedDatabase scopedOther(server_, other);
  for (const std::string& db : {db_, other})
    test::RootExec(server_, "CREATE TABLE `" + db + "`.t (id INT PRIMARY KEY) ENGINE=InnoDB");
  conn_->Execute("USE `" + other + "`");
  auto w = conn_->OpenTable("t", ado::OpenMode::Append);
  w->SetBatchRows(10);
  for (int64_t i = 0; i < 95; ++i) {
    w->AddNew();
    w->SetValue(0, i);
    w->Update();
  }
  EXPECT_TRUE(w->Flush().empty());
  w->Close();
  EXPECT_EQ(Seen("COUNT(*) FROM `" + other + "`.t").at(0).at(0), "95");
  EXPECT_EQ(Seen("COUNT(*) FROM `" + db_ + "`.t").at(0).at(0), "0");
}

// Side connections stay with the connection from one table to the next, and
// may be opened ahead, before anything says which database rows go to: a
// side connection carries rows only where it is proven on the database the
// connection is on when the rows go.
TEST_P(OdbcBatchTest, SideConnectionsCarryRowsOnlyToTheDatabaseTheConnectionIsOnNow) {
  const std::string other = test::UniqueName("batch_other");
  test::CreateDatabase(server_, other, GetParam());
  test::ScopedDatabase scopedOther(server_, other);
  for (const std::string& db : {db_, other})
    test::RootExec(server_, "CREATE TABLE `" + db + "`.t (id INT PRIMARY KEY) ENGINE=InnoDB");
  auto append = [&](int64_t from) {
    auto w = conn_->OpenTable("t", ado::OpenMode::Append);
    w->SetBatchRows(10);
    for (int64_t i = from; i < from + 95; ++i) {
      w->AddNew();
      w->SetValue(0, i);
      w->Update();
    }
    EXPECT_TRUE(w->Flush().empty());
    w->Close();
  };
  conn_->WillAppend();
  append(0);  // over the side connections opened ahead, kept for the next table
  conn_->Execute("USE `" + other + "`");
  append(1000);
  EXPECT_EQ(Seen("COUNT(*), MIN(id) FROM `" + db_ + "`.t").at(0), (std::vector<std::string>{"95", "0"}));
  EXPECT_EQ(Seen("COUNT(*), MIN(id) FROM `" + other + "`.t").at(0), (std::vector<std::string>{"95", "1000"}));

  // Opened ahead on one database, asked for rows on another.
  conn_->Close();
  SetUp();
  test::RootExec(server_, "CREATE TABLE `" + db_ + "`.t (id INT PRIMARY KEY) ENGINE=InnoDB");
  conn_->WillAppend();
  conn_->Execute("USE `" + other + "`");
  append(2000);
  EXPECT_EQ(Seen("COUNT(*) FROM `" + db_ + "`.t").at(0).at(0), "0");
  EXPECT_EQ(Seen("COUNT(*) FROM `" + other + "`.t WHERE id >= 2000").at(0).at(0), "95");
}

// A connection closed or dropped while its side connections are still
// connecting ahead waits for them and frees them before its own handles.
TEST_P(OdbcBatchTest, AConnectionClosesCleanlyWhileSideConnectionsAreOpeningAhead) {
  conn_->WillAppend();
  conn_->Close();
  EXPECT_EQ(conn_->State(), ado::adStateClosed);
  SetUp();
  conn_->WillAppend();
  conn_->WillAppend();  // no more than the lanes want
  conn_.reset();
  SetUp();
  Root("CREATE TABLE t (id INT PRIMARY KEY) ENGINE=InnoDB");
  conn_->WillAppend();
  auto w = conn_->OpenTable("t", ado::OpenMode::Append);
  w->SetBatchRows(10);
  for (int64_t i = 0; i < 45; ++i) {
    w->AddNew();
    w->SetValue(0, i);
    w->Update();
  }
  EXPECT_TRUE(w->Flush().empty());
  w->Close();
  conn_->Close();
  EXPECT_EQ(Seen("COUNT(*) FROM `" + db_ + "`.t").at(0).at(0), "45");
}

// Once side connections are ready, a table whose rows fit one batch goes
// over one of them too: its rows must still succeed or fail each on its own,
// a key repeated inside the batch or already stored refused where sending
// the rows one after another refuses it.
TEST_P(OdbcBatchTest, ATableOfOneBatchOverASideConnectionStillFailsRowByRow) {
  Root("CREATE TABLE big (id INT PRIMARY KEY) ENGINE=InnoDB;"
       "CREATE TABLE k (id INT PRIMARY KEY, s VARCHAR(8)) ENGINE=InnoDB; INSERT INTO k VALUES (7, 'old')");
  conn_->WillAppend();
  auto big = conn_->OpenTable("big", ado::OpenMode::Append);
  big->SetBatchRows(10);
  for (int64_t i = 0; i < 35; ++i) {
    big->AddNew();
    big->SetValue(0, i);
    big->Update();
  }
  EXPECT_TRUE(big->Flush().empty());
  big->Close();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    auto w = conn_->OpenTable("k", ado::OpenMode::Append);
    w->SetBatchRows(50);
    const int64_t base = round * 100;
    for (int64_t id : {base + 1, base + 2, int64_t{7}, base + 3, base + 2, base + 4}) {
      w->AddNew();
      w->SetValue(0, id);
      w->SetValue(1, "r" + std::to_string(id));
      w->Update();
    }
    const auto failures = w->Flush();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].row, 2);
    EXPECT_EQ(failures[1].row, 4);
    w->Close();
  }
  EXPECT_EQ(Seen("COUNT(*), SUM(s = 'old') FROM `" + db_ + "`.k").at(0), (std::vector<std::string>{"9", "1"}));
  EXPECT_EQ(Seen("COUNT(*) FROM `" + db_ + "`.big").at(0).at(0), "35");
}

// An account allowed only a few connections (shared hosting) must still
// have room for the copy run's own second connection after the side
// connections opened ahead: here it has room for none of them.
TEST_P(OdbcBatchTest, SideConnectionsLeaveRoomInAnAccountsConnectionLimit) {
  const std::string user = test::UniqueName("lim").substr(0, 16);
  test::RootExec(server_, "CREATE USER '" + user + "'@'%' IDENTIFIED BY 'Lim-pw-7342' WITH MAX_USER_CONNECTIONS 3;"
                          "GRANT ALL ON `" + db_ + "`.* TO '" + user + "'@'%'");
  struct DropUser {
    test::MariaServer server;
    std::string user;
    ~DropUser() { test::RootExec(server, "DROP USER IF EXISTS '" + user + "'@'%'"); }
  } drop{server_, user};
  Root("CREATE TABLE t (id INT PRIMARY KEY) ENGINE=InnoDB");
  std::string cache;
  const std::string as = "Driver=" + GetMyODBCDllPath(cache) + ";SERVER=" + server_.host + ";UID=" + user +
                         ";PWD=Lim-pw-7342;DATABASE=" + db_;
  auto conn = MakeOdbcConnection();
  conn->Open(as);
  conn->WillAppend();
  auto w = conn->OpenTable("t", ado::OpenMode::Append);
  w->SetBatchRows(10);
  for (int64_t i = 0; i < 45; ++i) {
    w->AddNew();
    w->SetValue(0, i);
    w->Update();
  }
  EXPECT_TRUE(w->Flush().empty());
  auto second = MakeOdbcConnection();
  EXPECT_NO_THROW(second->Open(as));
  w->Close();
  EXPECT_EQ(Seen("COUNT(*) FROM `" + db_ + "`.t").at(0).at(0), "45");
}

// The session's settings are written into a statement for each side
// connection: only plain values get there; anything that would need quoting
// leaves the session without side connections.
TEST(SideState, OnlyPlainSettingsAreCopied) {
  const auto plain = ParseSideState("STRICT_TRANS_TABLES\x01" "42\x01shop\x01+09:00\x01" "1\x01" "0");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->connectionId, "42");
  EXPECT_EQ(plain->database, "shop");
  EXPECT_EQ(plain->settings,
            "SET SESSION sql_mode = 'STRICT_TRANS_TABLES', time_zone = '+09:00', foreign_key_checks = 1, "
            "unique_checks = 0, innodb_lock_wait_timeout = 2");
  for (const char* odd : {"A\x01" "42\x01shop\x01x'; DROP TABLE t; --\x01" "1\x01" "1",
                          "A'\x01" "42\x01shop\x01+09:00\x01" "1\x01" "1", "A\x01" "4 2\x01shop\x01+09:00\x01" "1\x01" "1",
                          "A\x01" "42\x01shop\x01+09:00\x01" "2\x01" "1"}) {
    const auto state = ParseSideState(odd);
    ASSERT_TRUE(state) << odd;
    EXPECT_TRUE(state->settings.empty()) << odd;
    EXPECT_TRUE(state->connectionId.empty()) << odd;
  }
  EXPECT_EQ(ParseSideState("NO_BACKSLASH_ESCAPES\x01" "42\x01shop\x01'\x01" "1\x01" "1")->sqlMode, "NO_BACKSLASH_ESCAPES");
  EXPECT_FALSE(ParseSideState("A\x01" "42\x01shop"));
}

}  // namespace
}  // namespace brenvo::odbc
