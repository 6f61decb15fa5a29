// The data-source record, the driver search and OpenMySQL's checks and traps.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <filesystem>
#include <fstream>

#include "db/odbc/myodbc_dsn.h"
#include "db/odbc/odbc_connection.h"
#include "db/odbc/open_mysql.h"
#include "mariadb_test_db.h"
#include "odbc_test_env.h"
#include "support/test_support.h"

namespace brenvo::odbc {
namespace {

using test::ScriptedPrompter;

std::vector<std::string> IniLines() {
  std::vector<std::string> out;
  std::ifstream f(test::OdbcSysIniPath());
  for (std::string line; std::getline(f, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

// The driver this machine has (the tests need a real one to connect).
std::string RealDriver() {
  std::string cache;
  return GetMyODBCDllPath(cache);
}

class DsnTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::remove(test::OdbcSysIniPath()); }
  ScriptedPrompter prompter_;
  test::TempDir tmp_;
};

TEST_F(DsnTest, RecordHasTheValueNamesInOrderAndTheSourcesEntry) {
  std::string cache;
  const std::string driver = (tmp_.path() / "libmaodbc.so").string();
  test::WriteFile(driver, "x");
  CreateMyODBCDSN(kDsnName, "brenvocs_kim", kDsnDescription, "10.1.2.3", "kim", prompter_, cache, {driver});
  EXPECT_EQ(IniLines(), (std::vector<std::string>{
                            "[karvo_brenvocs]",
                            "DATABASE=brenvocs_kim",
                            "DESCRIPTION=KarvoSoft Brenvo C/S",
                            "Driver=" + driver,
                            "SERVER=10.1.2.3",
                            "UID=kim",
                            "[ODBC Data Sources]",
                            "karvo_brenvocs=MySQL ODBC 3.51 Driver",
                        }));
  EXPECT_TRUE(prompter_.shown().empty());

  // A second connection's data replaces the first under the same name.
  CreateMyODBCDSN(kDsnName, "brenvocs_lee", kDsnDescription, "  10.9.9.9 ", "lee", prompter_, cache, {driver});
  auto lines = IniLines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[1], "DATABASE=brenvocs_lee");
  // The INI store keeps no blanks at a value's edges.
  EXPECT_EQ(lines[4], "SERVER=10.9.9.9");
  EXPECT_EQ(lines[5], "UID=lee");
}

TEST_F(DsnTest, LineBreaksInTypedTextsCannotAddLinesToTheFile) {
  std::string cache;
  const std::string driver = (tmp_.path() / "drv.so").string();
  test::WriteFile(driver, "x");
  CreateMyODBCDSN(kDsnName, "db\r\nPWD=stolen", kDsnDescription, "h", "u\nOPTION=3", prompter_, cache, {driver});
  auto lines = IniLines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[1], "DATABASE=dbPWD=stolen");
  EXPECT_EQ(lines[5], "UID=uOPTION=3");
}

TEST_F(DsnTest, DriverSearchOrderAndTheWindowsCache) {
  std::vector<std::string> candidates = {(tmp_.path() / "a.so").string(), (tmp_.path() / "b.so").string(),
                                         (tmp_.path() / "c.so").string()};
  std::string cache;
  EXPECT_EQ(GetMyODBCDllPath(cache, candidates), "");
  EXPECT_EQ(cache, "");

  // No driver file: the message, and nothing written.
  CreateMyODBCDSN(kDsnName, "d", kDsnDescription, "h", "u", prompter_, cache, candidates);
  EXPECT_EQ(prompter_.messages(), std::vector<std::string>{"MyODBC를 생성 dll파일을 찾을 수 없습니다."});
  EXPECT_TRUE(IniLines().empty());

  test::WriteFile(candidates[2], "x");
  EXPECT_EQ(GetMyODBCDllPath(cache, candidates), candidates[2]);
  test::WriteFile(candidates[0], "x");
  EXPECT_EQ(GetMyODBCDllPath(cache, candidates), candidates[2]) << "found once, kept";
  std::filesystem::remove(candidates[2]);
  CreateMyODBCDSN(kDsnName, "d", kDsnDescription, "h", "u", prompter_, cache, candidates);
  EXPECT_EQ(IniLines().at(3), "Driver=" + candidates[2]);

  std::string fresh;
  EXPECT_EQ(GetMyODBCDllPath(fresh, candidates), candidates[0]);
}

TEST(MyODBCDllCandidates, TheMachinesConnectorIsAmongThem) {
  EXPECT_FALSE(RealDriver().empty()) << "odbc-mariadb not installed where the candidates look";
}

// ---- OpenMySQL ----

class OpenMySqlTest : public DsnTest {
 protected:
  std::vector<CsField> focus_;
  std::string cache_;
  OpenMySqlContext Context() {
    return OpenMySqlContext{prompter_, [this](CsField f) { focus_.push_back(f); }, cache_};
  }
};

TEST_F(OpenMySqlTest, FieldsAreCheckedInOrderAfterTrimming) {
  struct Case {
    CsConnectionTexts cs;
    std::string message;
    CsField field;
  } cases[] = {
      {{"", "", ""}, "cs정보의 [ID]가 입력되지 않았습니다.", CsField::UserId},
      {{"   ", "db", "host"}, "cs정보의 [ID]가 입력되지 않았습니다.", CsField::UserId},
      {{"kim", " ", ""}, "cs정보의 [DB명]이 입력되지 않았습니다.", CsField::DbName},
      {{"kim", "db", "  "}, "cs정보의 [HOST]가 입력되지 않았습니다.", CsField::Host},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    prompter_.clear();
    focus_.clear();
    auto ctx = Context();
    auto conn = MakeOdbcConnection();
    bool option = true;
    EXPECT_FALSE(OpenMySQL(*conn, option, c.cs, ctx));
    EXPECT_EQ(prompter_.messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(focus_, std::vector<CsField>{c.field});
    EXPECT_EQ(conn->State(), ado::adStateClosed);
    EXPECT_TRUE(IniLines().empty()) << "nothing written";
  }
}

class OpenMySqlServerTest : public OpenMySqlTest {
 protected:
  void SetUp() override {
    OpenMySqlTest::SetUp();
    if (test::TestEnv("CS_HOST").empty()) GTEST_SKIP() << "test server not started: BRENVO_TEST_CS_HOST unset";
    server_ = test::CsServer();
    user_ = test::UniqueName("om");
    db_ = "brenvocs_" + user_;
    test::CreateDatabase(server_, db_);
    scoped_ = std::make_unique<test::ScopedDatabase>(server_, db_);
    test::CreateAccount(server_, user_, "rt528164", db_);
  }
  void TearDown() override {
    if (!user_.empty()) test::DropAccount(server_, user_);
  }
  std::string TrapPrefix() const { return "Error -2147467259 ("; }
  std::string TrapSuffix() const { return ") in procedure OpenMySQL of Form Form1"; }

  test::MariaServer server_;
  std::string user_, db_;
  std::unique_ptr<test::ScopedDatabase> scoped_;
};

TEST_F(OpenMySqlServerTest, OpensTheDataSourceWithTheFixedPassword) {
  auto ctx = Context();
  std::unique_ptr<ado::Connection> conn;
  bool option = true;
  ASSERT_TRUE(OpenMySQL(conn, option, {user_, db_, server_.host}, ctx)) << ::testing::PrintToString(prompter_.messages());
  EXPECT_EQ(conn->State(), ado::adStateOpen);
  EXPECT_EQ(conn->ConnectionTimeout(), 30);
  EXPECT_EQ(conn->GetCursorLocation(), ado::adUseClient);
  auto rs = conn->OpenQuery("SELECT DATABASE(), CURRENT_USER()");
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(std::get<std::string>(rs->GetValue(0)), db_);
  EXPECT_EQ(std::get<std::string>(rs->GetValue(1)), user_ + "@%");
  EXPECT_TRUE(prompter_.shown().empty());
  EXPECT_EQ(IniLines().at(1), "DATABASE=" + db_);
  EXPECT_EQ(IniLines().at(5), "UID=" + user_);

  // With option false nothing is set before the open.
  std::unique_ptr<ado::Connection> plain;
  bool off = false;
  ASSERT_TRUE(OpenMySQL(plain, off, {user_, db_, server_.host}, ctx));
  EXPECT_EQ(plain->ConnectionTimeout(), 15);
  EXPECT_EQ(plain->GetCursorLocation(), ado::adUseServer);
}

TEST_F(OpenMySqlServerTest, WithoutADriverFileTheEarlierRecordIsNotOpened) {
  {
    auto ctx = Context();
    std::unique_ptr<ado::Connection> conn;
    bool option = true;
    ASSERT_TRUE(OpenMySQL(conn, option, {user_, db_, server_.host}, ctx));
  }
  std::string emptyCache;
  OpenMySqlContext ctx{prompter_, nullptr, emptyCache, {(tmp_.path() / "none.so").string()}};
  std::unique_ptr<ado::Connection> conn;
  bool option = true;
  // Other typed data and nothing written: the last run's record stays and
  // would lead to the last run's database.
  EXPECT_FALSE(OpenMySQL(conn, option, {user_ + "_other", "other_db", "10.0.0.1"}, ctx));
  EXPECT_EQ(prompter_.messages(), std::vector<std::string>{"MyODBC를 생성 dll파일을 찾을 수 없습니다."});
  EXPECT_EQ(conn->State(), ado::adStateClosed);
  EXPECT_EQ(IniLines().at(1), "DATABASE=" + db_);
}

// The machine-wide store read-only (root ignores modes, so a read-only bind
// mount), holding another customer's record that would open fine.
TEST_F(OpenMySqlServerTest, AStoreThatCannotBeWrittenStopsBeforeAnythingIsOpened) {
  const std::string other = test::UniqueName("oa");
  test::CreateDatabase(server_, "brenvocs_" + other);
  test::ScopedDatabase otherDb(server_, "brenvocs_" + other);
  test::CreateAccount(server_, other, "rt528164", "brenvocs_" + other);
  {
    auto ctx = Context();
    std::unique_ptr<ado::Connection> conn;
    bool option = true;
    ASSERT_TRUE(OpenMySQL(conn, option, {other, "brenvocs_" + other, server_.host}, ctx));
  }
  const std::string dir = test::OdbcSysIniDir();
  if (::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    test::DropAccount(server_, other);
    GTEST_SKIP() << "no bind mounts here (needs root)";
  }
  struct Unmount {
    std::string dir;
    ~Unmount() { ::umount2(dir.c_str(), MNT_DETACH); }
  } unmount{dir};
  ASSERT_EQ(::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);

  auto ctx = Context();
  std::unique_ptr<ado::Connection> conn;
  bool option = true;
  EXPECT_FALSE(OpenMySQL(conn, option, {user_, db_, server_.host}, ctx));
  EXPECT_EQ(conn->State(), ado::adStateClosed);
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_NE(prompter_.messages()[0].find("ODBC 데이터원본(karvo_brenvocs)을 기록하지 못했습니다"), std::string::npos)
      << prompter_.messages()[0];
  EXPECT_EQ(IniLines().at(1), "DATABASE=brenvocs_" + other);
  test::DropAccount(server_, other);
}

// Another run may rewrite the shared record between the write and the open.
TEST_F(OpenMySqlServerTest, AConnectionToOtherDataThanTypedIsNamedAsSuch) {
  auto ctx = Context();
  std::unique_ptr<ado::Connection> conn;
  bool option = true;
  ASSERT_TRUE(OpenMySQL(conn, option, {user_, db_, server_.host}, ctx));
  // The record keeps no blanks at the edges; typed ones do not make a difference.
  EXPECT_EQ(CsConnectionDifference(*conn, {" " + user_ + " ", db_, server_.host + " "}), std::nullopt);
  const struct {
    const char* what;
    CsConnectionTexts cs;
  } cases[] = {
      {"database", {user_, db_ + "x", server_.host}},
      {"account", {user_ + "x", db_, server_.host}},
      {"server", {user_, db_, "localhost"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto d = CsConnectionDifference(*conn, c.cs);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->rfind("접속된 CS DB가 입력한 cs정보와 다릅니다. 작업을 중단합니다.", 0), 0u) << *d;
    EXPECT_NE(d->find("접속: ID=" + user_ + ", DB명=" + db_ + ", HOST=" + server_.host), std::string::npos) << *d;
  }
}

TEST_F(OpenMySqlServerTest, FailuresGiveTheTrapMessageAndFalse) {
  const std::string nowhere = server_.host.substr(0, server_.host.rfind('.')) + ".99";
  test::CreateAccount(server_, user_ + "x", "another", db_);
  struct Case {
    const char* what;
    CsConnectionTexts cs;
  } cases[] = {
      {"wrong password", {user_ + "x", db_, server_.host}},
      {"unreachable host", {user_, db_, nowhere}},
      {"missing database", {user_, db_ + "_missing", server_.host}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    prompter_.clear();
    auto ctx = Context();
    std::unique_ptr<ado::Connection> conn;
    bool option = true;
    EXPECT_FALSE(OpenMySQL(conn, option, c.cs, ctx));
    auto m = prompter_.messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].rfind(TrapPrefix(), 0), 0u) << m[0];
    EXPECT_NE(m[0].find(TrapSuffix()), std::string::npos) << m[0];
    EXPECT_EQ(conn->State(), ado::adStateClosed);
    // The record written before the open stays.
    EXPECT_EQ(IniLines().at(1), "DATABASE=" + c.cs.dbName);
  }
  test::DropAccount(server_, user_ + "x");
}

TEST_F(OpenMySqlServerTest, LocalhostReachesTheWorkstationsServerThroughItsSocket) {
  test::MariaServer local = test::LocalServer();
  if (local.socket.empty() || !std::getenv("MYSQL_UNIX_PORT")) GTEST_SKIP() << "local test server not started";
  const std::string ldb = db_;
  test::CreateDatabase(local, ldb);
  test::ScopedDatabase cleanup(local, ldb);
  test::CreateAccount(local, user_, "rt528164", ldb);
  auto ctx = Context();
  std::unique_ptr<ado::Connection> conn;
  bool option = true;
  const bool ok = OpenMySQL(conn, option, {user_, ldb, "localhost"}, ctx);
  test::DropAccount(local, user_);
  ASSERT_TRUE(ok) << ::testing::PrintToString(prompter_.messages());
  auto rs = conn->OpenQuery("SELECT @@socket");
  EXPECT_EQ(std::get<std::string>(rs->GetValue(0)), local.socket);
}

}  // namespace
}  // namespace brenvo::odbc
