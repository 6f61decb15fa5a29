// Every user table of the shared Jet files exports byte for byte as the
// reference CSVs, the schema listings match, and the stored counts agree.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "db/jet/byte_order.h"
#include "db/jet/header.h"
#include "db/jet/rc4.h"
#include "jet_test_util.h"

namespace brenvo::test {
namespace {

void ExpectFolderMatches(const std::filesystem::path& mdb, const std::filesystem::path& expected,
                         const std::string& password) {
  auto db = jet::Database::Open(mdb.string(), password);
  EXPECT_EQ(mdb::SchemaFileText(*db, mdb.filename().string()), ReadFile(expected / "schema.txt")) << mdb;
  int compared = 0;
  for (const auto& e : std::filesystem::directory_iterator(expected)) {
    if (e.path().extension() != ".csv") continue;
    std::string table = e.path().stem().string();
    std::string got = ExportToString(*db, table);
    std::string want = ReadFile(e.path());
    EXPECT_TRUE(got == want) << mdb.filename() << " table " << table << ": export differs (" << got.size()
                             << " bytes, expected " << want.size() << ")";
    ++compared;
  }
  EXPECT_GT(compared, 0) << expected;
  // One CSV per user table, no more and no fewer.
  EXPECT_EQ(static_cast<size_t>(compared), db->UserTables().size()) << mdb;
}

void ExpectCounts(const std::filesystem::path& mdb, const std::filesystem::path& countsFile) {
  auto db = jet::Database::Open(mdb.string(), "wq3518");
  std::istringstream in(ReadFile(countsFile));
  std::string table;
  long long rows;
  std::vector<std::string> order;
  while (in >> table >> rows) {
    order.push_back(table);
    EXPECT_EQ(db->Table(table).rowCount, rows) << table;
  }
  // counts.txt is in catalogue order, the order of the table listing.
  EXPECT_EQ(db->UserTables(), order);
}

TEST(JetFixtures, AccessMadeFilesExportAsReference) {
  REQUIRE_FIXTURES();
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(JetCompat())) {
    if (e.path().extension() != ".mdb") continue;
    SCOPED_TRACE(e.path().filename().string());
    ExpectFolderMatches(e.path(), JetCompat() / "expected" / e.path().stem(), "");
    ++files;
  }
  EXPECT_EQ(files, 14);
}

TEST(JetFixtures, HostDatabaseExportsAsReference) {
  REQUIRE_FIXTURES();
  ExpectFolderMatches(BrenvoFixtures() / "dbMain.mdb", BrenvoFixtures() / "expected", "wq3518");
  ExpectCounts(BrenvoFixtures() / "dbMain.mdb", BrenvoFixtures() / "expected" / "counts.txt");
}

TEST(JetFixtures, EmptyHostDatabaseExportsAsReference) {
  REQUIRE_FIXTURES();
  ExpectFolderMatches(BrenvoFixtures() / "empty-dbMain.mdb", BrenvoFixtures() / "expected-empty", "wq3518");
}

TEST(JetFixtures, LargeHostDatabaseExportsAsReference) {
  REQUIRE_FIXTURES();
  ExpectFolderMatches(BrenvoFixtures() / "dbMain-large.mdb", BrenvoFixtures() / "expected-large", "wq3518");
  ExpectCounts(BrenvoFixtures() / "dbMain-large.mdb", BrenvoFixtures() / "expected-large" / "counts.txt");
}

// A database saved with page encryption: every page after the header is
// RC4 with the key (header key XOR page number); it reads as the plain file.
TEST(JetFixtures, EncryptedPagesReadLikeThePlainFile) {
  REQUIRE_FIXTURES();
  std::string plain = ReadFile(JetCompat() / "testV2000.mdb");
  std::vector<uint8_t> b(plain.begin(), plain.end());
  std::vector<uint8_t> page0(b.begin(), b.begin() + 4096);
  jet::ToggleHeaderMask(page0);
  const uint32_t key = 0x1234ABCD;
  jet::Put32(&page0[0x3E], key);
  jet::ToggleHeaderMask(page0);
  std::copy(page0.begin(), page0.end(), b.begin());
  for (size_t p = 1; p < b.size() / 4096; ++p) {
    uint8_t k[4];
    jet::Put32(k, key ^ static_cast<uint32_t>(p));
    jet::Rc4Xor(k, 4, &b[p * 4096], 4096);
  }
  auto db = jet::Database::OpenSource(jet::MakeMemorySource(b), "testV2000.mdb", "");
  EXPECT_EQ(db->Header().encryptionKey, key);
  EXPECT_EQ(ExportToString(*db, "Table1"), ReadFile(JetCompat() / "expected" / "testV2000" / "Table1.csv"));
}

}  // namespace
}  // namespace brenvo::test
