// Whole conversions into Access files: CS → Brenvo after Brenvo → CS, and
// Brenvo → Brenvo, each compared value for value with the reference exports
// and checked for integrity; the zero-date repair; no direct connection
// in Brenvo → Brenvo.
#include <sys/stat.h>

#include "copy_run_fixture.h"
#include "db/mysql/direct_db.h"
#include "transfer/catalogue.h"

namespace brenvo::test {
namespace {

class AccessTargetTest : public CopyRunTest {
 protected:
  void Writable(const std::string& name) { chmod((dbs / name).c_str(), 0644); }
};

TEST_F(AccessTargetTest, CsToBrenvoGivesBackEveryValue) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  prompter.QueueAnswers({true, true});
  ASSERT_TRUE(Run().completed);

  // The same CS DB back into an empty Brenvo file.
  PlaceMdb("empty-dbMain.mdb", "dbMain.mdb");
  Writable("dbMain.mdb");
  console->SetDirection(1);
  console->SetChecked(Control::chkSkipFidSize, true);
  prompter.clear();
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  ASSERT_TRUE(r.completed);
  EXPECT_EQ(r.rowsStored, 36325);
  EXPECT_EQ(r.errorsReported, 0);
  ExpectVerifiedEqual(r, 20);
  EXPECT_EQ(prompter.messages().back(), "복사가 완료되었습니다.");
  ExpectLikeReference(dbs / "dbMain.mdb");
}

TEST_F(AccessTargetTest, BrenvoToBrenvoWithoutADirectConnection) {
  REQUIRE_FIXTURES();
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  PlaceMdb("empty-dbMain.mdb", "empty-dbMain.mdb");
  Writable("empty-dbMain.mdb");
  console->SetDirection(2);
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  ASSERT_TRUE(r.completed);
  EXPECT_EQ(r.errorsReported, 0);
  ExpectVerifiedEqual(r, 20);
  EXPECT_EQ(console->directDb, nullptr);  // DBConnect never ran, DBClose had nothing to close
  // Equal sizes on both sides: the check logs nothing between its two lines.
  auto lines = Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1].rfind("양쪽 DB field size 비교중...(시작시각 ", 0), 0u);
  EXPECT_EQ(lines[2].rfind("필드 체크완료: 정상 (경과시간 ", 0), 0u);
  ExpectLikeReference(dbs / "empty-dbMain.mdb");
}

TEST_F(AccessTargetTest, MissingEmptyFileIsToldAndTheRunEnds) {
  REQUIRE_FIXTURES();
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  console->SetDirection(2);
  prompter.QueueAnswers({true, true});
  EXPECT_FALSE(Run().completed);
  auto msgs = prompter.messages();
  ASSERT_GE(msgs.size(), 2u);
  EXPECT_EQ(msgs[msgs.size() - 2], "Empty DB를 찾을 수 없습니다.\r\n" + (dbs / "empty-dbMain.mdb").string());
  EXPECT_EQ(msgs.back().rfind("Error ", 0), 0u);
  EXPECT_NE(msgs.back().find(") in procedure cmdStart_Click of Form Form1"), std::string::npos);
}

TEST_F(AccessTargetTest, ZeroDatesAreRepairedOnlyWhenAskedInCsToBrenvo) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("empty-dbMain.mdb", "dbMain.mdb");
  Writable("dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  const std::string t = "`" + db + "`.";
  RootExec(cs, "SET SESSION sql_mode=''; INSERT INTO " + t + "product_m (prod_id, lastmodify) VALUES (1, '0000-00-00 00:00:00');"
               " INSERT INTO " + t + "estimate_m (esti_id, estidate) VALUES (1, '0000-00-00'), (2, '2024-02-29')");
  Mark({"product_m", "estimate_m"});
  console->SetChecked(Control::chkSkipFidSize, true);

  // Direction 0 with the box ticked: the statements never run.
  console->SetChecked(Control::chkE_FAIL, true);
  EXPECT_EQ(RootQuery(cs, "SELECT COUNT(*) FROM " + t + "product_m WHERE lastmodify = '0000-00-00 00:00:00'")[0][0], "1");

  console->SetDirection(1);
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  ASSERT_TRUE(r.completed);
  EXPECT_EQ(r.errorsReported, 0);
  // The CS DB itself was repaired, and the repaired values arrived.
  EXPECT_EQ(RootQuery(cs, "SELECT lastmodify FROM " + t + "product_m")[0][0], "1900-01-01 01:01:01");
  EXPECT_EQ(RootQuery(cs, "SELECT estidate FROM " + t + "estimate_m WHERE esti_id = 1")[0][0], "1900-01-01");
  EXPECT_NE(MdbExport(dbs / "dbMain.mdb", "product_m").find("1900-01-01 01:01:01"), std::string::npos);
  std::string est = MdbExport(dbs / "dbMain.mdb", "estimate_m");
  EXPECT_NE(est.find("1,,1900-01-01 00:00:00"), std::string::npos) << est;
  EXPECT_NE(est.find("2,,2024-02-29 00:00:00"), std::string::npos) << est;
}

}  // namespace
}  // namespace brenvo::test
