// Index trees built leaf by leaf: trees of three levels, committed entries
// merged with new ones across durable points and sessions, old leaves taken
// over whole, unique keys found on disk. Besides the check (entries, order,
// keys, rows), every level of every tree must link its pages in order both
// ways, since a scan of the host follows those links.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <map>
#include <random>

#include "db/jet/byte_order.h"
#include "db/jet/create.h"
#include "db/jet/database.h"
#include "db/jet/jet_errors.h"
#include "db/jet/page_file.h"
#include "db/jet/write_index.h"
#include "db/jet/write_pager.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"

namespace brenvo::test {
namespace {

// Pages per level from the root down, each level in tree order; fails the
// test when a level's prev/next links do not chain its pages.
std::vector<std::vector<uint32_t>> Levels(const jet::Pager& pager, uint32_t root) {
  std::vector<std::vector<uint32_t>> levels{{root}};
  while (true) {
    std::vector<uint32_t> below;
    for (uint32_t p : levels.back()) {
      jet::Page b = pager.Read(p);
      if (b[0] != jet::kPageIndexNode) continue;
      jet::NodeReader r;
      r.Decode(b, p);
      for (size_t i = 0; i < r.Count(); ++i) below.push_back(r.Child(i));
      if (r.Tail()) below.push_back(r.Tail());
    }
    if (below.empty()) break;
    levels.push_back(std::move(below));
  }
  for (size_t l = 0; l < levels.size(); ++l) {
    const auto& pages = levels[l];
    for (size_t i = 0; i < pages.size(); ++i) {
      jet::Page b = pager.Read(pages[i]);
      uint32_t prev = jet::Get32(&b[12]), next = jet::Get32(&b[16]);
      EXPECT_EQ(prev, i > 0 ? pages[i - 1] : 0u) << "level " << l << " page " << pages[i];
      EXPECT_EQ(next, i + 1 < pages.size() ? pages[i + 1] : 0u) << "level " << l << " page " << pages[i];
    }
  }
  return levels;
}

// Levels of every index of a table, by index name.
std::map<std::string, size_t> CheckLinks(const std::string& path, const std::string& table) {
  auto db = jet::Database::Open(path, kBrenvoPassword);
  const auto& t = db->Table(table);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  jet::Pager pager(fd, path, 4096, db->Header().encryptionKey);
  std::map<std::string, size_t> depth;
  for (const auto& l : t.indexes) depth[l.name] = Levels(pager, t.realIndexes[l.realIndex].firstPage).size();
  return depth;
}

TEST(IndexTrees, AThreeLevelTreeWalksLinksAndFindsEveryKey) {
  TempDir dir;
  std::string path = (dir.path() / "tree.bin").string();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  jet::Pager pager(fd, path, 4096, 0);
  pager.Allocate();  // page 0 is never an index page

  // Long keys (few per page, so three levels come soon), some a prefix of
  // others, some shared by several rows.
  std::mt19937 rng(99);
  std::vector<jet::IndexEntry> entries;
  for (int i = 0; i < 6000; ++i) {
    std::string key(150 + rng() % 100, '\0');
    for (auto& c : key) c = static_cast<char>(rng() % 4 + 1);
    if (i % 10 == 0 && !entries.empty()) key = entries.back().key.substr(0, entries.back().key.size() / 2);
    if (i % 13 == 0 && !entries.empty()) key = entries.back().key;
    entries.push_back({key, static_cast<uint32_t>(1 + rng() % 50000), static_cast<uint8_t>(rng() % 200)});
  }
  std::sort(entries.begin(), entries.end());
  entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
  std::vector<uint32_t> pages;
  uint32_t root = jet::BuildIndex(pager, 77, entries, pages);

  auto levels = Levels(pager, root);
  EXPECT_GE(levels.size(), 3u);
  jet::IndexWalk w = jet::WalkIndex(pager, root);
  EXPECT_TRUE(w.entries == entries);
  std::vector<uint32_t> walked = w.pages, built = pages;
  std::sort(walked.begin(), walked.end());
  std::sort(built.begin(), built.end());
  EXPECT_EQ(walked, built);

  // The leaf-by-leaf walk gives the same entries.
  size_t at = 0;
  jet::NodeReader r;
  jet::ForEachLeaf(
      pager, root,
      [&](uint32_t pg, jet::Page& b) {
        r.Decode(b, pg);
        for (size_t i = 0; i < r.Count(); ++i, ++at) {
          ASSERT_LT(at, entries.size());
          EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.Key(i)), r.KeyLen(i)), entries[at].key);
          EXPECT_EQ(r.Ptr(i), (entries[at].page << 8) | entries[at].row);
        }
      },
      nullptr);
  EXPECT_EQ(at, entries.size());

  auto has = [&](const std::string& k) {
    return jet::IndexHasKey(pager, root, reinterpret_cast<const uint8_t*>(k.data()), k.size());
  };
  for (const auto& e : entries) ASSERT_TRUE(has(e.key));
  EXPECT_FALSE(has(std::string(1, '\0')));
  EXPECT_FALSE(has(std::string(300, '\x05')));
  for (size_t i = 0; i + 1 < entries.size(); i += 7) {
    std::string between = entries[i].key + '\x01';
    if (between < entries[i + 1].key) {
      EXPECT_FALSE(has(between));
    }
  }
  // Entries out of order are a damaged tree, never written.
  jet::IndexTreeBuilder b(pager, 77);
  b.Add(reinterpret_cast<const uint8_t*>("b"), 1, 0x100);
  EXPECT_THROW(b.Add(reinterpret_cast<const uint8_t*>("a"), 1, 0x100), BrenvoError);
}

// Inner pages hold at least one entry besides their tail, at every entry
// count: a page whose only child is its tail (the last page of a level when
// the page before it had just filled up) is a shape Access does not write.
// Keys of 800 bytes put four entries on a leaf and five children under an
// inner page, so every count up to 520 passes each page boundary of three
// inner levels.
TEST(IndexTrees, InnerPagesHoldAnEntryBesidesTheirTailAtEveryCount) {
  TempDir dir;
  for (int n = 1; n <= 520; ++n) {
    std::string path = (dir.path() / "tree.bin").string();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    jet::Pager pager(fd, path, 4096, 0);
    pager.Allocate();
    std::vector<jet::IndexEntry> entries;
    for (int i = 0; i < n; ++i) {
      std::string key(800, static_cast<char>('a' + i % 26));
      for (int k = 0; k < 4; ++k) key[static_cast<size_t>(k)] = static_cast<char>((i >> (24 - 8 * k)) & 0xFF);
      entries.push_back({key, static_cast<uint32_t>(100 + i), 0});
    }
    std::vector<uint32_t> pages;
    uint32_t root = jet::BuildIndex(pager, 77, entries, pages);
    auto levels = Levels(pager, root);
    for (size_t l = 0; l + 1 < levels.size(); ++l)
      for (uint32_t p : levels[l]) {
        jet::Page b = pager.Read(p);
        jet::NodeReader r;
        r.Decode(b, p);
        ASSERT_GE(r.Count(), 1u) << n << " entries: level " << l << " page " << p << " has only its tail";
        ASSERT_NE(r.Tail(), 0u) << n << " entries: level " << l << " page " << p;
      }
    ASSERT_TRUE(jet::WalkIndex(pager, root).entries == entries) << n;
    if (n == 520) {
      EXPECT_EQ(levels.size(), 5u);
    }
  }
}

const char* kItems = R"(table items
column id long
column name text 255
column grp integer
column at datetime
column v double
index PrimaryKey primary id
index name unique name
index grp_at grp at-
index v v-
)";

using Row = std::vector<std::optional<ado::Value>>;

// Names long enough to give the unique text index three levels, in an order
// unrelated to the id.
std::string NameOf(int id) {
  uint32_t h = static_cast<uint32_t>(id) * 2654435761u;
  return std::to_string(h) + "-" + std::string(200, 'x') + std::to_string(id);
}

Row Item(int id) {
  Row r(5);
  r[0] = int64_t{id};
  r[1] = NameOf(id);
  r[2] = int64_t{id % 37};
  r[3] = ado::DateTime{1990 + id % 40, 1 + id % 12, 1 + id % 28, id % 24, 0, 0};
  r[4] = static_cast<double>((id * 7919) % 10007) - 5000.0;
  return r;
}

std::string NewItemsFile(const TempDir& dir) {
  std::string path = (dir.path() / "items.mdb").string();
  jet::CreateDatabase(path, kBrenvoPassword, jet::ParseSchema(kItems));
  return path;
}

TEST(IndexTrees, CommittedRowsTakeInterleavedAndAscendingKeysAcrossDurablePoints) {
  TempDir dir;
  std::string path = NewItemsFile(dir);
  std::mt19937 rng(5);
  std::vector<int> even, odd;
  for (int i = 0; i < 3000; ++i) (i % 2 ? odd : even).push_back(i);
  std::shuffle(even.begin(), even.end(), rng);
  std::shuffle(odd.begin(), odd.end(), rng);
  {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("items");
    for (size_t i = 0; i < even.size(); ++i) {
      t.Insert(Item(even[i]));
      if (i % 250 == 249) t.Commit();
    }
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path), "");
  {
    // Every new key falls between committed ones, in every index.
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("items");
    for (size_t i = 0; i < odd.size(); ++i) {
      t.Insert(Item(odd[i]));
      if (i % 170 == 169) t.Commit();
    }
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path), "");
  CheckLinks(path, "items");
  {
    // Ascending ids past the last: the primary key's old leaves are taken
    // over whole; the other indexes still interleave.
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("items");
    for (int id = 3000; id < 6000; ++id) {
      t.Insert(Item(id));
      if (id % 333 == 0) t.Commit();
    }
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path), "");
  auto depth = CheckLinks(path, "items");
  EXPECT_GE(depth["name"], 3u);
  EXPECT_GE(depth["PrimaryKey"], 2u);

  auto db = jet::Database::Open(path, kBrenvoPassword);
  const auto& t = db->Table("items");
  EXPECT_EQ(t.rowCount, 6000u);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  jet::Pager pager(fd, path, 4096, db->Header().encryptionKey);
  for (const auto& ri : t.realIndexes) {
    jet::IndexWalk wk = jet::WalkIndex(pager, ri.firstPage);
    EXPECT_EQ(wk.entries.size(), 6000u);
  }
  if (HaveMdbtools()) {
    EXPECT_EQ(ExportWithMdbtools(path, "items").size(), 6001u);
  }
}

TEST(IndexTrees, UniqueKeysOnDiskOnlyOrPendingAreRefused) {
  TempDir dir;
  std::string path = NewItemsFile(dir);
  {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("items");
    for (int id = 0; id < 2000; id += 2) t.Insert(Item(id));
    w->Close();
  }
  auto refused = [](jet::TableWriter& t, const Row& r) {
    try {
      t.Insert(r);
      return false;
    } catch (const BrenvoError& e) {
      EXPECT_NE(e.description().find("duplicate values"), std::string::npos) << e.description();
      return true;
    }
  };
  {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("items");
    // A committed id from the middle of the tree; then a committed name
    // under a new id. Nothing of this session is in memory yet.
    EXPECT_TRUE(refused(t, Item(1000)));
    Row r = Item(5001);
    r[1] = NameOf(1234);
    EXPECT_TRUE(refused(t, r));
    // New keys between the committed ones are taken.
    for (int id = 1; id < 400; id += 2) t.Insert(Item(id));
    // Keys of this interval, not on disk yet: the last one, an earlier one.
    EXPECT_TRUE(refused(t, Item(399)));
    EXPECT_TRUE(refused(t, Item(201)));
    r = Item(6001);
    r[1] = NameOf(201);
    EXPECT_TRUE(refused(t, r));
    t.Commit();
    // Keys the last durable point wrote.
    EXPECT_TRUE(refused(t, Item(201)));
    r[1] = NameOf(399);
    EXPECT_TRUE(refused(t, r));
    for (int id = 401; id < 1200; id += 2) t.Insert(Item(id));
    t.Commit();
    EXPECT_TRUE(refused(t, Item(1199)));
    EXPECT_TRUE(refused(t, Item(1998)));
    EXPECT_EQ(t.RowCount(), 1000u + 200u + 400u);
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path), "");
  CheckLinks(path, "items");
  {
    // Emptied, every key is free again.
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("items");
    t.DeleteAll();
    t.Insert(Item(1000));
    t.Insert(Item(201));
    EXPECT_TRUE(refused(t, Item(201)));
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path), "");
}

TEST(IndexTrees, TreesMadeByAccessTakeNewEntries) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "dbMain.mdb");
  CheckLinks(path, "sale_m");
  auto refused = [](jet::TableWriter& t, const Row& r) {
    try {
      t.Insert(r);
      return false;
    } catch (const BrenvoError&) {
      return true;
    }
  };
  auto sale = [](int id, int day) {
    Row r(8);
    r[0] = int64_t{id};
    // Numbers of the form Access's rows have, between theirs.
    char no[32];
    std::snprintf(no, sizeof no, "S2010%02d%02d-%06d", 1 + day % 12, 1 + day % 28, id);
    r[1] = std::string(no);
    r[2] = ado::DateTime{2000 + day % 20, 1 + day % 12, 1 + day % 28, 0, 0, 0};
    r[3] = int64_t{day % 500};
    r[4] = 1000.5 * id;
    return r;
  };
  {
    auto w = jet::JetWriter::Open(path, kBrenvoPassword);
    auto& t = w->Table("sale_m");
    Row dup = sale(9000, 1);
    dup[1] = std::string("S20160509-000001");  // Access's row 1
    EXPECT_TRUE(refused(t, dup));
    EXPECT_TRUE(refused(t, sale(2000, 1)));
    for (int id = 4001; id <= 7000; ++id) {
      t.Insert(sale(id, id * 31));
      if (id % 400 == 0) t.Commit();
    }
    EXPECT_TRUE(refused(t, dup));
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path), "");
  CheckLinks(path, "sale_m");
  auto db = jet::Database::Open(path, kBrenvoPassword);
  EXPECT_EQ(db->Table("sale_m").rowCount, 7000u);
}

}  // namespace
}  // namespace brenvo::test
