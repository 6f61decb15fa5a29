// Files made from scratch: every column type written and read back, through
// our reader and mdbtools, and indexes of every kind walked in the order of
// their values (not only of their key bytes).
#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "db/jet/column_value.h"
#include "db/jet/create.h"
#include "db/jet/database.h"
#include "db/jet/jet_errors.h"
#include "db/jet/row.h"
#include "db/jet/write_index.h"
#include "db/jet/write_pager.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"

namespace brenvo::test {
namespace {

const char* kSchema = R"(# every type, every kind of index
table things
column id long autonumber
column code text 20
column flag yesno
column small byte
column mid integer
column price currency
column ratio single
column amount double
column at datetime
column blob binary 16
column uid guid
column notes memo
index PrimaryKey primary id
index code unique code
index flag flag
index price_desc price- small
index at_amount at- amount
index ratio ratio
index mid ignorenulls mid
)";

using Row = std::vector<std::optional<ado::Value>>;

Row RandomThing(std::mt19937& rng, int i) {
  Row r(12);
  r[1] = ado::Value("C" + std::to_string(100000 + i));
  r[2] = ado::Value(static_cast<bool>(rng() % 2));
  if (i % 5) r[3] = ado::Value(int64_t(rng() % 256));
  if (i % 3) r[4] = ado::Value(int64_t(static_cast<int>(rng() % 65536) - 32768));
  r[5] = ado::Value(ado::Currency{static_cast<int64_t>(rng() % 2000000000) - 1000000000});
  r[6] = ado::Value(static_cast<float>(static_cast<int>(rng() % 20000) - 10000) / 7.0f);
  r[7] = ado::Value((static_cast<double>(rng() % 2000000) - 1000000.0) / 3.0);
  if (i % 11) r[8] = ado::Value(ado::DateTime{1800 + static_cast<int>(rng() % 300), 1 + static_cast<int>(rng() % 12), 1 + static_cast<int>(rng() % 28), static_cast<int>(rng() % 24), 0, 0});
  r[9] = ado::Value(ado::Bytes{static_cast<uint8_t>(i), 0x00, 0xFF});
  ado::Guid g;
  for (auto& b : g.bytes) b = static_cast<uint8_t>(rng());
  r[10] = ado::Value(g);
  if (i % 50 == 0) r[11] = ado::Value(std::string(9000, 'n'));
  return r;
}

// The value of column col in every row, in the order of the index.
std::vector<ado::Value> InIndexOrder(const std::string& path, const std::string& index, const std::string& col) {
  auto db = jet::Database::Open(path, "");
  const auto& t = db->Table("things");
  const jet::RealIndex* ri = nullptr;
  for (const auto& l : t.indexes)
    if (l.name == index) ri = &t.realIndexes[l.realIndex];
  const jet::ColumnDef* c = t.FindColumn(col);
  int fd = ::open(path.c_str(), O_RDONLY);
  jet::Pager pager(fd, path, 4096, 0);
  jet::IndexWalk w = jet::WalkIndex(pager, ri->firstPage);
  std::vector<ado::Value> out;
  std::vector<uint8_t> scratch;
  for (const auto& e : w.entries) {
    jet::RowBytes rb = jet::ReadRow(db->File(), {e.page, e.row}, "row");
    jet::RowReader rr(rb.bytes, t);
    out.push_back(jet::DecodeValue(db->File(), rr, *c, scratch));
  }
  return out;
}

double Num(const ado::Value& v) {
  if (auto p = std::get_if<int64_t>(&v)) return static_cast<double>(*p);
  if (auto p = std::get_if<double>(&v)) return *p;
  if (auto p = std::get_if<float>(&v)) return *p;
  if (auto p = std::get_if<ado::Currency>(&v)) return static_cast<double>(p->scaled);
  if (auto p = std::get_if<ado::DateTime>(&v)) return ado::OleFromDateTime(*p);
  if (auto p = std::get_if<bool>(&v)) return *p ? -1 : 0;
  return -INFINITY;  // NULL sorts first
}

TEST(CreatedFiles, EveryIndexKindWalksInTheOrderOfItsValues) {
  TempDir dir;
  std::string path = (dir.path() / "things.mdb").string();
  jet::CreateDatabase(path, "", jet::ParseSchema(kSchema));
  std::mt19937 rng(99);
  {
    auto w = jet::JetWriter::Open(path, "");
    auto& t = w->Table("things");
    for (int i = 0; i < 3000; ++i) t.Insert(RandomThing(rng, i));
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path, ""), "");
  auto ascending = [](const std::vector<ado::Value>& v) {
    for (size_t i = 1; i < v.size(); ++i)
      if (Num(v[i - 1]) > Num(v[i])) return false;
    return true;
  };
  auto descending = [](const std::vector<ado::Value>& v) {
    for (size_t i = 1; i < v.size(); ++i)
      if (Num(v[i - 1]) < Num(v[i]) && !ado::IsNull(v[i])) return false;
    return true;
  };
  EXPECT_TRUE(ascending(InIndexOrder(path, "PrimaryKey", "id")));
  EXPECT_TRUE(ascending(InIndexOrder(path, "ratio", "ratio")));
  EXPECT_TRUE(descending(InIndexOrder(path, "price_desc", "price")));
  EXPECT_TRUE(descending(InIndexOrder(path, "at_amount", "at")));
  // Yes sorts before No in Jet's Yes/No keys.
  auto flags = InIndexOrder(path, "flag", "flag");
  EXPECT_TRUE(std::is_sorted(flags.begin(), flags.end(), [](const ado::Value& a, const ado::Value& b) {
    return std::get<bool>(a) && !std::get<bool>(b);
  }));
  // Ignoring nulls: only the rows with a value are in the index.
  auto mids = InIndexOrder(path, "mid", "mid");
  EXPECT_EQ(mids.size(), 2000u);
  EXPECT_TRUE(ascending(mids));
  auto codes = InIndexOrder(path, "code", "code");
  EXPECT_TRUE(std::is_sorted(codes.begin(), codes.end(), [](const ado::Value& a, const ado::Value& b) {
    return std::get<std::string>(a) < std::get<std::string>(b);
  }));
}

TEST(CreatedFiles, ValuesOfEveryTypeComeBackAndAutoNumbersCount) {
  TempDir dir;
  std::string path = (dir.path() / "types.mdb").string();
  jet::CreateDatabase(path, "geheim", jet::ParseSchema(kSchema));
  EXPECT_THROW(jet::Database::Open(path, ""), BrenvoError);
  std::mt19937 rng(5);
  Row first = RandomThing(rng, 1), second = RandomThing(rng, 2), third = RandomThing(rng, 3);
  second[0] = ado::Value(int64_t{100});  // an explicit AutoNumber moves the counter on
  {
    auto w = jet::JetWriter::Open(path, "geheim");
    auto& t = w->Table("things");
    t.Insert(first);
    t.Insert(second);
    t.Insert(third);
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path, "geheim"), "");
  auto db = jet::Database::Open(path, "geheim");
  const auto& t = db->Table("things");
  EXPECT_EQ(t.rowCount, 3u);
  EXPECT_EQ(t.nextAutoNumber, 101u);
  // Each row back in the export, with the AutoNumbers it was given.
  std::string csv = ExportWithOurReader(path, "things", "geheim");
  EXPECT_NE(csv.find("\r\n1,C100001,"), std::string::npos) << csv.substr(0, 400);
  EXPECT_NE(csv.find("\r\n100,C100002,"), std::string::npos);
  EXPECT_NE(csv.find("\r\n101,C100003,"), std::string::npos);
  // A Currency of -12.3456 and a GUID print as the reader prints them.
  Row exact(12);
  exact[1] = ado::Value(std::string("EMPTY"));
  exact[2] = ado::Value(true);
  exact[5] = ado::Value(ado::Currency{-123456});
  exact[6] = ado::Value(0.5f);
  exact[7] = ado::Value(1604.9381400000002);
  exact[8] = ado::Value(ado::DateTime{2000, 2, 29, 12, 0, 0});
  exact[9] = ado::Value(ado::Bytes{0xDE, 0xAD});
  db.reset();
  {
    auto w = jet::JetWriter::Open(path, "geheim");
    w->Table("things").Insert(exact);
    w->Close();
  }
  csv = ExportWithOurReader(path, "things", "geheim");
  EXPECT_NE(csv.find("\r\n102,EMPTY,1,,,-12.3456,0.5,1604.9381400000002,2000-02-29 12:00:00,DEAD,,\r\n"),
            std::string::npos)
      << csv;
  if (HaveMdbtools()) {
    auto recs = ExportWithMdbtools(path, "things");
    ASSERT_EQ(recs.size(), 5u);
    EXPECT_EQ(recs[4][1].value_or(""), "EMPTY");
  }
}

TEST(CreatedFiles, SchemaMistakesAreReportedWithTheirLine) {
  try {
    jet::ParseSchema("table t\ncolumn a text 10\ncolumn b wibble\n");
    ADD_FAILURE();
  } catch (const BrenvoError& e) {
    EXPECT_NE(e.description().find("line 3"), std::string::npos);
  }
  TempDir dir;
  EXPECT_THROW(jet::CreateDatabase((dir.path() / "x.mdb").string(), "",
                                   jet::ParseSchema("table t\ncolumn a text\n")),
               BrenvoError);
  EXPECT_THROW(jet::CreateDatabase((dir.path() / "y.mdb").string(), "",
                                   jet::ParseSchema("table t\ncolumn a long\nindex i b\n")),
               BrenvoError);
}

}  // namespace
}  // namespace brenvo::test
