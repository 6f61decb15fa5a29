// Format pieces checked on hand-made bytes, without the shared files: text
// forms, Decimal, the header mask and password, row layout, the SQL parser
// and the CSV field rules.
#include <gtest/gtest.h>

#include "db/jet/column_value.h"
#include "db/jet/database.h"
#include "db/jet/header.h"
#include "db/jet/jet_errors.h"
#include "db/jet/row.h"
#include "db/jet/sql.h"
#include "db/jet/text.h"
#include "tools/brenvo-mdb/csv_format.h"

namespace brenvo::test {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Decode(const Bytes& b) {
  std::string s;
  jet::DecodeJetText(b.data(), b.size(), s);
  return s;
}

TEST(JetText, StoredFormsDecode) {
  EXPECT_EQ(Decode({0xFF, 0xFE, 'a', 'b', 'c'}), "abc");
  EXPECT_EQ(Decode({'a', 0, 'b', 0}), "ab");
  // Compressed, then an uncompressed segment with 가 (U+AC00 -> 00 AC would
  // read as a switch, so take 한 U+D55C), then compressed again.
  EXPECT_EQ(Decode({0xFF, 0xFE, 'x', 0x00, 0x5C, 0xD5, 0x00, 'y'}), "x한y");
  EXPECT_EQ(Decode({0xFF, 0xFE, 0xE9}), "é");                      // Latin-1 byte
  EXPECT_EQ(Decode({0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80");  // surrogate pair
  EXPECT_EQ(Decode({0x3D, 0xD8, 'a', 0}), "\xEF\xBF\xBD" "a");      // lone high surrogate
  EXPECT_EQ(Decode({'a', 0, 'b'}), "a");                            // odd trailing byte
  EXPECT_EQ(Decode({}), "");
  EXPECT_EQ(Decode({0xFF, 0xFE}), "");
}

TEST(JetText, EncodingRoundTrips) {
  for (std::string s : {"", "C00001", "Kim's 무역\\본점", "㈜태양물류", "café", "a\r\nb"}) {
    for (bool compress : {false, true}) {
      Bytes b = jet::EncodeJetText(s, compress);
      EXPECT_EQ(Decode(b), s) << s;
    }
  }
  EXPECT_EQ(jet::EncodeJetText("ab", true), (Bytes{0xFF, 0xFE, 'a', 'b'}));
  EXPECT_EQ(jet::EncodeJetText("한", true), (Bytes{0x5C, 0xD5}));  // not compressible
}

TEST(JetDecimal, SignScaleAndWordOrder) {
  uint8_t v[17] = {};
  v[13] = 0x39;  // the least significant word comes last, itself little-endian
  v[14] = 0x30;  // 0x3039 = 12345
  EXPECT_EQ(jet::DecimalText(v, 0), "12345");
  EXPECT_EQ(jet::DecimalText(v, 2), "123.45");
  EXPECT_EQ(jet::DecimalText(v, 6), "0.012345");
  v[0] = 0x80;
  EXPECT_EQ(jet::DecimalText(v, 2), "-123.45");
  uint8_t z[17] = {0x80};
  EXPECT_EQ(jet::DecimalText(z, 3), "0.000");  // no negative zero
  uint8_t hi[17] = {};
  hi[1] = 1;  // 2^96
  EXPECT_EQ(jet::DecimalText(hi, 0), "79228162514264337593543950336");
}

// A page 0 with the given password and creation date, masked as Jet masks it.
Bytes MakeHeader(const std::u16string& password, double created) {
  Bytes p(4096, 0);
  p[1] = 1;
  std::memcpy(&p[4], "Standard Jet DB", 15);
  p[0x14] = 1;
  uint64_t bits;
  std::memcpy(&bits, &created, 8);
  for (int i = 0; i < 8; ++i) p[jet::kCreationDateOffset + i] = static_cast<uint8_t>(bits >> (8 * i));
  uint8_t mask[4];
  jet::PasswordMask(created, mask);
  for (size_t i = 0; i < jet::kPasswordLen; ++i) {
    uint8_t b = 0;
    if (i / 2 < password.size()) b = static_cast<uint8_t>(i % 2 ? password[i / 2] >> 8 : password[i / 2]);
    p[jet::kPasswordOffset + i] = b ^ mask[i % 4];
  }
  jet::ToggleHeaderMask(p);
  return p;
}

TEST(JetHeader, MaskStreamAndPassword) {
  // The header's key stream begins B5 6F 03 62 61 08 C2 55.
  Bytes zero(4096, 0);
  jet::ToggleHeaderMask(zero);
  EXPECT_EQ(Bytes(zero.begin() + 0x18, zero.begin() + 0x20), (Bytes{0xB5, 0x6F, 0x03, 0x62, 0x61, 0x08, 0xC2, 0x55}));
  uint8_t mask[4];
  jet::PasswordMask(38143.546523784724, mask);
  EXPECT_EQ(Bytes(mask, mask + 4), (Bytes{0xFF, 0x94, 0x00, 0x00}));

  jet::DatabaseHeader h;
  ASSERT_EQ(jet::DecodeHeader(MakeHeader(u"wq3518", 38143.5), h), jet::HeaderCheck::Ok);
  EXPECT_EQ(h.password, u"wq3518");
  ASSERT_EQ(jet::DecodeHeader(MakeHeader(u"", 40000.25), h), jet::HeaderCheck::Ok);
  EXPECT_TRUE(h.password.empty());
  ASSERT_EQ(jet::DecodeHeader(MakeHeader(u"비밀번호20자까지", 1e300), h), jet::HeaderCheck::Ok);
  EXPECT_EQ(h.password, u"비밀번호20자까지");

  // The password is checked before anything past page 0 is read.
  Bytes file = MakeHeader(u"wq3518", 38143.5);
  file.resize(4096 * 4, 0);
  try {
    jet::Database::OpenSource(jet::MakeMemorySource(file), "x.mdb", "wq3519");
    ADD_FAILURE() << "wrong password accepted";
  } catch (const BrenvoError& e) {
    EXPECT_EQ(e.number(), jet::kErrPassword);
  }
  try {  // right password: on to the (missing) catalogue
    jet::Database::OpenSource(jet::MakeMemorySource(file), "x.mdb", "wq3518");
    ADD_FAILURE() << "a file without a catalogue opened";
  } catch (const BrenvoError& e) {
    EXPECT_EQ(e.number(), jet::kErrFail);
  }
}

TEST(JetRow, FixedVariableNullAndAddedColumns) {
  jet::TableDef t;
  auto col = [](const char* n, uint8_t type, uint16_t num, bool fixed, uint16_t off, uint16_t var, uint16_t len) {
    jet::ColumnDef c;
    c.name = n;
    c.type = type;
    c.number = num;
    c.flags = fixed ? jet::kColFlagFixed : 0;
    c.fixedOffset = off;
    c.varIndex = var;
    c.length = len;
    return c;
  };
  t.columns = {col("id", jet::kColLong, 0, true, 0, 0, 4), col("name", jet::kColText, 1, false, 0, 0, 20),
               col("flag", jet::kColBool, 2, true, 0, 0, 1), col("note", jet::kColText, 3, false, 0, 1, 20),
               col("qty", jet::kColInt, 4, true, 4, 0, 2)};
  t.varColumns = 2;
  uint16_t ord = 0;
  for (auto& c : t.columns)
    if (c.IsFixed()) c.fixedOrdinal = ord++;

  // Written when the table had four columns: qty did not exist yet.
  // [cols=4][id=7]["hi"][var table: end=10, name@6][nvar=2... ]
  Bytes row = {4, 0, 7, 0, 0, 0, 'h', 0, 'i', 0};
  // variable table backwards: slot0 start 6, slot1 start 10 (note empty), end 10
  Bytes trailer = {10, 0, 10, 0, 6, 0, 2, 0};
  row.insert(row.end(), trailer.begin(), trailer.end());
  row.push_back(0x01 | 0x02 | 0x04);  // id, name, flag set; note NULL
  jet::RowReader r(jet::ByteView{row.data(), row.size()}, t);
  std::vector<uint8_t> scratch;
  EXPECT_TRUE(r.HasValue(t.columns[0]));
  EXPECT_EQ(jet::Get32(r.Bytes(t.columns[0]).data), 7u);
  ASSERT_TRUE(r.HasValue(t.columns[1]));
  std::string s;
  jet::DecodeJetText(r.Bytes(t.columns[1]).data, r.Bytes(t.columns[1]).size, s);
  EXPECT_EQ(s, "hi");
  EXPECT_TRUE(r.HasValue(t.columns[2]));   // Yes/No = its bit
  EXPECT_FALSE(r.HasValue(t.columns[3]));  // NULL
  EXPECT_FALSE(r.HasValue(t.columns[4]));  // added after the row was written

  // A trailer that claims more variable slots than the row can hold.
  Bytes bad = row;
  bad[bad.size() - 3] = 200;
  EXPECT_THROW(jet::RowReader(jet::ByteView{bad.data(), bad.size()}, t), BrenvoError);
  // A variable offset past the data.
  bad = row;
  bad[10] = 60;
  jet::RowReader r2(jet::ByteView{bad.data(), bad.size()}, t);
  EXPECT_THROW(r2.Bytes(t.columns[3]), BrenvoError);
  EXPECT_THROW(jet::RowReader(jet::ByteView{row.data(), 3}, t), BrenvoError);
}

TEST(JetSql, ParsesTheConsolesStatements) {
  using namespace jet::sql;
  auto s = std::get<SelectStatement>(Parse("select COUNT(*) from [sale d]"));
  EXPECT_EQ(s.table, "sale d");
  ASSERT_EQ(s.items.size(), 1u);
  EXPECT_TRUE(s.items[0].expr->countStar);

  s = std::get<SelectStatement>(Parse("SELECT ver FROM dbversion WHERE dbid = 'it''s'"));
  ASSERT_TRUE(s.where);
  EXPECT_EQ(s.where->name, "=");
  EXPECT_EQ(std::get<std::string>(s.where->args[1]->literal), "it's");

  s = std::get<SelectStatement>(Parse("SELECT c FROM t WHERE LENB(StrConv(c,128)) >= 24;"));
  EXPECT_EQ(s.where->name, ">=");
  EXPECT_EQ(s.where->args[0]->name, "LENB");
  EXPECT_EQ(s.where->args[0]->args[0]->name, "STRCONV");
  EXPECT_EQ(std::get<int64_t>(s.where->args[1]->literal), 24);

  s = std::get<SelectStatement>(Parse("SELECT * FROM t WHERE 0"));
  EXPECT_FALSE(s.items[0].expr);
  auto d = std::get<DeleteStatement>(Parse("delete from [t]"));
  EXPECT_EQ(d.table, "t");
  // A bracketed keyword is a name.
  s = std::get<SelectStatement>(Parse("SELECT [from] FROM [select]"));
  EXPECT_EQ(s.items[0].expr->name, "from");

  for (const char* bad : {"SELEC * FROM t", "SELECT * FROM", "SELECT * FROM t t2", "SELECT a b FROM t",
                          "SELECT 'x FROM t", "SELECT * FROM t WHERE a = = 1", "SELECT * FROM t WHERE a @ 1"}) {
    try {
      Parse(bad);
      ADD_FAILURE() << "parsed: " << bad;
    } catch (const BrenvoError& e) {
      EXPECT_EQ(e.number(), jet::kErrSyntax) << bad;
    }
  }
}

TEST(CsvFields, QuotingAndNumbers) {
  auto f = [](const ado::Value& v) {
    std::string s;
    mdb::AppendCsvField(v, s);
    return s;
  };
  EXPECT_EQ(f(ado::Null{}), "");
  EXPECT_EQ(f(std::string()), "\"\"");
  EXPECT_EQ(f(std::string("plain")), "plain");
  EXPECT_EQ(f(std::string(" lead")), "\" lead\"");
  EXPECT_EQ(f(std::string("trail\t")), "\"trail\t\"");
  EXPECT_EQ(f(std::string("1,000ml")), "\"1,000ml\"");
  EXPECT_EQ(f(std::string("규격 5'x10\" \\ 양면")), "\"규격 5'x10\"\" \\ 양면\"");
  EXPECT_EQ(f(std::string("a\r\nb")), "\"a\r\nb\"");
  EXPECT_EQ(f(std::string("in ner")), "in ner");

  EXPECT_EQ(f(1234.5678), "1234.5678");
  EXPECT_EQ(f(1604.9381400000002), "1604.9381400000002");
  EXPECT_EQ(f(-1500000.0), "-1500000");
  EXPECT_EQ(f(0.001), "0.001");
  EXPECT_EQ(f(99999999999.99), "99999999999.99");
  EXPECT_EQ(f(-0.0), "0");
  EXPECT_EQ(f(1e21), "1000000000000000000000");
  EXPECT_EQ(f(1e-7), "0.0000001");
  EXPECT_EQ(f(0.1f), "0.1");
  // Large magnitudes: the shortest digits that read back, not the binary
  // expansion.
  EXPECT_EQ(f(3.4028235e38f), "340282350000000000000000000000000000000");
  EXPECT_EQ(f(-3.4028235e38f), "-340282350000000000000000000000000000000");
  EXPECT_EQ(f(1.7976931348623157e308), "17976931348623157" + std::string(292, '0'));
  EXPECT_EQ(f(123456789012345680000.0), "123456789012345680000");
  EXPECT_EQ(f(1.5e-10f), "0.00000000015");
  EXPECT_EQ(f(5e-324), "0." + std::string(323, '0') + "5");
  EXPECT_EQ(f(16777216.0f), "16777216");
  EXPECT_EQ(f(-2.5), "-2.5");
  EXPECT_EQ(f(int64_t{255}), "255");
  EXPECT_EQ(f(true), "1");
  EXPECT_EQ(f(ado::Currency{35000}), "3.5000");
  EXPECT_EQ(f(ado::Currency{-5}), "-0.0005");
  EXPECT_EQ(f(ado::Currency{0}), "0.0000");
  EXPECT_EQ(f(ado::DateTime{2024, 2, 29, 0, 0, 0, 0}), "2024-02-29 00:00:00");
  EXPECT_EQ(f(ado::Bytes{0x00, 0xAB, 0x0F}), "00AB0F");
  EXPECT_EQ(f(ado::Bytes{}), "\"\"");
  ado::Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(f(g), "{04030201-0605-0807-090A-0B0C0D0E0F10}");
}

}  // namespace
}  // namespace brenvo::test
