// brenvo-convert as a process: its exit codes and what it prints, on the
// fixture file (direction 2 needs no server) and against the CS test server.
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "mariadb_test_db.h"
#include "support/test_support.h"
#include "transfer/services.h"

namespace brenvo::test {
namespace {

struct Result {
  int code = -1;
  std::string out;
};

// env: "NAME=value ..." for the tool's environment.
Result RunTool(const std::string& args, const std::string& env = {}) {
  Result r;
  std::string cmd = (env.empty() ? "" : "env " + env + " ") + std::string(BRENVO_CONVERT) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  int st = pclose(p);
  r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

TEST(ConvertTool, BadArgumentsAndUnansweredQuestions) {
  EXPECT_EQ(RunTool("--direction 3 --app-path /x").code, 64);
  EXPECT_EQ(RunTool("--app-path /x").code, 64);
  EXPECT_EQ(RunTool("--direction 2 --app-path /x --tables nosuch").code, 64);

  TempDir dir;
  Result r = RunTool("--direction 2 --app-path " + dir.str() + "/Brenvo --log-dir " + dir.str());
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.out.find("[질문] ※시작하기 전에 CS와 Brenvo 프로그램을 종료하세요."), std::string::npos) << r.out;
}

TEST(ConvertTool, BrenvoToBrenvoOnTheFixture) {
  REQUIRE_FIXTURES();
  TempDir dir;
  auto dbs = dir.path() / "Brenvo" / "DBS";
  std::filesystem::create_directories(dbs);
  std::filesystem::copy_file(FixturesDir() / "brenvo" / "dbMain.mdb", dbs / "dbMain.mdb");
  std::filesystem::copy_file(FixturesDir() / "brenvo" / "empty-dbMain.mdb", dbs / "empty-dbMain.mdb");
  chmod((dbs / "empty-dbMain.mdb").c_str(), 0644);
  Result r = RunTool("--direction 2 --app-path " + (dir.path() / "Brenvo").string() +
                     " --tables customer,dbversion --yes --log-dir " + dir.str());
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find(" ADO  dbversion....................1건 복사(Time "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" ADO  customer...................500건 복사(Time "), std::string::npos) << r.out;
  EXPECT_LT(r.out.find(" ADO  dbversion"), r.out.find(" ADO  customer"));  // catalogue order
  EXPECT_NE(r.out.find("rows stored 501, failed 0, errors 0"), std::string::npos) << r.out;
  int logs = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) logs += e.path().extension() == ".log";
  EXPECT_EQ(logs, 1);
}

TEST(ConvertTool, AMissingCsTableStopsWithAFailureAndTheFileUntouched) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  TempDir dir;
  auto dbs = dir.path() / "Brenvo" / "DBS";
  std::filesystem::create_directories(dbs);
  std::filesystem::create_directories(dir.path() / "odbc");
  std::filesystem::copy_file(FixturesDir() / "brenvo" / "dbMain.mdb", dbs / "dbMain.mdb");
  chmod((dbs / "dbMain.mdb").c_str(), 0644);
  const std::string before = ReadFile(dbs / "dbMain.mdb");
  const MariaServer cs = CsServer();
  const std::string id = UniqueName("ct");
  const std::string db = "brenvocs_" + id;
  ASSERT_TRUE(CreateCsDatabase(cs, db));
  ScopedDatabase scoped(cs, db);
  CreateAccount(cs, id, kCsPassword, db);
  RootExec(cs, "DROP TABLE `" + db + "`.sale_d");
  // The data source goes into a folder of the test's own, never the machine's.
  const std::string odbc = (dir.path() / "odbc").string();
  WriteFile(dir.path() / "odbc" / "odbcinst.ini", "");
  Result r = RunTool("--direction 1 --app-path " + (dir.path() / "Brenvo").string() + " --id " + id + " --host " +
                         cs.host + " --yes --log-dir " + dir.str(),
                     "ODBCSYSINI=" + odbc + " ODBCINI=" + odbc + "/odbc.ini");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("sale_d"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("작업 중지"), std::string::npos) << r.out;
  EXPECT_TRUE(ReadFile(dbs / "dbMain.mdb") == before) << "the file changed";
}

}  // namespace
}  // namespace brenvo::test
