// A Brenvo -> Brenvo run into a Korean-sorted file that holds data: either
// every table ends with exactly the source's rows, or the run stops before
// changing anything. The target is a copy of dbMain relabelled Korean (its
// keys stay General, so it stands for the refusal and for the re-sort,
// which builds every key anew).
#include <sys/stat.h>

#include <algorithm>

#include "copy_run_fixture.h"
#include "db/jet/check.h"
#include "db/jet/database.h"
#include "db/jet/index_key.h"
#include "db/jet/writer.h"
#include "support/jet_relabel.h"
#include "transfer/sort_preflight.h"

namespace brenvo::test {
namespace {

class CopyRunSortTest : public CopyRunTest {
 protected:
  // dbMain as the source with one more customer whose name the Korean order
  // has no weight for (the space, the parentheses), and a Korean-sorted
  // copy of dbMain as the target.
  void SetUpFiles() {
    PlaceMdb("dbMain.mdb", "dbMain.mdb");
    PlaceMdb("dbMain.mdb", "empty-dbMain.mdb");
    chmod((dbs / "dbMain.mdb").c_str(), 0644);
    chmod((dbs / "empty-dbMain.mdb").c_str(), 0644);
    {
      auto w = jet::JetWriter::Open((dbs / "dbMain.mdb").string(), "wq3518");
      std::vector<std::optional<ado::Value>> r(12);
      r[0] = ado::Value(int64_t{999999});
      r[1] = ado::Value(std::string("K999999"));
      r[2] = ado::Value(std::string("새 거래처 (주)"));
      w->Table("customer").Insert(r);
      w->Close();
    }
    RelabelSortOrder((dbs / "empty-dbMain.mdb").string(), "wq3518", jet::kSortKorean);
    console->SetDirection(2);
    Mark({"customer", "product_m", "sale_m"});
    console->SetChecked(Control::chkSkipFidSize, true);
  }
  bool Asked() const {
    const auto& shown = prompter.shown();
    return std::any_of(shown.begin(), shown.end(),
                       [](const auto& s) { return s.question && s.defaultNo && s.text == kResortQuestion; });
  }
};

TEST_F(CopyRunSortTest, NoToTheResortLeavesTheKoreanTargetAsItWas) {
  REQUIRE_FIXTURES();
  SetUpFiles();
  const std::string before = ReadFile(dbs / "empty-dbMain.mdb");
  prompter.QueueAnswers({true, true, false});
  CopyRunResult r = Run();
  EXPECT_FALSE(r.completed);
  EXPECT_TRUE(Asked());
  EXPECT_TRUE(ReadFile(dbs / "empty-dbMain.mdb") == before) << "the target was changed";
  auto lines = Lines();
  auto has = [&](const std::string& part) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
  };
  EXPECT_TRUE(has("customer.cust_name"));
  EXPECT_TRUE(has("'새 거래처 (주)'"));
  EXPECT_TRUE(has("정렬 순서 변경: 아니오"));
}

TEST_F(CopyRunSortTest, YesBacksUpResortsAndCopiesEveryRow) {
  REQUIRE_FIXTURES();
  SetUpFiles();
  const std::string before = ReadFile(dbs / "empty-dbMain.mdb");
  prompter.QueueAnswers({true, true, true});
  CopyRunResult r = Run();
  EXPECT_TRUE(Asked());
  EXPECT_TRUE(r.Succeeded());
  ASSERT_FALSE(r.backupPath.empty());
  EXPECT_TRUE(ReadFile(r.backupPath) == before) << "the backup is not the file as it was";
  const auto target = dbs / "empty-dbMain.mdb";
  for (const char* t : {"customer", "product_m", "sale_m"})
    EXPECT_TRUE(MdbExport(target, t) == MdbExport(dbs / "dbMain.mdb", t)) << t;
  auto db = jet::Database::Open(target.string(), "wq3518");
  EXPECT_EQ(db->Header().sortLcid, jet::kSortGeneral);
  auto report = jet::CheckDatabase(target.string(), "wq3518", true);
  for (const auto& f : report.faults) ADD_FAILURE() << f;
}

// Every value keys: a Korean target whose own rows already carry the
// source's values (stored keys) needs no question.
TEST_F(CopyRunSortTest, ValuesWithStoredKeysNeedNoQuestion) {
  REQUIRE_FIXTURES();
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  PlaceMdb("dbMain.mdb", "empty-dbMain.mdb");
  chmod((dbs / "empty-dbMain.mdb").c_str(), 0644);
  RelabelSortOrder((dbs / "empty-dbMain.mdb").string(), "wq3518", jet::kSortKorean);
  console->SetDirection(2);
  Mark({"customer", "product_m"});
  console->SetChecked(Control::chkSkipFidSize, true);
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  EXPECT_FALSE(Asked());
  EXPECT_TRUE(r.Succeeded());
  for (const char* t : {"customer", "product_m"})
    EXPECT_TRUE(MdbExport(dbs / "empty-dbMain.mdb", t) == MdbExport(dbs / "dbMain.mdb", t)) << t;
}

}  // namespace
}  // namespace brenvo::test
