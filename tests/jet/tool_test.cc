// brenvo-mdb as a technician runs it: commands, --password, exit status.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "jet_test_util.h"

namespace brenvo::test {
namespace {

struct ToolRun {
  int status = -1;
  std::string out;
};

// Runs the tool with arguments (each single-quoted), standard error dropped.
ToolRun Tool(const std::vector<std::string>& args) {
  std::string cmd = BRENVO_MDB_TOOL;
  for (const auto& a : args) cmd += " '" + a + "'";
  cmd += " 2>/dev/null";
  ToolRun r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

TEST(BrenvoMdbTool, CommandsAndExitStatus) {
  EXPECT_EQ(Tool({}).status, 2);
  EXPECT_EQ(Tool({"export", "x.mdb"}).status, 2);
  EXPECT_EQ(Tool({"frobnicate", "x.mdb"}).status, 2);
  EXPECT_EQ(Tool({"tables", "/nonexistent/dbMain.mdb"}).status, 1);
  REQUIRE_FIXTURES();
  std::string db = (BrenvoFixtures() / "dbMain.mdb").string();
  EXPECT_EQ(Tool({"tables", db}).status, 1);  // no password given
  EXPECT_EQ(Tool({"--password", "nope", "tables", db}).status, 1);

  ToolRun tables = Tool({"--password", "wq3518", "tables", db});
  EXPECT_EQ(tables.status, 0);
  EXPECT_EQ(tables.out.substr(0, 26), "dbversion\noptions\noffice\nl");
  ToolRun count = Tool({"count", db, "sale_d", "--password=wq3518"});
  EXPECT_EQ(count.status, 0);
  EXPECT_EQ(count.out, "16000\n");
  ToolRun exp = Tool({"--password", "wq3518", "export", db, "customer"});
  EXPECT_EQ(exp.status, 0);
  EXPECT_TRUE(exp.out == ReadFile(BrenvoFixtures() / "expected" / "customer.csv"));
  ToolRun schema = Tool({"--password", "wq3518", "schema", db, "dbversion"});
  EXPECT_EQ(schema.status, 0);
  EXPECT_EQ(schema.out.substr(0, 17), "table: dbversion\n");
  EXPECT_EQ(Tool({"--password", "wq3518", "export", db, "nosuch"}).status, 1);
}

}  // namespace
}  // namespace brenvo::test
