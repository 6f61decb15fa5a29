// The system catalogue of a file from CreateDatabase: the rows and tables
// the Jet provider writes into a new database, with the columns and indexes
// Access-made files have, so that other Jet readers find what they look for
// (the Tables container above all).
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "db/jet/check.h"
#include "db/jet/column_value.h"
#include "db/jet/create.h"
#include "db/jet/database.h"
#include "db/jet/table_scan.h"
#include "tests/jetwrite/write_support.h"
#include "tools/brenvo-mdb/csv_format.h"

namespace brenvo::test {
namespace {

using Rows = std::vector<std::map<std::string, ado::Value>>;

Rows ReadAll(const jet::Database& db, const std::string& table) {
  const jet::TableDef& t = db.Table(table);
  jet::TableScan scan(db.File(), t);
  Rows out;
  std::vector<uint8_t> scratch;
  for (jet::RowBytes rb; scan.Next(rb);) {
    jet::RowReader r(rb.bytes, t);
    auto& row = out.emplace_back();
    for (const auto& c : t.columns) row[c.name] = jet::DecodeValue(db.File(), r, c, scratch);
  }
  return out;
}

int64_t Int(const ado::Value& v) { return std::get<int64_t>(v); }

// Columns (name, type, length) and indexes of a table, as a comparable text.
std::string Shape(const jet::Database& db, const std::string& table) {
  const jet::TableDef& t = db.Table(table);
  std::string s = std::to_string(t.tableType) + ":";
  for (const auto& c : t.columns) {
    s += " " + c.name + "/" + std::to_string(c.type) + "/" + std::to_string(c.IsLongValue() ? 0 : c.length);
    s += c.IsFixed() ? "f" : "v";
  }
  std::set<std::string> idx;
  for (const auto& l : t.indexes) {
    const jet::RealIndex& r = t.realIndexes[l.realIndex];
    std::string i = l.name + "(";
    for (const auto& ic : r.columns) i += t.ColumnByNumber(ic.number)->name + (ic.ascending ? "+" : "-");
    idx.insert(i + ") flags " + std::to_string(r.flags & 0x0F));
  }
  for (const auto& i : idx) s += " | " + i;
  return s;
}

struct Created {
  TempDir dir;
  std::string path;
  Created() {
    path = (dir.path() / "new.mdb").string();
    jet::CreateDatabase(path, "pw", jet::ParseSchema("table Orders\ncolumn id long autonumber\ncolumn note text 20\n"
                                                     "index PrimaryKey primary id\n"
                                                     "table 거래처\ncolumn code text 10\n"));
  }
};

TEST(NewFileCatalogue, SystemTablesHaveJetsColumnsAndIndexes) {
  REQUIRE_FIXTURES();
  Created f;
  auto ours = jet::Database::Open(f.path, "pw");
  // A file made through the Jet provider, and one saved by Access.
  for (const char* ref : {"realworld/kr_YunHeeCheol-jyl_Debug_ninone.mdb", "jet-compat/bigIndexTestV2000.mdb"}) {
    auto access = jet::Database::Open((FixturesDir() / ref).string(), "");
    for (const char* t : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"})
      EXPECT_EQ(Shape(*ours, t), Shape(*access, t)) << t << " against " << ref;
  }
  // The definitions sit where Jet puts them: their ids are 2 to 5.
  EXPECT_EQ(ours->Table("MSysObjects").page, 2u);
  EXPECT_EQ(ours->Table("MSysACEs").page, 3u);
  EXPECT_EQ(ours->Table("MSysQueries").page, 4u);
  EXPECT_EQ(ours->Table("MSysRelationships").page, 5u);
  EXPECT_EQ(ours->UserTables(), (std::vector<std::string>{"Orders", "거래처"}));
}

TEST(NewFileCatalogue, HoldsTheContainersTheSystemTablesAndTheirPermissions) {
  Created f;
  auto db = jet::Database::Open(f.path, "pw");
  std::map<std::string, std::tuple<int64_t, int64_t, int64_t, int64_t>> objects;  // id, parent, type, flags
  for (auto& r : ReadAll(*db, "MSysObjects"))
    objects[std::get<std::string>(r["Name"])] = {Int(r["Id"]), Int(r["ParentId"]), Int(r["Type"]), Int(r["Flags"])};
  const int64_t root = 0x0F000000, tables = 0x0F000001, sys = INT32_MIN;
  using T = std::tuple<int64_t, int64_t, int64_t, int64_t>;
  EXPECT_EQ(objects["Tables"], T(tables, root, 3, sys));
  EXPECT_EQ(objects["Databases"], T(0x0F000002, root, 3, sys));
  EXPECT_EQ(objects["Relationships"], T(0x0F000003, root, 3, sys));
  EXPECT_EQ(objects["MSysDb"], T(0x10000000, 0x0F000002, 2, sys));
  EXPECT_EQ(objects["MSysObjects"], T(2, tables, 1, sys));
  EXPECT_EQ(objects["MSysACEs"], T(3, tables, 1, sys));
  EXPECT_EQ(objects["MSysQueries"], T(4, tables, 1, sys));
  EXPECT_EQ(objects["MSysRelationships"], T(5, tables, 1, sys));
  EXPECT_EQ(objects["Orders"], T(db->Table("Orders").page, tables, 1, 0));
  EXPECT_EQ(objects["거래처"], T(db->Table("거래처").page, tables, 1, 0));
  EXPECT_EQ(objects.size(), 10u);

  // Every object has permissions, each user table two entries.
  std::multiset<int64_t> granted;
  for (auto& r : ReadAll(*db, "MSysACEs")) granted.insert(Int(r["ObjectId"]));
  for (const auto& [name, o] : objects) EXPECT_GT(granted.count(std::get<0>(o)), 0u) << name;
  EXPECT_EQ(granted.count(db->Table("Orders").page), 2u);
  EXPECT_EQ(granted.size(), 16u + 2 * 2);

  // The system tables' own indexes hold one entry per row with the right
  // keys (ParentIdName, Id; ObjectId).
  jet::CheckReport r = jet::CheckDatabase(f.path, "pw", true);
  std::string faults;
  for (const auto& x : r.faults) faults += x + "\n";
  EXPECT_EQ(faults, "");
  EXPECT_EQ(r.tables, 6);
}

}  // namespace
}  // namespace brenvo::test
