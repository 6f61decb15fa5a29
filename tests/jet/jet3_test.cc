// Access 97 (Jet 3) files: the two real ones export as the reference, pass
// the integrity check and serve the console's connection and statements;
// every way of writing into them is refused and leaves the file as it was;
// the format's own traps (one-byte offsets with a jump table, rows without a
// variable-column table, text in a code page) read right; damaged copies
// end in errors.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>

#include "db/ado/recordset.h"
#include "db/jet/check.h"
#include "db/jet/code_page.h"
#include "db/jet/jet_errors.h"
#include "db/jet/row.h"
#include "db/jet/writer.h"
#include "jet_read_all.h"
#include "jet_test_util.h"

namespace brenvo::test {
namespace {

const char* const kJet3Files[] = {"de_SmallLars-esadb_data_jet3", "en_softm-tip_StepByStepVBNET_Students_jet3"};

std::filesystem::path RealWorld() { return FixturesDir() / "realworld"; }
std::string Jet3File(const char* stem) { return (RealWorld() / (std::string(stem) + ".mdb")).string(); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    if (!l.empty()) out.push_back(l);
  }
  return out;
}

TEST(Jet3Files, EveryTableExportsAsTheReference) {
  REQUIRE_FIXTURES();
  int tables = 0;
  for (const char* stem : kJet3Files) {
    SCOPED_TRACE(stem);
    auto db = jet::Database::Open(Jet3File(stem), "");
    const auto expected = RealWorld() / "expected" / stem;
    EXPECT_EQ(db->UserTables(), Lines(ReadFile(expected / "tables.txt")));
    for (const auto& table : db->UserTables()) {
      std::string got = ExportToString(*db, table);
      std::string want = ReadFile(expected / (table + ".csv"));
      ++tables;
      if (want.find("\xEF\xBF\xBD") == std::string::npos) {
        EXPECT_TRUE(got == want) << table << ":\n" << got;
        continue;
      }
      // The reference lost the Latin-1 letters of this code-page 1252 file
      // (ü, ö became U+FFFD); everything else must agree byte for byte.
      EXPECT_TRUE(SameButForLostCharacters(got, want)) << table << ":\n" << got;
      EXPECT_EQ(got.find("\xEF\xBF\xBD"), std::string::npos) << table << ":\n" << got;
    }
  }
  EXPECT_EQ(tables, 14);
  auto db = jet::Database::Open(Jet3File(kJet3Files[0]), "");
  EXPECT_NE(ExportToString(*db, "Vereine").find("Schützenstrasse,99999,Königshausen"), std::string::npos);
}

TEST(Jet3Files, SchemaAndIntegrityCheck) {
  REQUIRE_FIXTURES();
  for (const char* stem : kJet3Files) {
    SCOPED_TRACE(stem);
    jet::CheckReport r = jet::CheckDatabase(Jet3File(stem), "wq3518");
    for (const auto& f : r.faults) ADD_FAILURE() << f;
    EXPECT_GT(r.rows, 0);
    EXPECT_GT(r.indexEntries, r.rows);
  }
  auto db = jet::Database::Open(Jet3File(kJet3Files[1]), "");
  EXPECT_EQ(db->Header().codePage, 1252);
  std::string schema = mdb::SchemaFileText(*db, "Students.mdb");
  EXPECT_NE(schema.find("format: V1997 [VERSION_3]\n"), std::string::npos);
  // Text sizes are characters, one code-page byte each.
  EXPECT_NE(schema.find("4. Grade: TEXT, length 30 bytes, 30 chars\n"), std::string::npos) << schema;
  EXPECT_NE(schema.find("1. ResultsID: LONG, length 4 bytes, autonumber, fixed\n"), std::string::npos);
  EXPECT_NE(schema.find("StudentsAndClasses: (StudentID asc, ClassID asc) unique\n"), std::string::npos);

  // Long values: the catalogue's property blobs (OLE) each begin with Jet
  // 3's "KKD\0"; its longest value (Lv, 11,602 bytes) runs over six pages.
  std::string catalog = ExportToString(*db, "MSysObjects");
  size_t blobs = 0, longest = 0;
  for (size_t at = catalog.find(",4B4B4400"); at != std::string::npos; at = catalog.find(",4B4B4400", at + 1))
    ++blobs;
  std::istringstream lines(catalog);
  for (std::string l; std::getline(lines, l);)
    for (size_t a = 0, b; a < l.size(); a = b + 1) {
      b = std::min(l.find(',', a), l.size());
      longest = std::max(longest, b - a);
    }
  EXPECT_GT(blobs, 30u);
  EXPECT_EQ(longest, 2 * 11602u);
}

// The console's connection string carries the host application's password;
// a Jet 3 file without one opens with it, as with the provider.
TEST(Jet3Files, ConsoleConnectionAndStatements) {
  REQUIRE_FIXTURES();
  std::string path = Jet3File(kJet3Files[1]);
  auto conn = ado::CreateConnection(JetConnectionString(path, "wq3518"));
  conn->Open(JetConnectionString(path, "wq3518"));
  auto rs = conn->OpenQuery("SELECT COUNT(*) FROM [Results]");
  EXPECT_EQ(std::get<int64_t>(rs->GetValue(0)), 45);
  rs = conn->OpenQuery("SELECT MAX(LENB(StrConv([Address],128))) FROM [Students]");
  EXPECT_EQ(std::get<int64_t>(rs->GetValue(0)), 28);  // "305 - 14th Ave. S.\r\nSuite 3B"
  rs = conn->OpenTable("Instructors", ado::OpenMode::Read);
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->Field(1).name, "Instructor");
  EXPECT_EQ(rs->Field(1).definedSize, 50);
  EXPECT_EQ(std::get<std::string>(rs->GetValue(1)), "Delamare, Marie");
}

TEST(Jet3Files, EveryWriteIsRefusedAndTheFileStaysAsItWas) {
  REQUIRE_FIXTURES();
  TempDir dir;
  auto copy = dir.path() / "students97.mdb";
  std::filesystem::copy_file(Jet3File(kJet3Files[1]), copy);
  const std::string before = ReadFile(copy);
  auto isRefusal = [](const BrenvoError& e) {
    return e.number() == jet::kErrNotCapable && e.description().find("Access 97 (Jet 3)") != std::string::npos;
  };

  try {
    jet::JetWriter::Open(copy.string(), "");
    ADD_FAILURE() << "the writer opened a Jet 3 file";
  } catch (const BrenvoError& e) {
    EXPECT_TRUE(isRefusal(e)) << e.description();
  }

  auto conn = ado::CreateConnection(JetConnectionString(copy.string(), "wq3518"));
  conn->Open(JetConnectionString(copy.string(), "wq3518"));
  try {
    conn->Execute("DELETE FROM [Results]");
    ADD_FAILURE() << "DELETE FROM ran";
  } catch (const BrenvoError& e) {
    EXPECT_TRUE(isRefusal(e)) << e.description();
  }
  try {
    conn->OpenTable("Results", ado::OpenMode::Append);
    ADD_FAILURE() << "an append record set opened";
  } catch (const BrenvoError& e) {
    EXPECT_TRUE(isRefusal(e)) << e.description();
  }
  try {
    conn->BeginTrans();
    ADD_FAILURE() << "a transaction began";
  } catch (const BrenvoError& e) {
    EXPECT_TRUE(isRefusal(e)) << e.description();
  }
  // The connection still reads after the refusals.
  EXPECT_EQ(std::get<int64_t>(conn->OpenQuery("SELECT COUNT(*) FROM [Results]")->GetValue(0)), 45);
  conn->Close();

  WriteFile(dir.path() / "rows.csv", "ResultsID,StudentID,AssignmentID,Score,Late\r\n99,1,6,50,0\r\n");
  std::string cmd = std::string(BRENVO_MDB_TOOL) + " import '" + copy.string() + "' Results '" +
                    (dir.path() / "rows.csv").string() + "' >/dev/null 2>'" + (dir.path() / "err").string() + "'";
  int st = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 1);
  EXPECT_NE(ReadFile(dir.path() / "err").find("Access 97 (Jet 3)"), std::string::npos);
  EXPECT_TRUE(ReadFile(copy) == before) << "the file changed";
}

// Builds a Jet 3 table definition in memory: columns in number order.
jet::TableDef Jet3Table(std::vector<jet::ColumnDef> cols) {
  jet::TableDef t;
  t.format = &jet::Jet3Format();
  uint16_t fixed = 0;
  for (auto& c : cols) {
    if (c.IsFixed()) c.fixedOrdinal = fixed++;
    else ++t.varColumns;
    c.bytesPerChar = 1;
  }
  t.columns = std::move(cols);
  return t;
}

jet::ColumnDef Col(uint16_t number, uint8_t type, bool fixed, uint16_t offsetOrSlot, uint16_t length) {
  jet::ColumnDef c;
  c.name = "c" + std::to_string(number);
  c.number = number;
  c.type = type;
  c.flags = fixed ? jet::kColFlagFixed : 0;
  c.fixedOffset = fixed ? offsetOrSlot : 0;
  c.varIndex = fixed ? 0 : offsetOrSlot;
  c.length = length;
  return c;
}

std::string Text(const jet::RowReader& r, const jet::ColumnDef& c) {
  jet::ByteView b = r.Bytes(c);
  return std::string(reinterpret_cast<const char*>(b.data), b.size);
}

// A row longer than 255 bytes: the offsets are single bytes, and the jump
// table says from which slot on 256 is to be added.
TEST(Jet3Rows, OffsetsBeyondOneByteGoThroughTheJumpTable) {
  jet::TableDef t = Jet3Table({Col(0, jet::kColLong, true, 0, 4), Col(1, jet::kColText, false, 0, 255),
                               Col(2, jet::kColText, false, 1, 255), Col(3, jet::kColText, false, 2, 255)});
  // [4][id][a x200 @5][b x100 @205][c x10 @305] eod 315, then backwards:
  // offsets eod..slot0, the jump entry (slot 2 is the first at 256 or
  // beyond), v = 3, the null mask.
  std::vector<uint8_t> row = {4, 42, 0, 0, 0};
  row.insert(row.end(), 200, 'a');
  row.insert(row.end(), 100, 'b');
  row.insert(row.end(), 10, 'c');
  for (uint8_t b : {uint8_t(315 - 256), uint8_t(305 - 256), uint8_t(205), uint8_t(5), uint8_t(2), uint8_t(3)})
    row.push_back(b);
  row.push_back(0x0F);
  ASSERT_EQ(row.size(), 322u);
  jet::RowReader r(jet::ByteView{row.data(), row.size()}, t);
  EXPECT_EQ(jet::Get32(r.Bytes(t.columns[0]).data), 42u);
  EXPECT_EQ(Text(r, t.columns[1]), std::string(200, 'a'));
  EXPECT_EQ(Text(r, t.columns[2]), std::string(100, 'b'));
  EXPECT_EQ(Text(r, t.columns[3]), std::string(10, 'c'));

  // Without the jump entry slot 1 would end before it begins: refused.
  std::vector<uint8_t> bad = row;
  bad[row.size() - 3] = 9;
  jet::RowReader r2(jet::ByteView{bad.data(), bad.size()}, t);
  EXPECT_THROW(Text(r2, t.columns[2]), BrenvoError);
  // A variable count the row cannot hold.
  std::vector<uint8_t> shortRow = {4, 42, 0, 0, 0, 5, 5, 5, 5, 200, 0x0F};
  EXPECT_THROW(jet::RowReader(jet::ByteView{shortRow.data(), shortRow.size()}, t), BrenvoError);
  shortRow[9] = 3;
  jet::RowReader r3(jet::ByteView{shortRow.data(), shortRow.size()}, t);
  EXPECT_EQ(Text(r3, t.columns[1]), "");
}

TEST(Jet3Rows, AllFixedColumnsAndShortRows) {
  // No variable columns: count, fixed area, null mask; nothing else.
  jet::TableDef t = Jet3Table({Col(0, jet::kColLong, true, 0, 4), Col(1, jet::kColInt, true, 4, 2),
                               Col(2, jet::kColBool, true, 0, 1)});
  std::vector<uint8_t> row = {3, 7, 0, 0, 0, 0xFF, 0x7F, 0x07};
  jet::RowReader r(jet::ByteView{row.data(), row.size()}, t);
  EXPECT_EQ(jet::Get32(r.Bytes(t.columns[0]).data), 7u);
  EXPECT_EQ(jet::Get16(r.Bytes(t.columns[1]).data), 0x7FFF);
  EXPECT_TRUE(r.HasValue(t.columns[2]));
  // Cut inside the fixed area.
  EXPECT_THROW(jet::RowReader(jet::ByteView{row.data(), 4}, t).Bytes(t.columns[1]), BrenvoError);
  EXPECT_THROW(jet::RowReader(jet::ByteView{row.data(), 0}, t), BrenvoError);
}

TEST(Jet3Text, CodePagesAndBytesTheyDoNotDefine) {
  std::string out;
  jet::CodePage western(1252);
  const uint8_t latin[] = {'K', 0xF6, 'n', 'i', 'g', ' ', 0x80, ' ', 0x81};
  western.Decode(latin, sizeof latin, out);
  EXPECT_EQ(out, "König € \xEF\xBF\xBD");
  out.clear();
  jet::CodePage korean(949);
  // 한글 and a lead byte cut off at the end.
  const uint8_t hangul[] = {0xC7, 0xD1, 0xB1, 0xDB, 'A', 0xC7};
  korean.Decode(hangul, sizeof hangul, out);
  EXPECT_EQ(out, "한글A\xEF\xBF\xBD");
  try {
    jet::CodePage none(17019);
    ADD_FAILURE() << "a converter for code page 17019";
  } catch (const BrenvoError& e) {
    EXPECT_NE(e.description().find("17019"), std::string::npos);
  }
}

TEST(Jet3Damage, TruncatedAndDamagedCopiesEndInErrors) {
  REQUIRE_FIXTURES();
  constexpr size_t kPage = 2048;
  std::mt19937 rng(97);
  for (const char* stem : kJet3Files) {
    std::string s = ReadFile(Jet3File(stem));
    std::vector<uint8_t> whole(s.begin(), s.end());
    ASSERT_TRUE(ReadAllJet(whole, "").ok) << stem;
    for (size_t cut : {size_t{0}, size_t{0x98}, kPage - 1, kPage, 2 * kPage + 5, 3 * kPage, 40 * kPage}) {
      std::vector<uint8_t> b(whole.begin(), whole.begin() + static_cast<long>(std::min(cut, whole.size())));
      ReadAllResult r = ReadAllJet(b, "");
      EXPECT_FALSE(r.ok) << stem << " cut at " << cut;
    }
    for (int round = 0; round < 80; ++round) {
      std::vector<uint8_t> b = whole;
      size_t p = 1 + rng() % (b.size() / kPage - 1);
      if (round % 4 == 0) {
        for (size_t i = 0; i < kPage; ++i) b[p * kPage + i] = static_cast<uint8_t>(rng());
      } else {
        for (int k = 0; k < 6; ++k) b[p * kPage + rng() % kPage] ^= static_cast<uint8_t>(1 + rng() % 255);
      }
      ReadAllJet(b, "");
    }
  }
}

// The integrity check on a damaged copy reports faults; it does not stop at
// the first one or crash.
TEST(Jet3Damage, CheckReportsDamage) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string s = ReadFile(Jet3File(kJet3Files[1]));
  std::mt19937 rng(3);
  int faulty = 0;
  for (int round = 0; round < 24; ++round) {
    std::string b = s;
    // Pages 3..100 hold the catalogue's rows, the table definitions, the
    // user tables' rows and index pages.
    size_t p = 3 + rng() % 98;
    for (int k = 0; k < 12; ++k) b[p * 2048 + rng() % 2048] = static_cast<char>(rng());
    auto path = dir.path() / ("d" + std::to_string(round) + ".mdb");
    WriteFile(path, b);
    try {
      faulty += !jet::CheckDatabase(path.string(), "").Ok();
    } catch (const BrenvoError&) {
      ++faulty;  // the catalogue itself is unreadable
    }
  }
  EXPECT_GT(faulty, 0);
}

}  // namespace
}  // namespace brenvo::test
