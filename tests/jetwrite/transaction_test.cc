// Whole-table replace inside a transaction: the table holds its old rows
// until the commit, and exactly those again after a rollback, a close
// without commit, a failing source or a failed commit (a kill: crash_test).
#include <gtest/gtest.h>

#include <fcntl.h>

#include <filesystem>
#include <set>

#include "db/ado/recordset.h"
#include "db/jet/byte_order.h"
#include "db/jet/data_page.h"
#include "db/jet/database.h"
#include "db/jet/jet_connection.h"
#include "db/jet/jet_errors.h"
#include "db/jet/write_pager.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"

namespace brenvo::test {
namespace {

using Row = std::vector<std::optional<ado::Value>>;

constexpr int64_t kNewIds = 100000;

// sale_m rows with ids the fixture does not use.
Row NewSale(int i) { return SaleRow(i, kNewIds); }

std::unique_ptr<ado::Connection> Connect(const std::string& path) {
  auto conn = jet::MakeJetConnection();
  conn->Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" +
             kBrenvoPassword);
  return conn;
}

std::set<int64_t> NewIds(int n) {
  std::set<int64_t> s;
  for (int i = 1; i <= n; ++i) s.insert(kNewIds + i);
  return s;
}

// Pages at or past the end of the file that the global usage map (inline
// form) marks used: a commit that failed after writing the map left them so.
std::vector<uint32_t> UsedPastTheEnd(const std::string& path) {
  auto db = jet::Database::Open(path, kBrenvoPassword);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  jet::Pager pager(fd, path, 4096, db->Header().encryptionKey);
  jet::Page page = pager.Read(1);
  jet::ByteView view{page.data(), page.size()};
  jet::RowSlot slot = jet::ReadSlot(view, 0);
  const uint8_t* row = page.data() + slot.start;
  std::vector<uint32_t> used;
  if (row[0] != 0) return used;
  uint32_t first = jet::Get32(row + 1);
  uint64_t bits = (slot.length - 5) * 8ull;
  for (uint64_t p = std::max<uint64_t>(first, pager.PageCount()); p < first + bits; ++p)
    if (!(row[5 + (p - first) / 8] & (1u << ((p - first) % 8)))) used.push_back(static_cast<uint32_t>(p));
  return used;
}

void AddRows(ado::Recordset& rs, int rows) {
  for (int i = 1; i <= rows; ++i) {
    Row r = NewSale(i);
    rs.AddNew();
    for (size_t c = 0; c < r.size(); ++c)
      if (r[c]) rs.SetValue(static_cast<int>(c), *r[c]);
    rs.Update();
  }
}

void AppendThroughRecordset(ado::Connection& conn, int rows) {
  auto rs = conn.OpenTable("sale_m", ado::OpenMode::Append);
  AddRows(*rs, rows);
  rs->Close();
}

// Rows 1..rows through the writer, with a durable point every `every`.
void InsertRows(jet::TableWriter& t, int rows, int every) {
  for (int i = 1; i <= rows; ++i) {
    t.Insert(NewSale(i));
    if (i % every == 0) t.Commit();
  }
}

class Replace : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FIXTURES();
    path_ = CopyBrenvoFixture(dir_, "dbMain.mdb");
    before_ = ReadFile(path_);
    oldSales_ = ExportWithOurReader(path_, "sale_m");
  }
  // The rolled-back replace left nothing behind: the file is the same to
  // the byte and still takes a replace that commits.
  void ExpectUntouched() {
    EXPECT_EQ(ExportWithOurReader(path_, "sale_m"), oldSales_);
    EXPECT_TRUE(ReadFile(path_) == before_) << "the file changed";
    EXPECT_EQ(CheckFaults(path_), "");
  }
  TempDir dir_;
  std::string path_;
  std::string before_;
  std::string oldSales_;
};

TEST_F(Replace, CommitLeavesOnlyTheNewRows) {
  auto conn = Connect(path_);
  conn->BeginTrans();
  EXPECT_EQ(conn->Execute("DELETE FROM sale_m"), 4000);
  AppendThroughRecordset(*conn, 300);
  conn->CommitTrans();
  auto rs = conn->OpenQuery("SELECT COUNT(*) FROM sale_m");
  EXPECT_EQ(std::get<int64_t>(rs->GetValue(0)), 300);
  rs->Close();
  conn->Close();
  EXPECT_EQ(StoredIds(path_, "sale_m"), NewIds(300));
  EXPECT_EQ(CheckFaults(path_), "");
}

TEST_F(Replace, RollbackCloseAndAFailingSourceLeaveTheTableAsItWas) {
  {
    auto conn = Connect(path_);
    conn->BeginTrans();
    conn->Execute("DELETE FROM sale_m");
    AppendThroughRecordset(*conn, 300);
    conn->RollbackTrans();
    // The connection reads the old rows again and may start over.
    auto rs = conn->OpenQuery("SELECT COUNT(*) FROM sale_m");
    EXPECT_EQ(std::get<int64_t>(rs->GetValue(0)), 4000);
    rs->Close();
    conn->Close();
  }
  ExpectUntouched();

  {
    auto conn = Connect(path_);
    conn->BeginTrans();
    conn->Execute("DELETE FROM sale_m");
    AppendThroughRecordset(*conn, 300);
    conn->Close();
  }
  ExpectUntouched();

  {
    // The source fails in the middle of the table: the caller rolls back
    // with the append record set still open.
    auto conn = Connect(path_);
    conn->BeginTrans();
    conn->Execute("DELETE FROM sale_m");
    auto rs = conn->OpenTable("sale_m", ado::OpenMode::Append);
    AddRows(*rs, 59);
    conn->RollbackTrans();
    rs.reset();
    conn.reset();
  }
  ExpectUntouched();
}

TEST_F(Replace, IntervalsInsideATransactionWritePagesButCommitNothing) {
  // Durable points inside the transaction (the record set's every 20,000
  // rows, here forced every 250) merge the index trees on new pages.
  {
    auto w = jet::JetWriter::Open(path_, kBrenvoPassword);
    w->BeginTransaction();
    auto& t = w->Table("sale_m");
    t.DeleteAll();
    InsertRows(t, 1200, 250);
    w->RollbackTransaction();
    w->Close();
  }
  ExpectUntouched();

  // The same without the DELETE: appended rows alone wait for the commit too.
  {
    auto w = jet::JetWriter::Open(path_, kBrenvoPassword);
    w->BeginTransaction();
    auto& t = w->Table("sale_m");
    InsertRows(t, 700, 250);
    w->Close();
  }
  ExpectUntouched();

  std::set<int64_t> old = StoredIds(path_, "sale_m");
  auto w = jet::JetWriter::Open(path_, kBrenvoPassword);
  w->BeginTransaction();
  auto& t = w->Table("sale_m");
  InsertRows(t, 700, 250);
  w->CommitTransaction();
  // The next transaction replaces what the first one committed, and
  // empties its own rows once on the way.
  w->BeginTransaction();
  t.DeleteAll();
  InsertRows(t, 500, 250);
  t.DeleteAll();
  InsertRows(t, 900, 250);
  // The writer's own reader sees the file's state: the first commit's rows.
  EXPECT_EQ(StoredIds(*w->OpenReader(), "sale_m").size(), old.size() + 700);
  w->CommitTransaction();
  w->Close();
  EXPECT_EQ(StoredIds(path_, "sale_m"), NewIds(900));
  EXPECT_EQ(CheckFaults(path_), "");
}

TEST_F(Replace, WhatATransactionDoesNotDoIsRefused) {
  auto conn = Connect(path_);
  EXPECT_THROW(conn->CommitTrans(), BrenvoError);
  EXPECT_THROW(conn->RollbackTrans(), BrenvoError);
  conn->BeginTrans();
  EXPECT_THROW(conn->BeginTrans(), BrenvoError);
  conn->Execute("DELETE FROM sale_m");
  // One table per transaction; its own rows are not read until it ends.
  EXPECT_THROW(conn->Execute("DELETE FROM sale_d"), BrenvoError);
  EXPECT_THROW(conn->OpenTable("customer", ado::OpenMode::Append), BrenvoError);
  EXPECT_THROW(conn->OpenQuery("SELECT COUNT(*) FROM SALE_M"), BrenvoError);
  EXPECT_THROW(conn->OpenTable("sale_m", ado::OpenMode::Read), BrenvoError);
  auto rs = conn->OpenQuery("SELECT COUNT(*) FROM sale_d");
  EXPECT_EQ(std::get<int64_t>(rs->GetValue(0)), 16000);
  rs->Close();
  // The refusals changed nothing: the transaction still commits.
  AppendThroughRecordset(*conn, 10);
  conn->CommitTrans();
  conn->Close();
  EXPECT_EQ(StoredIds(path_, "sale_m"), NewIds(10));
  EXPECT_EQ(ExportWithOurReader(path_, "sale_d"), ExpectedCsv("sale_d"));
  EXPECT_EQ(CheckFaults(path_), "");
}

TEST_F(Replace, ACommitThatCannotWriteLeavesTheOldTable) {
  auto fill = [](jet::JetWriter& w) {
    w.BeginTransaction();
    auto& t = w.Table("sale_m");
    t.DeleteAll();
    InsertRows(t, 800, 300);
  };
  // One failing write at every point of the commit, the definition's
  // rewrite included, until the commit has nothing left to fail.
  for (long after = 0;; ++after) {
    {
      auto w = jet::JetWriter::Open(path_, kBrenvoPassword);
      fill(*w);
      w->InjectWriteFailureAfter(after, true);
      bool committed = false;
      try {
        w->CommitTransaction();
        committed = true;
      } catch (const BrenvoError&) {
      }
      EXPECT_FALSE(w->InTransaction());
      w->InjectWriteFailureAfter(-1);
      if (committed) {
        w->Close();
        break;
      }
      // The table goes on as it was: another replace starts over.
      w->Close();
    }
    ASSERT_EQ(ExportWithOurReader(path_, "sale_m"), oldSales_) << after;
    ASSERT_EQ(CheckFaults(path_), "") << after;
    ASSERT_EQ(UsedPastTheEnd(path_), std::vector<uint32_t>{}) << after;
    ASSERT_LT(after, 200);
  }
  EXPECT_EQ(StoredIds(path_, "sale_m"), NewIds(800));
  EXPECT_EQ(CheckFaults(path_), "");
}

TEST_F(Replace, AWriterThatCannotWriteAtAllKeepsTheOldTable) {
  // Every write fails from the commit on, the restoring of the definition
  // too: the table refuses further writes, the file holds the old rows.
  for (long after : {0L, 2L, 8L}) {
    {
      auto w = jet::JetWriter::Open(path_, kBrenvoPassword);
      w->BeginTransaction();
      auto& t = w->Table("sale_m");
      t.DeleteAll();
      for (int i = 1; i <= 800; ++i) t.Insert(NewSale(i));
      w->InjectWriteFailureAfter(after);
      EXPECT_THROW(w->CommitTransaction(), BrenvoError);
      try {
        w->Close();
      } catch (const BrenvoError&) {
      }
    }
    EXPECT_EQ(ExportWithOurReader(path_, "sale_m"), oldSales_) << after;
    EXPECT_EQ(CheckFaults(path_), "") << after;
  }
}

TEST(ReplaceOnAFullDisk, TheOldTableStaysAndTheCommitFails) {
  REQUIRE_FIXTURES();
  // dbMain.mdb is 4.2 MB; 600 KB more takes a few thousand rows, not 20,000.
  SmallTmpfs fs(4292608 + 600 * 1024);
  if (!fs.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  std::string path = (fs.path() / "dbMain.mdb").string();
  std::filesystem::copy_file(FixturesDir() / "brenvo" / "dbMain.mdb", path);
  std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  std::string oldRows = ExportWithOurReader(path, "sale_d");

  auto conn = Connect(path);
  conn->BeginTrans();
  conn->Execute("DELETE FROM sale_d");
  auto rs = conn->OpenTable("sale_d", ado::OpenMode::Append);
  long stored = 0;
  bool failed = false;
  try {
    for (int i = 1; i <= 60000; ++i) {
      rs->AddNew();
      rs->SetValue(0, int64_t{i});
      rs->SetValue(1, int64_t{1});
      rs->SetValue(3, std::string(50, 'x'));
      rs->Update();
      ++stored;
    }
    rs->Close();
    conn->CommitTrans();
  } catch (const BrenvoError& e) {
    failed = true;
    conn->RollbackTrans();
  }
  EXPECT_TRUE(failed) << stored << " rows fit";
  rs.reset();
  conn->Close();
  EXPECT_EQ(ExportWithOurReader(path, "sale_d"), oldRows);
  EXPECT_EQ(CheckFaults(path), "");
  // The space the transaction took is given back.
  EXPECT_EQ(std::filesystem::file_size(path), 4292608u);
}

}  // namespace
}  // namespace brenvo::test
