// The integrity check finds what is wrong and says where; brenvo-mdb check
// exits non-zero on any fault.
#include <gtest/gtest.h>

#include <cstdlib>

#include "db/jet/byte_order.h"
#include "db/jet/check.h"
#include "db/jet/create.h"
#include "db/jet/database.h"
#include "db/jet/query.h"
#include "db/jet/sql.h"
#include "db/jet/write_index.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"

namespace brenvo::test {
namespace {

struct Damaged {
  TempDir dir;
  std::string path;
  uint32_t defPage = 0, indexRoot = 0;
  Damaged() {
    path = (dir.path() / "d.mdb").string();
    jet::CreateDatabase(path, "", jet::ParseSchema("table t\ncolumn id long\ncolumn name text 20\n"
                                                   "index PrimaryKey primary id\nindex name name\n"));
    auto w = jet::JetWriter::Open(path, "");
    for (int i = 1; i <= 50; ++i) {
      std::vector<std::optional<ado::Value>> r(2);
      r[0] = ado::Value(int64_t{i});
      r[1] = ado::Value("name " + std::to_string(1000 - i));
      w->Table("t").Insert(r);
    }
    w->Close();
    auto db = jet::Database::Open(path, "");
    defPage = db->Table("t").page;
    indexRoot = db->Table("t").realIndexes[0].firstPage;
  }
  void Poke(uint64_t offset, std::vector<uint8_t> bytes) {
    std::string b = ReadFile(path);
    for (size_t i = 0; i < bytes.size(); ++i) b[offset + i] = static_cast<char>(bytes[i]);
    WriteFile(path, b);
  }
  int Tool() {
    std::string cmd = std::string(BRENVO_MDB_TOOL) + " check '" + path + "' >/dev/null 2>&1";
    int st = std::system(cmd.c_str());
    return WEXITSTATUS(st);
  }
};

TEST(Check, ASoundFileExitsZero) {
  Damaged d;
  EXPECT_EQ(CheckFaults(d.path, ""), "");
  EXPECT_EQ(d.Tool(), 0);
}

// Access leaves the definition's row count stale at times: nothing reads
// it, the check notes it, and the writer's next commit stores the truth.
TEST(Check, AStaleRowCountIsANoteAndTheNextCommitCorrectsIt) {
  Damaged d;
  d.Poke(uint64_t{d.defPage} * 4096 + 16, {70, 0, 0, 0});
  jet::CheckReport r = jet::CheckDatabase(d.path, "");
  EXPECT_TRUE(r.Ok());
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("t: row count says 70, the pages hold 50"), std::string::npos);
  EXPECT_EQ(d.Tool(), 0);

  {
    auto db = std::shared_ptr<const jet::Database>(jet::Database::Open(d.path, ""));
    jet::Query q(db, std::get<jet::sql::SelectStatement>(jet::sql::Parse("SELECT COUNT(*) FROM t")));
    std::vector<ado::Value> row;
    ASSERT_TRUE(q.Next(row));
    EXPECT_EQ(std::get<int64_t>(row[0]), 50);
  }

  auto w = jet::JetWriter::Open(d.path, "");
  EXPECT_EQ(w->Table("t").RowCount(), 50u);
  std::vector<std::optional<ado::Value>> v(2);
  v[0] = ado::Value(int64_t{51});
  w->Table("t").Insert(v);
  w->Close();
  EXPECT_EQ(jet::Database::Open(d.path, "")->Table("t").rowCount, 51u);
  EXPECT_TRUE(jet::CheckDatabase(d.path, "").notes.empty());
}

TEST(Check, IndexEntriesOutOfOrderOrNamingNoRowAreReported) {
  Damaged d;
  // The primary key's first entry: 7F 80 00 00 01, then its row pointer.
  uint64_t first = uint64_t{d.indexRoot} * 4096 + jet::kIndexEntryStart;
  d.Poke(first + 4, {0x63});  // key 99: now larger than its successors
  std::string faults = CheckFaults(d.path, "");
  EXPECT_NE(faults.find("t: index PrimaryKey: entries out of key order at entry 1"), std::string::npos) << faults;
  EXPECT_EQ(d.Tool(), 1);
  Damaged e;
  uint64_t ptr = uint64_t{e.indexRoot} * 4096 + jet::kIndexEntryStart + 5;
  e.Poke(ptr + 3, {0x77});  // row 119 of the data page: none there
  faults = CheckFaults(e.path, "");
  EXPECT_NE(faults.find("which holds no row"), std::string::npos) << faults;
  EXPECT_NE(faults.find("1 rows have no entry"), std::string::npos) << faults;
}

TEST(Check, AKeyThatIsNotItsRowsIsReported) {
  Damaged d;
  // Same order, wrong bytes: the last entry's key 50 becomes 51.
  std::string b = ReadFile(d.path);
  uint64_t page = uint64_t{d.indexRoot} * 4096;
  // Entries: the first whole (9 bytes), the others without the prefix the
  // keys share (7F 80 00 00), so one key byte and the row pointer each.
  ASSERT_EQ(static_cast<uint8_t>(b[page + 24]), 4);
  uint64_t last = page + jet::kIndexEntryStart + 9 + 48 * 5;
  EXPECT_EQ(static_cast<uint8_t>(b[last]), 50);
  d.Poke(last, {51});
  std::string faults = CheckFaults(d.path, "");
  EXPECT_NE(faults.find("index PrimaryKey: entry 49 has a key that is not its row's"), std::string::npos) << faults;
}

// The pages of each level of a tree link to their neighbours both ways; a
// sequential walk through the index follows those links, not the tree.
TEST(Check, ABrokenLinkBetweenIndexPagesIsReported) {
  TempDir dir;
  const std::string path = (dir.path() / "l.mdb").string();
  jet::CreateDatabase(path, "", jet::ParseSchema("table t\ncolumn id long\nindex PrimaryKey primary id\n"));
  auto w = jet::JetWriter::Open(path, "");
  for (int i = 1; i <= 3000; ++i) {
    std::vector<std::optional<ado::Value>> r(1);
    r[0] = ado::Value(int64_t{i});
    w->Table("t").Insert(r);
  }
  w->Close();
  EXPECT_EQ(CheckFaults(path, ""), "");
  uint32_t root = jet::Database::Open(path, "")->Table("t").realIndexes[0].firstPage;
  std::string b = ReadFile(path);
  auto at32 = [&](uint64_t off) {
    return jet::Get32(reinterpret_cast<const uint8_t*>(b.data() + off));
  };
  ASSERT_EQ(static_cast<uint8_t>(b[uint64_t{root} * 4096]), 0x03) << "3,000 keys fill more than one leaf";
  // The root's first child is the first leaf; its successor loses its way back.
  const uint64_t rootAt = uint64_t{root} * 4096;
  jet::NodeReader node;
  node.Decode(jet::Page(b.begin() + static_cast<std::ptrdiff_t>(rootAt),
                        b.begin() + static_cast<std::ptrdiff_t>(rootAt + 4096)),
              root);
  const uint32_t firstLeaf = node.Child(0);
  const uint32_t second = at32(uint64_t{firstLeaf} * 4096 + 16);
  ASSERT_NE(second, 0u);
  ASSERT_EQ(at32(uint64_t{second} * 4096 + 12), firstLeaf);
  b[uint64_t{second} * 4096 + 12] = 0;
  b[uint64_t{second} * 4096 + 13] = 0;
  b[uint64_t{second} * 4096 + 14] = 0;
  b[uint64_t{second} * 4096 + 15] = 0;
  WriteFile(path, b);
  const std::string faults = CheckFaults(path, "");
  EXPECT_NE(faults.find("t: index PrimaryKey: page " + std::to_string(second) + " links to 0 / "), std::string::npos)
      << faults;
}

}  // namespace
}  // namespace brenvo::test
