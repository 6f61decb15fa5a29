// The reference data of dbMain.mdb imported into a copy of the empty file
// through the insert path of the copy run, exported again and compared byte
// for byte with the reference; then emptied and imported once more.
#include <gtest/gtest.h>

#include <fstream>

#include "db/jet/check.h"
#include "db/jet/jet_errors.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"
#include "tools/brenvo-mdb/csv_import.h"

namespace brenvo::test {
namespace {

// Every table but dbversion, whose one row the empty file already holds.
const std::vector<std::string> kWritable = {"options",  "office",     "local_user", "customer", "pclass",
                                            "product_m", "product_d",
                                            "app_menu", "priv_menu",  "accounts",   "cashbook", "schedules",
                                            "estimate_m", "estimate_d", "sale_m",   "sale_d",   "receive",
                                            "taxlist_m",  "taxlist_d"};

uint64_t Import(jet::JetWriter& w, const std::string& table) {
  std::ifstream in(FixturesDir() / "brenvo" / "expected" / (table + ".csv"), std::ios::binary);
  return mdb::ImportCsv(w, table, in);
}

TEST(FixtureImport, EveryWritableTableComesBackAsTheReference) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CopyBrenvoFixture(dir, "empty-dbMain.mdb");
  for (int round = 0; round < 2; ++round) {
    {
      auto w = jet::JetWriter::Open(path, kBrenvoPassword);
      for (const auto& t : kWritable) {
        if (round == 1) w->Table(t).DeleteAll();
        Import(*w, t);
      }
      w->Close();
    }
    for (const auto& t : kWritable) EXPECT_EQ(ExportWithOurReader(path, t), ExpectedCsv(t)) << t << " round " << round;
    EXPECT_EQ(CheckFaults(path), "") << "round " << round;
  }
  if (HaveMdbtools()) {
    // mdbtools reads the same rows: counts, and the text of a Korean memo.
    auto sched = ExportWithMdbtools(path, "schedules");
    ASSERT_EQ(sched.size(), 201u);
    auto sale = ExportWithMdbtools(path, "sale_d");
    EXPECT_EQ(sale.size(), 16001u);
  }
}

TEST(FixtureImport, TheFixturesThemselvesPassTheCheck) {
  REQUIRE_FIXTURES();
  // Files written by an independent implementation and by Access: the
  // check recomputes every index key they hold (Hangul names included) and
  // finds the same bytes.
  for (const char* f : {"brenvo/dbMain.mdb", "brenvo/empty-dbMain.mdb", "jet-compat/indexTestV2000.mdb",
                        "jet-compat/testIndexPropertiesV2000.mdb", "jet-compat/compIndexTestV2000.mdb"}) {
    jet::CheckReport r = jet::CheckDatabase((FixturesDir() / f).string(), kBrenvoPassword);
    std::string faults;
    for (const auto& s : r.faults) faults += s + "\n";
    EXPECT_EQ(faults, "") << f;
    EXPECT_GT(r.indexEntries, 0) << f;
    EXPECT_TRUE(r.notes.empty()) << f << ": " << (r.notes.empty() ? "" : r.notes.front());
  }
}

}  // namespace
}  // namespace brenvo::test
