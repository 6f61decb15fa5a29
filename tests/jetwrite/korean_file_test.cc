// The Korean-sorted Access files of real users: the check passes them, and
// the writer adds rows to them (its entries merged into leaves Access wrote,
// including leaves whose shared prefix runs on into the row pointer).
#include <gtest/gtest.h>

#include <filesystem>

#include "db/jet/check.h"
#include "db/jet/database.h"
#include "db/jet/index_key.h"
#include "db/jet/writer.h"
#include "support/test_support.h"

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

}  // namespace
}  // namespace brenvo::test
