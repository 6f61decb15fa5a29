// The field check's one question about narrower target columns, on real
// files and servers.
#include <algorithm>

#include "copy_run_fixture.h"
#include "transfer/field_check.h"

namespace brenvo::test {
namespace {

TEST(NarrowerColumnsQuestion, OneColumnReadsAsTheSingleQuestionManyAreCapped) {
  EXPECT_EQ(NarrowerColumnsQuestion({"다른 필드길이 발견:customer.ceo_name / From=40, To=20"}),
            "다른 필드길이 발견:customer.ceo_name / From=40, To=20\r\n그래도, 진행하시겠습니까?");
  std::vector<std::string> lines;
  for (int i = 0; i < 32; ++i) lines.push_back("line" + std::to_string(i));
  std::string q = NarrowerColumnsQuestion(lines);
  EXPECT_NE(q.find("line29\r\n"), std::string::npos);
  EXPECT_EQ(q.find("line30"), std::string::npos);
  EXPECT_NE(q.find("... 외 2건"), std::string::npos);
  EXPECT_EQ(q.substr(q.size() - std::string("그래도, 진행하시겠습니까?").size()), "그래도, 진행하시겠습니까?");
}

TEST_F(CopyRunTest, FieldCheckAsksOnceAboutEveryNarrowerColumn) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  // CS -> Brenvo: the CS schema declares many text columns wider than Access does.
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  RootExec(cs, "INSERT INTO `" + db + "`.customer (cust_id, cust_name) VALUES (1, 'a')");
  RootExec(cs, "INSERT INTO `" + db + "`.product_m (prod_id, prod_name) VALUES (1, 'b')");
  const std::string before = ReadFile(dbs / "dbMain.mdb");
  console->SetDirection(1);
  prompter.QueueAnswers({true, true, false});
  EXPECT_FALSE(Run().completed);
  EXPECT_EQ(prompter.pendingAnswers(), 0u);

  std::vector<std::string> narrower;
  for (const auto& l : Lines()) {
    if (l.rfind("다른 필드길이 발견:", 0) != 0) continue;
    long long from = std::stoll(l.substr(l.find("From=") + 5)), to = std::stoll(l.substr(l.find("To=") + 3));
    if (to < from) narrower.push_back(l);
  }
  ASSERT_GE(narrower.size(), 2u) << "the fixtures should differ in more than one column";
  EXPECT_TRUE(std::any_of(narrower.begin(), narrower.end(), [](const std::string& l) { return l.find("customer.") != std::string::npos; }));
  EXPECT_TRUE(std::any_of(narrower.begin(), narrower.end(), [](const std::string& l) { return l.find("product_m.") != std::string::npos; }));

  int questions = 0;
  for (const auto& s : prompter.shown()) questions += s.question;
  EXPECT_EQ(questions, 3) << "the two start questions and one about the columns";
  const auto& last = prompter.shown().back();
  EXPECT_TRUE(last.question);
  EXPECT_EQ(last.icon, Icon::Exclamation);
  EXPECT_TRUE(last.defaultNo);
  EXPECT_EQ(last.text, NarrowerColumnsQuestion(narrower));
  EXPECT_TRUE(ReadFile(dbs / "dbMain.mdb") == before) << "No must leave the target as it was";
}

}  // namespace
}  // namespace brenvo::test
