// The Korean-sorted Access files of real users: the check passes them, and
// the writer adds rows to them (its entries merged into leaves Access wrote,
// including leaves whose shared prefix runs on into the row pointer).
#include <gtest/gtest.h>

#include <filesystem>

#include <fcntl.h>

#include <sstream>

#include "db/ado/recordset.h"
#include "db/jet/check.h"
#include "db/jet/database.h"
#include "db/jet/index_key.h"
#include "db/jet/jet_connection.h"
#include "db/jet/jet_errors.h"
#include "db/jet/stored_keys.h"
#include "db/jet/write_index.h"
#include "db/jet/write_pager.h"
#include "db/jet/writer.h"
#include "support/test_support.h"
#include "tests/jetwrite/write_support.h"
#include "tools/brenvo-mdb/csv_format.h"
#include "tools/brenvo-mdb/csv_import.h"

namespace brenvo::test {
namespace {

namespace fs = std::filesystem;
using Row = std::vector<std::optional<ado::Value>>;

std::vector<fs::path> KoreanSortedFiles() {
  std::vector<fs::path> out;
  fs::path dir = FixturesDir() / "realworld";
  if (!fs::exists(dir)) return out;
  for (const auto& e : fs::directory_iterator(dir)) {
    const fs::path& p = e.path();
    if (p.extension() != ".mdb" || p.filename().string().rfind("kr_", 0) != 0) continue;
    auto db = jet::Database::Open(p.string(), "");
    if (db->Header().sortLcid == jet::kSortKorean) out.push_back(p);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string Copy(const TempDir& dir, const fs::path& from) {
  fs::path to = dir.path() / from.filename();
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
  return to.string();
}

std::string Faults(const jet::CheckReport& r) {
  std::string s;
  for (const auto& f : r.faults) s += f + "\n";
  return s;
}

// Every index's keys, sorted (row pointers left out: rows stored again
// land elsewhere).
std::vector<std::vector<std::string>> IndexKeys(const std::string& path, const std::string& table,
                                                const std::string& password = "") {
  auto db = jet::Database::Open(path, password);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  jet::Pager pager(fd, path, jet::kJet4PageSize, db->Header().encryptionKey);
  std::vector<std::vector<std::string>> out;
  for (const auto& ri : db->Table(table).realIndexes) {
    std::vector<std::string> keys;
    if (ri.firstPage)
      for (auto& e : jet::WalkIndex(pager, ri.firstPage).entries) keys.push_back(std::move(e.key));
    std::sort(keys.begin(), keys.end());
    out.push_back(std::move(keys));
  }
  return out;
}

std::string ConnectionString(const std::string& path, const std::string& password = "") {
  std::string s = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path;
  if (!password.empty()) s += ";Jet OLEDB:Database Password=" + password;
  return s;
}

std::vector<std::vector<ado::Value>> ReadRows(ado::Connection& conn, const std::string& table) {
  std::vector<std::vector<ado::Value>> rows;
  auto rs = conn.OpenTable(table, ado::OpenMode::Read);
  for (; !rs->Eof(); rs->MoveNext()) {
    rows.emplace_back();
    for (int j = 0; j < rs->FieldCount(); ++j) rows.back().push_back(rs->GetValue(j));
  }
  rs->Close();
  return rows;
}

// Empties the table through the record-set path and stores the rows again.
void RefillThroughRecordsets(const std::string& path, const std::string& table, const std::string& password = "") {
  auto conn = jet::MakeJetConnection();
  conn->Open(ConnectionString(path, password));
  auto rows = ReadRows(*conn, table);
  conn->Execute("DELETE FROM " + table);
  auto w = conn->OpenTable(table, ado::OpenMode::Append);
  for (const auto& r : rows) {
    w->AddNew();
    for (size_t j = 0; j < r.size(); ++j)
      if (!ado::IsNull(r[j])) w->SetValue(static_cast<int>(j), r[j]);
    w->Update();
  }
  w->Close();
  conn->Close();
}

// Empties the table and imports its own CSV export.
void RefillThroughImport(const std::string& path, const std::string& table) {
  std::string csv;
  {
    auto db = jet::Database::Open(path, "");
    mdb::ExportCsv(*db, table, [&](std::string_view piece) {
      csv.append(piece);
      return true;
    });
  }
  auto w = jet::JetWriter::Open(path, "");
  w->Table(table).DeleteAll();
  std::istringstream in(csv);
  mdb::ImportCsv(*w, table, in);
  w->Close();
}

TEST(KoreanFiles, TheCheckPassesEveryKoreanSortedFile) {
  auto files = KoreanSortedFiles();
  if (files.empty()) GTEST_SKIP() << "realworld fixtures absent";
  EXPECT_EQ(files.size(), 7u);
  for (const auto& p : files) {
    jet::CheckReport r = jet::CheckDatabase(p.string(), "");
    EXPECT_TRUE(r.Ok()) << p.filename() << "\n" << Faults(r);
  }
}

TEST(KoreanFiles, NewRowsMergeIntoLeavesAccessWrote) {
  fs::path src = FixturesDir() / "realworld" / "kr_icon001-APT_Sampledb_ACCEVENT.mdb";
  if (!fs::exists(src)) GTEST_SKIP() << "realworld fixtures absent";
  TempDir dir;
  std::string path = Copy(dir, src);
  long before = jet::CheckDatabase(path, "").indexEntries;
  {
    auto w = jet::JetWriter::Open(path, "");
    auto& t = w->Table("TB_ACCESSEVENT");
    // Keys that fall among Access's entries in every index: the same group,
    // device and card as the stored rows, times between theirs.
    for (int i = 0; i < 1500; ++i) {
      Row r(16);
      r[1] = ado::Value(std::string("1234567890"));
      r[2] = ado::Value(std::string(i % 2 ? "20121204" : "20121130"));
      char time[8];
      std::snprintf(time, sizeof time, "%06d", (i * 37) % 240000);
      r[3] = ado::Value(std::string(time));
      r[4] = ado::Value(int64_t{1});
      r[5] = ado::Value(std::string(i % 3 ? "01" : "02"));
      r[6] = ado::Value(int64_t{1 + i % 2});
      r[7] = ado::Value("4A46299" + std::string(1, static_cast<char>((i % 2 ? 'A' : 'a') + i % 6)));
      r[14] = ado::Value(std::string(i % 4 ? "1" : "0"));
      t.Insert(r);
      if (i == 700) w->Commit();
    }
    w->Close();
  }
  jet::CheckReport r = jet::CheckDatabase(path, "");
  EXPECT_TRUE(r.Ok()) << Faults(r);
  EXPECT_EQ(r.rows, 1210 + 1500);
  EXPECT_EQ(r.indexEntries, before + 5 * 1500);
  EXPECT_TRUE(r.notes.empty());
}

TEST(KoreanFiles, RefilledTablesCarryAccessKeysByteForByte) {
  auto files = KoreanSortedFiles();
  if (files.empty()) GTEST_SKIP() << "realworld fixtures absent";
  long tables = 0;
  for (const auto& src : files) {
    std::vector<std::string> names = jet::Database::Open(src.string(), "")->UserTables();
    for (const auto& table : names) {
      auto original = IndexKeys(src.string(), table);
      if (original.empty()) continue;
      ++tables;
      for (bool viaImport : {false, true}) {
        TempDir dir;
        std::string path = Copy(dir, src);
        if (viaImport) RefillThroughImport(path, table);
        else RefillThroughRecordsets(path, table);
        EXPECT_TRUE(IndexKeys(path, table) == original) << src.filename() << " " << table << " import " << viaImport;
        jet::CheckReport r = jet::CheckDatabase(path, "");
        EXPECT_TRUE(r.Ok()) << src.filename() << "\n" << Faults(r);
      }
    }
  }
  EXPECT_GE(tables, 12);
}

// A copy of dbMain relabelled to the Korean order keeps its General keys:
// no Korean file, but the keys show which source wins. Every stored value
// (spaces, parentheses and all) takes its stored key back; a value never
// seen needs weights of its own.
TEST(KoreanFiles, StoredKeysComeBeforeTheEngineWeights) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "dbMain.mdb");
  RelabelSortOrder(path, kBrenvoPassword, jet::kSortKorean);
  auto original = IndexKeys(path, "customer", kBrenvoPassword);
  RefillThroughRecordsets(path, "customer", kBrenvoPassword);
  EXPECT_TRUE(IndexKeys(path, "customer", kBrenvoPassword) == original);

  auto conn = jet::MakeJetConnection();
  conn->Open(ConnectionString(path, kBrenvoPassword));
  EXPECT_FALSE(conn->PartlyKeyedTextColumns("customer").empty());
  EXPECT_TRUE(conn->CanKeyText("customer", "cust_name", "ABC123"));
  EXPECT_FALSE(conn->CanKeyText("customer", "cust_name", "새 거래처 (주)"));
  auto w = conn->OpenTable("customer", ado::OpenMode::Append);
  w->AddNew();
  w->SetValue(0, int64_t{999999});
  w->SetValue(1, std::string("K999999"));
  w->SetValue(2, std::string("새 거래처 (주)"));
  try {
    w->Update();
    ADD_FAILURE() << "stored";
  } catch (const BrenvoError& e) {
    EXPECT_NE(e.description().find("' ' (U+0020)"), std::string::npos) << e.description();
  }
  w->Close();
  conn->Close();
}

}  // namespace
}  // namespace brenvo::test
