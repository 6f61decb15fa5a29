// cMySQL against the real CS test server.
#include "db/mysql/cmysql.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "db/mysql/direct_db.h"
#include "mariadb_test_db.h"
#include "support/test_support.h"
#include "util/error.h"

namespace brenvo::mysql {
namespace {

using test::CsServer;
using test::MariaServer;
using test::ScriptedPrompter;

const std::string kCrLf = "\r\n";

class CMySqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::TestEnv("CS_HOST").empty()) GTEST_SKIP() << "test server not started: BRENVO_TEST_CS_HOST unset";
    server_ = CsServer();
    dbName_ = test::UniqueName("cmysql");
    test::CreateDatabase(server_, dbName_);
    scoped_ = std::make_unique<test::ScopedDatabase>(server_, dbName_);
  }

  // A connected instance on the test database as root.
  std::unique_ptr<cMySQL> Connect() {
    auto db = std::make_unique<cMySQL>(prompter_);
    EXPECT_TRUE(db->real_connect(server_.host, "root", server_.rootPassword, dbName_, 3306, "", 0, false));
    return db;
  }

  void Root(const std::string& sql) { test::RootExec(server_, "USE `" + dbName_ + "`; " + sql); }

  MariaServer server_;
  std::string dbName_;
  std::unique_ptr<test::ScopedDatabase> scoped_;
  ScriptedPrompter prompter_;
};

TEST_F(CMySqlTest, PortPropertyKeepsItsValueFor3306AndTakesOthers) {
  cMySQL db(prompter_);
  EXPECT_EQ(db.port(), 0);
  ASSERT_TRUE(db.real_connect(server_.host, "root", server_.rootPassword, dbName_, 3306, "", 0, true));
  EXPECT_EQ(db.port(), 0);
  EXPECT_EQ(db.host(), server_.host);
  EXPECT_EQ(db.db(), dbName_);
  // Nothing listens on 3307: the connect fails, silently, but the property is taken.
  EXPECT_FALSE(db.real_connect(server_.host, "root", server_.rootPassword, dbName_, 3307, "", 0, true));
  EXPECT_EQ(db.port(), 3307);
  EXPECT_TRUE(prompter_.shown().empty());
}

TEST_F(CMySqlTest, EmptyArgumentsUseTheProperties) {
  cMySQL db(prompter_);
  db.host(server_.host);
  db.user("root");
  db.password(server_.rootPassword);
  db.db(dbName_);
  ASSERT_TRUE(db.real_connect("", "", "", "", 3306, "", 0, false));
  auto rs = db.query("SELECT DATABASE()");
  ASSERT_TRUE(rs);
  rs->MoveFirst();
  EXPECT_EQ(rs->Text(0), dbName_);
}

TEST_F(CMySqlTest, ConnectFailureMessages) {
  const std::string first = "데이터베이스 서버에 접속할 수 없습니다.";
  const std::string unreachableTail =
      kCrLf + kCrLf + "인터넷이 연결되어 있는지 확인 해 주세요." + kCrLf + kCrLf +
      "인터넷이 연결되어 있다면 방화벽이나 각종 스파이웨어 차단 프로그램이 가동중인지 확인해 주세요." + kCrLf +
      "관련 프로그램이 데이터베이스 접속을 방해하는 경우 일 수도 있습니다.";
  {
    // An address of this run's range where no server listens.
    std::string nowhere = server_.host.substr(0, server_.host.rfind('.')) + ".99";
    cMySQL db(prompter_);
    EXPECT_FALSE(db.real_connect(nowhere, "root", "x", "", 3306, "", 0, false));
    ASSERT_EQ(prompter_.messages().size(), 1u);
    const std::string m = prompter_.messages()[0];
    const std::string lib = db.err_description();
    EXPECT_EQ(m, "Error " + std::to_string(db.err_no()) + " " + lib + kCrLf + kCrLf + first + unreachableTail);
    EXPECT_FALSE(db.connected());
  }
  prompter_.clear();
  {
    cMySQL db(prompter_);
    EXPECT_FALSE(db.real_connect(server_.host, "root", "wrong-password", "", 3306, "", 0, false));
    ASSERT_EQ(prompter_.messages().size(), 1u);
    EXPECT_EQ(db.err_no(), 1045);
    EXPECT_EQ(prompter_.messages()[0], "Error 1045 " + db.err_description() + kCrLf + kCrLf + first);
  }
  prompter_.clear();
  {
    cMySQL db(prompter_);
    EXPECT_FALSE(db.real_connect(server_.host, "root", "wrong-password", "", 3306, "", 0, true));
    EXPECT_TRUE(prompter_.shown().empty());
    // A later attempt on the same instance may succeed.
    EXPECT_TRUE(db.real_connect(server_.host, "root", server_.rootPassword, "", 3306, "", 0, true));
  }
}

TEST_F(CMySqlTest, SelectWithoutRowsAndUpdateCounts) {
  Root("CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(20)); INSERT INTO t VALUES (1,'a'),(2,'b'),(3,'c')");
  auto db = Connect();
  auto rs = db->query("SELECT id, name FROM t WHERE id > 10");
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->FieldCount(), 2);
  EXPECT_EQ(rs->Field(1).name, "name");
  EXPECT_EQ(rs->Field(1).type, ado::adBSTR);
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(rs->RecordCount(), 0);
  EXPECT_EQ(db->affected_rows(), 0);

  EXPECT_FALSE(db->query("UPDATE t SET name = 'z' WHERE id >= 2"));
  EXPECT_EQ(db->affected_rows(), 2);

  rs = db->query("SELECT id, name FROM t ORDER BY id");
  ASSERT_TRUE(rs);
  EXPECT_EQ(db->affected_rows(), 3);
  EXPECT_EQ(db->num_rows(), 3);
  EXPECT_EQ(db->num_fields(), 2);
  // Left on the last row added.
  EXPECT_FALSE(rs->Eof());
  EXPECT_EQ(rs->Text("ID"), "3");
  rs->MoveFirst();
  EXPECT_EQ(rs->Text("name"), "a");
  EXPECT_TRUE(prompter_.shown().empty());
}

TEST_F(CMySqlTest, EqualColumnNamesAreQualified) {
  Root("CREATE TABLE a (id INT, v INT); CREATE TABLE b (id INT, w INT); CREATE TABLE c (id INT);"
       "INSERT INTO a VALUES (1, 10); INSERT INTO b VALUES (1, 20); INSERT INTO c VALUES (1)");
  auto db = Connect();
  auto rs = db->query("SELECT a.id, a.v, b.id, b.w FROM a JOIN b ON a.id = b.id");
  ASSERT_TRUE(rs);
  ASSERT_EQ(rs->FieldCount(), 4);
  EXPECT_EQ(rs->Field(0).name, "a.id");
  EXPECT_EQ(rs->Field(1).name, "v");
  EXPECT_EQ(rs->Field(2).name, "b.id");
  EXPECT_EQ(rs->Field(3).name, "w");
  EXPECT_EQ(rs->Text("b.id"), "1");

  rs = db->query("SELECT a.id, b.id, c.id FROM a, b, c");
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->Field(0).name, "a.id");
  EXPECT_EQ(rs->Field(1).name, "b.id");
  EXPECT_EQ(rs->Field(2).name, "id");
}

TEST_F(CMySqlTest, ValuesAreTrimmedAndNullIsEmpty) {
  Root("CREATE TABLE t (id INT, s VARCHAR(30), n VARCHAR(5));"
       "INSERT INTO t VALUES (1, '  두 칸 앞, 뒤 한 칸 ', NULL), (2, '\tTab\t', '')");
  auto db = Connect();
  auto rs = db->query("SELECT s, n FROM t ORDER BY id");
  ASSERT_TRUE(rs);
  rs->MoveFirst();
  EXPECT_EQ(rs->Text(0), "두 칸 앞, 뒤 한 칸");
  EXPECT_EQ(rs->Text(1), "");
  EXPECT_TRUE(std::holds_alternative<std::string>(rs->GetValue(1)));
  rs->MoveNext();
  EXPECT_EQ(rs->Text(0), "\tTab\t");  // only blanks are stripped
  // The declared length is the library's field length (bytes in utf8mb4).
  EXPECT_EQ(rs->Field(0).definedSize, 120);
}

TEST_F(CMySqlTest, KoreanSurvivesEveryCharacterSet) {
  const std::string text = "㈜대한상사 Kim's 무역\\본점";
  for (const char* cs : {"utf8mb4", "euckr"}) {
    SCOPED_TRACE(cs);
    Root(std::string("DROP TABLE IF EXISTS k; CREATE TABLE k (s VARCHAR(60)) CHARACTER SET ") + cs);
    auto db = Connect();
    EXPECT_FALSE(db->query("INSERT INTO k VALUES ('" + db->escape_string(text) + "')"));
    EXPECT_EQ(db->affected_rows(), 1);
    auto rs = db->query("SELECT s FROM k");
    ASSERT_TRUE(rs);
    rs->MoveFirst();
    EXPECT_EQ(rs->Text(0), text);
  }
  EXPECT_TRUE(prompter_.shown().empty());
}

TEST_F(CMySqlTest, QueryReconnectsOnceAfterTheServerKilledTheConnection) {
  Root("CREATE TABLE t (id INT); INSERT INTO t VALUES (7)");
  auto db = Connect();
  const int32_t before = db->thread_id();
  test::RootExec(server_, "KILL " + std::to_string(before));
  auto rs = db->query("SELECT id FROM t");
  ASSERT_TRUE(rs);
  rs->MoveFirst();
  EXPECT_EQ(rs->Text(0), "7");
  EXPECT_TRUE(prompter_.shown().empty());
  EXPECT_NE(db->thread_id(), before);
  auto list = test::RootQuery(server_, "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " +
                                           std::to_string(before));
  EXPECT_EQ(list.at(0).at(0), "0");
}

TEST_F(CMySqlTest, ReconnectThatFailsGivesNoRowSet) {
  test::CreateAccount(server_, dbName_, "pw1", dbName_);
  auto db = std::make_unique<cMySQL>(prompter_);
  ASSERT_TRUE(db->real_connect(server_.host, dbName_, "pw1", dbName_, 3306, "", 0, true));
  const int32_t id = db->thread_id();
  test::RootExec(server_, "SET PASSWORD FOR `" + dbName_ + "`@'%' = PASSWORD('other'); KILL " + std::to_string(id));
  EXPECT_FALSE(db->query("SELECT 1"));
  EXPECT_TRUE(prompter_.shown().empty());  // silent connect, and no query message
  test::DropAccount(server_, dbName_);
}

TEST_F(CMySqlTest, FailedStatementShowsTheErrorAndGivesNoRowSet) {
  auto db = Connect();
  EXPECT_FALSE(db->query("SELECT * FROM no_such_table"));
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0], "Error 1146 (" + db->err_description() + ")");
  EXPECT_EQ(db->affected_rows(), -1);  // the library's all-bits count as 32 bits
}

// A server that takes the connection and never says a word: the listening
// socket completes the TCP handshake by itself, nobody accepts or answers.
class SilentListener {
 public:
  explicit SilentListener(const std::string& address) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    socklen_t len = sizeof a;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd_, 8) != 0) return;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~SilentListener() { ::close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST_F(CMySqlTest, AServerThatNeverAnswersEndsTheConnectWithinItsLimit) {
  SilentListener silent(server_.host);
  ASSERT_NE(silent.port(), 0);
  cMySQL db(prompter_);
  EXPECT_EQ(db.timeouts().connect, 10u);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(db.real_connect(server_.host, "root", "x", "", silent.port(), "", 0, false));
  // Without a limit this waits for the system's TCP time-out (minutes).
  EXPECT_LT(SecondsSince(t0), 30);
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0].rfind("Error 2013 ", 0), 0u) << prompter_.messages()[0];
  EXPECT_NE(prompter_.messages()[0].find("데이터베이스 서버에 접속할 수 없습니다."), std::string::npos);
}

TEST_F(CMySqlTest, AStatementThatStallsIsCutOffReportedAndNotSentAgain) {
  cMySQL db(prompter_);
  db.timeouts({10, 2, 2});
  ASSERT_TRUE(db.real_connect(server_.host, "root", server_.rootPassword, dbName_, 3306, "", 0, false));
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(db.query("SELECT SLEEP(5)"));
  EXPECT_LT(SecondsSince(t0), 4.5);  // one cut-off after 2 s, no second attempt
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0].rfind("Error 2013 (", 0), 0u) << prompter_.messages()[0];
  EXPECT_NE(prompter_.messages()[0].find("서버가 2초 동안 응답하지 않아 중단했습니다."), std::string::npos);
  // The instance is usable again: the next statement reconnects.
  prompter_.clear();
  auto rs = db.query("SELECT 1");
  ASSERT_TRUE(rs);
  EXPECT_TRUE(prompter_.shown().empty());
}

TEST_F(CMySqlTest, OtherMembersRaiseWithTheirSource) {
  auto db = Connect();
  try {
    db->select_db("no_such_db_here");
    FAIL() << "no error";
  } catch (const BrenvoError& e) {
    EXPECT_EQ(e.number(), 1049);
    EXPECT_EQ(e.source(), "cMysql::select_db");
    EXPECT_EQ(e.description(), db->err_description());
  }
  EXPECT_EQ(db->db(), "no_such_db_here");
  try {
    db->real_query("SELEC 1", 7);
    FAIL() << "no error";
  } catch (const BrenvoError& e) {
    EXPECT_EQ(e.number(), 1064);
    EXPECT_EQ(e.source(), "cMysql::real_query");
  }
  try {
    (void)db->info();  // no text after a plain SELECT
    FAIL() << "no error";
  } catch (const BrenvoError& e) {
    EXPECT_EQ(e.source(), "cMysql::info");
  }
  EXPECT_TRUE(prompter_.shown().empty());
  // real_query sends only the first length bytes.
  auto rs = db->real_query("SELECT 12345", 10);
  ASSERT_TRUE(rs);
  rs->MoveFirst();
  EXPECT_EQ(rs->Text(0), "123");
}

TEST_F(CMySqlTest, NamesAndPatternsWithQuotesDoNotBreakStatements) {
  auto db = Connect();
  const std::string odd = dbName_ + "_q'`\\";
  db->create_db(odd);
  test::ScopedDatabase cleanup(server_, odd);
  auto rs = db->list_dbs(odd);
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->RecordCount(), 1);
  rs = db->list_dbs(dbName_ + "\\_q'%");
  ASSERT_TRUE(rs);
  ASSERT_EQ(rs->RecordCount(), 1);
  rs->MoveFirst();
  EXPECT_EQ(rs->Text(0), odd);
  db->select_db(odd);
  EXPECT_FALSE(db->query("CREATE TABLE it (x INT)"));
  rs = db->list_tables("i'");
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->RecordCount(), 0);
  rs = db->list_tables("");
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->RecordCount(), 1);
  rs = db->list_fields("it", "");
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->Field(0).name, "x");
  EXPECT_TRUE(prompter_.shown().empty());
}

TEST_F(CMySqlTest, ServerInformation) {
  auto db = Connect();
  EXPECT_FALSE(db->get_client_info().empty());
  EXPECT_NE(db->get_server_info().find("MariaDB"), std::string::npos);
  EXPECT_EQ(db->get_proto_info(), "10");
  EXPECT_NE(db->get_host_info().find(server_.host), std::string::npos);
  EXPECT_NE(db->stat().find("Uptime"), std::string::npos);
  EXPECT_GT(db->thread_id(), 0);
  db->ping();
  auto rs = db->list_processes();
  ASSERT_TRUE(rs);
  EXPECT_GE(rs->RecordCount(), 1);
  EXPECT_FALSE(db->query("CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY)"));
  EXPECT_FALSE(db->query("INSERT INTO t VALUES (NULL), (NULL)"));
  EXPECT_EQ(db->insert_id(), 1);
  EXPECT_NE(db->info().find("Records: 2"), std::string::npos);
  db->free_result();
  db->free_result();
  EXPECT_TRUE(db->eof());
}

TEST_F(CMySqlTest, LocalhostGoesThroughTheLocalSocket) {
  MariaServer local = test::LocalServer();
  if (local.socket.empty()) GTEST_SKIP() << "local test server not started";
  UseLocalSocket(local.socket);
  cMySQL db(prompter_);
  ASSERT_TRUE(db.real_connect("localhost", "root", local.rootPassword, "", 3306, "", 0, false));
  EXPECT_NE(db.get_host_info().find("socket"), std::string::npos);
  auto rs = db.query("SELECT @@socket");
  ASSERT_TRUE(rs);
  rs->MoveFirst();
  EXPECT_EQ(rs->Text(0), local.socket);
}

// ---- the main window's direct connection ----

class DirectDbTest : public CMySqlTest {
 protected:
  std::vector<std::string> logged_;
};

TEST_F(DirectDbTest, SelectExecuteAndClose) {
  Root("CREATE TABLE t (id INT, s VARCHAR(10)); INSERT INTO t VALUES (1,'x'),(2,'y')");
  DirectDb d(prompter_, [this](const std::string& line) { logged_.push_back(line); });
  ASSERT_TRUE(d.DBConnect(server_.host, "root", server_.rootPassword, dbName_));
  std::unique_ptr<MemoryRecordset> rs;
  EXPECT_EQ(d.DBSelect(rs, "SELECT id, s FROM t ORDER BY id"), 2);
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->Text("s"), "x");  // on the first row
  EXPECT_EQ(d.DBSelect(rs, "SELECT id FROM t WHERE id = 99"), 0);
  ASSERT_TRUE(rs);
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(d.DBExecute("UPDATE t SET s = 'z'"), 2);
  EXPECT_EQ(d.DBExecute("UPDATE t SET s = 'z'"), 0);
  EXPECT_EQ(d.DBExecute("SELECT * FROM t"), 2);
  // A failing statement: its message, no row set, a count of 0 or less.
  EXPECT_LE(d.DBSelect(rs, "SELECT * FROM missing"), 0);
  EXPECT_FALSE(rs);
  EXPECT_EQ(d.DBExecute("DELETE FROM missing"), 0);
  EXPECT_EQ(prompter_.messages().size(), 2u);
  d.DBClose();
  EXPECT_EQ(d.instance(), nullptr);
  d.DBClose();
  EXPECT_TRUE(logged_.empty());
}

TEST_F(DirectDbTest, EveryConnectMakesAFreshInstance) {
  DirectDb d(prompter_, [this](const std::string& line) { logged_.push_back(line); });
  ASSERT_TRUE(d.DBConnect(server_.host, "root", server_.rootPassword, dbName_));
  cMySQL* first = d.instance();
  const int32_t firstThread = first->thread_id();
  ASSERT_TRUE(d.DBConnect(server_.host, "root", server_.rootPassword, dbName_));
  EXPECT_NE(d.instance()->thread_id(), firstThread);
  // A failed connect keeps its message box (the connect's own) and gives false.
  EXPECT_FALSE(d.DBConnect(server_.host, "root", "wrong", dbName_));
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0].rfind("Error 1045 ", 0), 0u);
  d.DBClose();
  d.DBClose();
}

TEST_F(DirectDbTest, WithoutAnInstanceSelectRaises) {
  DirectDb d(prompter_, nullptr);
  std::unique_ptr<MemoryRecordset> rs;
  EXPECT_THROW(d.DBSelect(rs, "SELECT 1"), BrenvoError);
  d.DBClose();
}

}  // namespace
}  // namespace brenvo::mysql
