// brenvo-mdb import refuses what it cannot store exactly: fields that do not
// match the table's columns, text that is not UTF-8, encoded surrogates, an
// unterminated quote. Every refusal names the line (and column) and says how
// many rows were stored before it; those rows stay.
#include <gtest/gtest.h>

#include <sstream>

#include "db/jet/create.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"
#include "tools/brenvo-mdb/csv_import.h"

namespace brenvo::test {
namespace {

struct ImportFile {
  TempDir dir;
  std::string path;
  ImportFile() {
    path = (dir.path() / "i.mdb").string();
    jet::CreateDatabase(path, "", jet::ParseSchema("table t\ncolumn id long\ncolumn name text 10\n"
                                                   "column note memo\ncolumn raw binary 4\n"
                                                   "index PrimaryKey primary id\n"));
  }
  // The error text, or "" when the import went through.
  std::string Import(const std::string& csv, uint64_t* stored = nullptr) {
    auto w = jet::JetWriter::Open(path, "");
    std::istringstream in(csv);
    std::string err;
    try {
      uint64_t n = mdb::ImportCsv(*w, "t", in);
      if (stored) *stored = n;
    } catch (const BrenvoError& e) {
      err = e.description();
    }
    w->Close();
    return err;
  }
  std::string Rows() {
    std::string csv = ExportWithOurReader(path, "t", "");
    return csv.substr(csv.find('\n') + 1);
  }
};

const std::string kHead = "id,name,note,raw\r\n";

TEST(CsvImport, FieldCountsMustMatchTheColumns) {
  ImportFile f;
  EXPECT_EQ(f.Import(kHead + "1,a,,\r\n2,b,,,extra\r\n3,c,,\r\n"),
            "line 3: 5 fields, the table has 4 columns. 1 row was stored before it.");
  EXPECT_EQ(f.Rows(), "1,a,,\r\n");
  EXPECT_EQ(f.Import(kHead + "4,d\r\n"), "line 2: 2 fields, the table has 4 columns. 0 rows were stored before it.");
  // A quoted field over two lines counts its lines.
  EXPECT_EQ(f.Import(kHead + "5,\"x\r\ny\",,\r\n6,f,,,\r\n"),
            "line 4: 5 fields, the table has 4 columns. 1 row was stored before it.");
  EXPECT_NE(f.Import("id,name,note\r\n7,g,\r\n").find("does not name column 'raw'"), std::string::npos);
  EXPECT_NE(f.Import("id,name,note,raw,name\r\n").find("'name' is named twice"), std::string::npos);
  EXPECT_NE(f.Import("id,name,note,raw,other\r\n").find("'other' is not in table t"), std::string::npos);
  EXPECT_EQ(f.Rows(), "1,a,,\r\n5,\"x\r\ny\",,\r\n");
}

TEST(CsvImport, TextMustBeUtf8WithoutSurrogates) {
  ImportFile f;
  EXPECT_EQ(f.Import(kHead + "1,ok,,\r\n2,b\xff" "ad,,\r\n"),
            "line 3, column 2 (name): invalid UTF-8 at byte 2. 1 row was stored before it.");
  // An encoded surrogate half, as some converters write one of a pair.
  EXPECT_EQ(f.Import(kHead + "3,x,a\xed\xa0\xbd\xed\xb8\x80z,\r\n"),
            "line 2, column 3 (note): an encoded surrogate (U+D800..U+DFFF) at byte 2. 0 rows were stored before "
            "it.");
  // Overlong forms and truncated sequences.
  EXPECT_NE(f.Import(kHead + "4,\xc0\xaf,,\r\n").find("invalid UTF-8 at byte 1"), std::string::npos);
  EXPECT_NE(f.Import(kHead + "5,x,\xe6\x97,\r\n").find("column 3 (note): invalid UTF-8"), std::string::npos);
  // Real multi-byte text goes in, four-byte characters too.
  EXPECT_EQ(f.Import(kHead + "6,한글,\xf0\x9f\x98\x80,\r\n"), "");
  EXPECT_EQ(f.Rows(), "1,ok,,\r\n6,한글,\xf0\x9f\x98\x80,\r\n");
}

TEST(CsvImport, AnUnterminatedQuoteNamesItsLine) {
  ImportFile f;
  uint64_t stored = 0;
  EXPECT_EQ(f.Import(kHead + "1,a,\"two\r\nlines\",\r\n2,b,,\r\n3,\"c,,\r\n4,d,,\r\n"),
            "CSV: the quoted field that begins on line 5 is not closed. 2 rows were stored before it.");
  EXPECT_EQ(f.Rows(), "1,a,\"two\r\nlines\",\r\n2,b,,\r\n");
  EXPECT_EQ(f.Import(kHead + "7,g,,\"\"\r\n8,h,,0aFF\r\n", &stored), "");
  EXPECT_EQ(stored, 2u);
  EXPECT_NE(f.Rows().find("7,g,,\"\"\r\n8,h,,0AFF\r\n"), std::string::npos);
  EXPECT_NE(f.Import(kHead + "9,i,,ABC\r\n").find("line 2, column 4 (raw): binary values are hexadecimal"),
            std::string::npos);
}

// Numbers come back as the export wrote them, the extremes of Single and
// Double included.
TEST(CsvImport, ExportedNumbersGoBackInUnchanged) {
  TempDir dir;
  std::string path = (dir.path() / "n.mdb").string();
  jet::CreateDatabase(path, "", jet::ParseSchema("table n\ncolumn s single\ncolumn d double\n"));
  const std::string csv =
      "s,d\r\n340282350000000000000000000000000000000,17976931348623157" + std::string(292, '0') +
      "\r\n-340282350000000000000000000000000000000,0.1\r\n0.000000000000000000000000000000000000000000001,"
      "0.0000001\r\n";
  {
    auto w = jet::JetWriter::Open(path, "");
    std::istringstream in(csv);
    EXPECT_EQ(mdb::ImportCsv(*w, "n", in), 3u);
    w->Close();
  }
  EXPECT_EQ(ExportWithOurReader(path, "n", ""), csv);
  auto w = jet::JetWriter::Open(path, "");
  std::istringstream in("s,d\r\n340282370000000000000000000000000000000,1\r\n");
  try {
    mdb::ImportCsv(*w, "n", in);
    ADD_FAILURE() << "a Single beyond its range was stored";
  } catch (const BrenvoError& e) {
    EXPECT_NE(e.description().find("Numeric field overflow."), std::string::npos) << e.description();
  }
}

}  // namespace
}  // namespace brenvo::test
