// The copy of an Access file taken before the copy run's first change.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "db/ado/recordset.h"
#include "db/jet/jet_connection.h"
#include "db/mdb_backup.h"
#include "tests/jetwrite/write_support.h"
#include "util/error.h"

namespace brenvo::test {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<ado::Connection> Connect(const std::string& path) {
  auto conn = jet::MakeJetConnection();
  conn->Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" +
             kBrenvoPassword);
  return conn;
}

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
  return out;
}

TEST(Backup, IsTheFileToTheByteAndKeepsTheTenNewestOfThatFile) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "dbMain.mdb");
  std::string before = ReadFile(path);
  fs::path backups = dir.path() / "backup";
  fs::create_directories(backups);
  // Eleven older copies of this file, and copies of others that look alike.
  for (int i = 0; i < 11; ++i) WriteFile(backups / ("dbMain_2020010" + std::to_string(i % 10) + "_1200" +
                                                    (i < 10 ? "00" : "01") + ".mdb"),
                                         "old");
  std::set<std::string> others = {"dbMain_old_20200101_120000.mdb", "empty-dbMain_20200101_120000.mdb",
                                  "dbMain_20200101_120000.txt", "notes.txt"};
  for (const auto& n : others) WriteFile(backups / n, "other");

  auto conn = Connect(path);
  std::string copy = BackupMdb(*conn, path);
  EXPECT_EQ(fs::path(copy).parent_path(), backups);
  EXPECT_TRUE(ReadFile(copy) == before) << "the copy differs from the file";
  // The connection holds the file as its writer from the copy on: nobody
  // else opens it until it closes.
  EXPECT_THROW(Connect(path), BrenvoError);
  conn->Execute("DELETE FROM sale_d");
  conn->Close();
  EXPECT_TRUE(ReadFile(copy) == before);
  EXPECT_EQ(CheckFaults(copy), "");

  std::set<std::string> left = Names(backups);
  int ofThisFile = 0;
  for (const auto& n : left)
    if (n.rfind("dbMain_20", 0) == 0 && n.size() == std::string("dbMain_20200101_120000.mdb").size() &&
        n.substr(n.size() - 4) == ".mdb")
      ++ofThisFile;
  EXPECT_EQ(ofThisFile, 10);
  EXPECT_TRUE(left.count(fs::path(copy).filename().string()));
  // The two oldest went; the other files' copies stay.
  EXPECT_FALSE(left.count("dbMain_20200100_120000.mdb"));
  EXPECT_FALSE(left.count("dbMain_20200100_120001.mdb"));
  for (const auto& n : others) EXPECT_TRUE(left.count(n)) << n;

  // A second copy within the same second gets a name of its own.
  auto again = Connect(path);
  std::string second = BackupMdb(*again, path);
  EXPECT_NE(second, copy);
  again->Close();
}

TEST(Backup, AFullDiskLeavesNoPartialCopyAndSaysSo) {
  REQUIRE_FIXTURES();
  // Room for dbMain.mdb (4.2 MB) and one more megabyte, not for its copy.
  SmallTmpfs fs(4292608 + 1024 * 1024);
  if (!fs.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  std::string path = (fs.path() / "dbMain.mdb").string();
  fs::copy_file(FixturesDir() / "brenvo" / "dbMain.mdb", path);
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  std::string before = ReadFile(path);

  auto conn = Connect(path);
  try {
    BackupMdb(*conn, path);
    ADD_FAILURE() << "the backup did not fail";
  } catch (const BrenvoError& e) {
    EXPECT_NE(e.description().find("백업 파일을 만들지 못했습니다"), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("No space left on device"), std::string::npos) << e.description();
  }
  conn->Close();
  EXPECT_TRUE(Names(fs.path() / "backup").empty());
  EXPECT_TRUE(ReadFile(path) == before);
}

}  // namespace
}  // namespace brenvo::test
