// Decimal (Numeric) columns: the stored bytes agree with what Access wrote,
// values of every kind come back through our reader and mdbtools, digits
// beyond the scale round half away from zero, and values that need more
// digits than the precision are refused without storing the row.
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <random>

#include "db/jet/column_value.h"
#include "db/ado/recordset.h"
#include "db/jet/create.h"
#include "db/jet/database.h"
#include "db/jet/jet_connection.h"
#include "db/jet/row.h"
#include "db/jet/table_scan.h"
#include "db/jet/write_decimal.h"
#include "db/jet/writer.h"
#include "tests/jetwrite/write_support.h"

namespace brenvo::test {
namespace {

namespace fs = std::filesystem;
using Row = std::vector<std::optional<ado::Value>>;

std::string Stored(const ado::Value& v, int precision, int scale) {
  jet::DecimalBytes b = jet::EncodeDecimal(v, precision, scale);
  return jet::DecimalText(b.data(), scale);
}

std::string CompatCopy(const TempDir& dir, const std::string& name) {
  fs::path to = dir.path() / name;
  fs::copy_file(FixturesDir() / "jet-compat" / name, to);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
  return to.string();
}

TEST(DecimalValues, BytesOfTheAccessFileAreReproduced) {
  REQUIRE_FIXTURES();
  auto db = jet::Database::Open((FixturesDir() / "jet-compat" / "fixedNumericTestV2000.mdb").string(), "");
  const auto& t = db->Table("test");
  jet::TableScan scan(db->File(), t);
  jet::RowBytes rb;
  ASSERT_TRUE(scan.Next(rb));
  jet::RowReader row(rb.bytes, t);
  int seen = 0;
  std::vector<uint8_t> scratch;
  for (const auto& c : t.columns) {
    if (c.type != jet::kColNumeric || !row.HasValue(c)) continue;
    ado::Value v = jet::DecodeValue(db->File(), row, c, scratch);
    jet::ByteView stored = row.Bytes(c);
    ASSERT_EQ(stored.size, 17u);
    jet::DecimalBytes ours = jet::EncodeDecimal(v, c.precision, c.scale);
    EXPECT_TRUE(std::equal(ours.begin(), ours.end(), stored.data)) << c.name;
    ++seen;
  }
  EXPECT_EQ(seen, 6);  // 1, 0, 0, 4, -1, 1: the sign byte and the low word both covered
}

TEST(DecimalValues, EveryKindOfValueConvertsAndRoundsHalfAwayFromZero) {
  EXPECT_EQ(Stored(ado::Decimal{"-12.340"}, 10, 3), "-12.340");
  EXPECT_EQ(Stored(ado::Decimal{"-12.34"}, 10, 3), "-12.340");
  EXPECT_EQ(Stored(int64_t{-42}, 10, 2), "-42.00");
  EXPECT_EQ(Stored(true, 5, 0), "-1");
  EXPECT_EQ(Stored(ado::Currency{-123456}, 10, 4), "-12.3456");
  EXPECT_EQ(Stored(ado::Currency{INT64_MIN}, 28, 4), "-922337203685477.5808");
  EXPECT_EQ(Stored(0.1 + 0.2, 28, 20), "0.30000000000000000000");  // 15 digits, as Automation converts
  EXPECT_EQ(Stored(1e20, 28, 0), "100000000000000000000");
  EXPECT_EQ(Stored(0.5f, 5, 2), "0.50");
  EXPECT_EQ(Stored(std::string("  +7.5e-1 "), 5, 2), "0.75");
  EXPECT_EQ(Stored(std::string(".5"), 5, 1), "0.5");
  EXPECT_EQ(Stored(std::string("0.050"), 5, 2), "0.05");
  // Rounding at the scale.
  EXPECT_EQ(Stored(ado::Decimal{"1.2345"}, 10, 3), "1.235");
  EXPECT_EQ(Stored(ado::Decimal{"-1.2345"}, 10, 3), "-1.235");
  EXPECT_EQ(Stored(ado::Decimal{"1.2344999"}, 10, 3), "1.234");
  EXPECT_EQ(Stored(ado::Decimal{"2.5"}, 10, 0), "3");
  EXPECT_EQ(Stored(ado::Decimal{"-2.5"}, 10, 0), "-3");
  EXPECT_EQ(Stored(ado::Decimal{"0.4"}, 10, 0), "0");
  EXPECT_EQ(Stored(ado::Decimal{"-0.4"}, 10, 0), "0");  // no negative zero
  EXPECT_EQ(Stored(ado::Decimal{"0.00049"}, 10, 3), "0.000");
  EXPECT_EQ(Stored(ado::Decimal{"9.9995"}, 5, 3), "10.000");  // the carry still fits 5 digits
  EXPECT_EQ(Stored(ado::Decimal{"-0"}, 3, 0), "0");
  jet::DecimalBytes zero = jet::EncodeDecimal(ado::Decimal{"-0.000"}, 5, 2);
  EXPECT_EQ(zero[0], 0x00);
  // The largest values of the precision, and the 28 digits Access allows.
  EXPECT_EQ(Stored(ado::Decimal{"999.99"}, 5, 2), "999.99");
  EXPECT_EQ(Stored(ado::Decimal{"-9999999999999999999999999999"}, 28, 0), "-9999999999999999999999999999");
}

TEST(DecimalValues, TooManyDigitsOverflowAndTextThatIsNoNumberMismatches) {
  auto error = [](const ado::Value& v, int p, int s) -> std::string {
    try {
      jet::EncodeDecimal(v, p, s);
    } catch (const BrenvoError& e) {
      return e.description();
    }
    return "stored";
  };
  const std::string overflow = "Numeric field overflow.";
  EXPECT_EQ(error(ado::Decimal{"1000.00"}, 5, 2), overflow);
  EXPECT_EQ(error(ado::Decimal{"999.995"}, 5, 2), overflow);  // rounds up to 6 digits
  EXPECT_EQ(error(ado::Decimal{"-1000"}, 5, 2), overflow);
  EXPECT_EQ(error(int64_t{INT64_MAX}, 18, 0), overflow);
  EXPECT_EQ(error(1e30, 28, 0), overflow);
  EXPECT_EQ(error(std::string("1e99999999"), 28, 0), overflow);
  EXPECT_EQ(error(std::numeric_limits<double>::infinity(), 18, 0), overflow);
  EXPECT_EQ(error(std::string("1e-99999999"), 28, 2), "stored");  // rounds to zero
  for (const char* bad : {"", " ", "abc", "1.2.3", "1e", "--1", "1,234", "0x10", "1 2"})
    EXPECT_NE(error(std::string(bad), 18, 2), "stored") << bad;
  EXPECT_NE(error(ado::DateTime{2020, 1, 1}, 18, 2), "stored");
  EXPECT_NE(error(ado::Bytes{1, 2}, 18, 2), "stored");
}

TEST(DecimalValues, RandomValuesComeBackAsTheyWent) {
  std::mt19937_64 rng(17);
  for (int i = 0; i < 5000; ++i) {
    int precision = 1 + static_cast<int>(rng() % 28);
    int scale = static_cast<int>(rng() % precision);
    std::string digits;
    for (int k = 0; k < precision; ++k) digits.push_back(static_cast<char>('0' + rng() % 10));
    std::string intPart = digits.substr(0, digits.size() - scale);
    size_t first = intPart.find_first_not_of('0');
    intPart = first == std::string::npos ? "0" : intPart.substr(first);
    std::string text = intPart + (scale ? "." + digits.substr(digits.size() - scale) : "");
    bool negative = rng() % 2 && text.find_first_not_of("0.") != std::string::npos;
    if (negative) text = "-" + text;
    ASSERT_EQ(Stored(ado::Decimal{text}, precision, scale), text) << precision << "," << scale;
  }
}

const char* kSchema = R"(table amounts
column id long autonumber
column small decimal 5 2
column wide decimal 28 6
column plain decimal
column label text 20
index PrimaryKey primary id
)";

TEST(DecimalColumns, CreatedTableRoundTripsThroughOurReaderAndMdbtools) {
  TempDir dir;
  std::string path = (dir.path() / "amounts.mdb").string();
  jet::CreateDatabase(path, "", jet::ParseSchema(kSchema));
  {
    auto db = jet::Database::Open(path, "");
    const auto& t = db->Table("amounts");
    const jet::ColumnDef* small = t.FindColumn("small");
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small->type, jet::kColNumeric);
    EXPECT_EQ(small->precision, 5);
    EXPECT_EQ(small->scale, 2);
    EXPECT_EQ(small->length, 17);
    EXPECT_EQ(t.FindColumn("plain")->precision, 18);
    EXPECT_EQ(t.FindColumn("plain")->scale, 0);
  }
  {
    auto w = jet::JetWriter::Open(path, "");
    auto& t = w->Table("amounts");
    t.Insert({std::nullopt, ado::Value(ado::Decimal{"-12.340"}), ado::Value(ado::Decimal{"1234567890123456789012.123456"}),
              ado::Value(int64_t{-7}), ado::Value(std::string("decimal"))});
    t.Insert({std::nullopt, ado::Value(1.005), ado::Value(std::string("-0.0000005")), ado::Value(2.5),
              ado::Value(std::string("rounded"))});
    t.Insert({std::nullopt, ado::Value(ado::Null{}), std::nullopt, ado::Value(std::string("0")),
              ado::Value(std::string("nulls"))});
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path, ""), "");
  std::string csv = ExportWithOurReader(path, "amounts", "");
  EXPECT_NE(csv.find("\r\n1,-12.34,1234567890123456789012.123456,-7,decimal\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\r\n2,1.01,-0.000001,3,rounded\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\r\n3,,,0,nulls\r\n"), std::string::npos) << csv;
  if (HaveMdbtools()) {
    auto recs = ExportWithMdbtools(path, "amounts");
    ASSERT_EQ(recs.size(), 4u);
    ASSERT_EQ(recs[1].size(), 5u);
    EXPECT_DOUBLE_EQ(std::stod(recs[1][1].value_or("x")), -12.34);
    EXPECT_DOUBLE_EQ(std::stod(recs[1][3].value_or("x")), -7);
    EXPECT_DOUBLE_EQ(std::stod(recs[2][1].value_or("x")), 1.01);
    EXPECT_DOUBLE_EQ(std::stod(recs[2][3].value_or("x")), 3);
    EXPECT_EQ(recs[3][1].value_or(""), "");
    EXPECT_DOUBLE_EQ(std::stod(recs[3][3].value_or("x")), 0);
  }
}

TEST(DecimalColumns, RefusedValuesLeaveNoRowAndTheFileSound) {
  TempDir dir;
  std::string path = (dir.path() / "refused.mdb").string();
  jet::CreateDatabase(path, "", jet::ParseSchema(kSchema));
  {
    auto w = jet::JetWriter::Open(path, "");
    auto& t = w->Table("amounts");
    auto refused = [&](const Row& r) -> std::string {
      try {
        t.Insert(r);
      } catch (const BrenvoError& e) {
        return e.description();
      }
      return "stored";
    };
    EXPECT_EQ(refused({std::nullopt, ado::Value(ado::Decimal{"1000"})}), "Numeric field overflow.");
    EXPECT_EQ(refused({std::nullopt, std::nullopt, std::nullopt, ado::Value(1e18)}), "Numeric field overflow.");
    EXPECT_NE(refused({std::nullopt, ado::Value(std::string("twelve"))}), "stored");
    EXPECT_EQ(refused({std::nullopt, ado::Value(ado::Decimal{"999.99"}), std::nullopt, ado::Value(1e17)}), "stored");
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path, ""), "");
  auto db = jet::Database::Open(path, "");
  EXPECT_EQ(db->Table("amounts").rowCount, 1u);
  // The refused rows did not take AutoNumbers either.
  std::string csv = ExportWithOurReader(path, "amounts", "");
  EXPECT_NE(csv.find("\r\n1,999.99,,100000000000000000,\r\n"), std::string::npos) << csv;
}

TEST(DecimalColumns, TheAppendRecordSetStoresDecimalsAndRefusesAnOverflowingRow) {
  TempDir dir;
  std::string path = (dir.path() / "append.mdb").string();
  jet::CreateDatabase(path, "", jet::ParseSchema(kSchema));
  auto conn = jet::MakeJetConnection();
  conn->Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path);
  auto rs = conn->OpenTable("amounts", ado::OpenMode::Append);
  rs->AddNew();
  rs->SetValue(1, ado::Decimal{"500.25"});
  rs->SetValue(2, ado::Decimal{"-1234567890.120000"});
  rs->Update();
  rs->AddNew();
  rs->SetValue(1, ado::Decimal{"123456.00"});  // the MySQL side allows more digits
  rs->SetValue(4, std::string("too big"));
  EXPECT_THROW(rs->Update(), BrenvoError);
  rs->AddNew();
  rs->SetValue(1, ado::Decimal{"-0.005"});
  rs->Update();
  ado::CloseADO(rs);
  auto read = conn->OpenTable("amounts", ado::OpenMode::Read);
  std::vector<std::string> seen;
  for (; !read->Eof(); read->MoveNext()) seen.push_back(std::get<ado::Decimal>(read->GetValue(1)).text);
  EXPECT_EQ(seen, (std::vector<std::string>{"500.25", "-0.01"}));
  EXPECT_EQ(read->Field(1).type, ado::adNumeric);
  ado::CloseADO(read);
  conn->Close();
  EXPECT_EQ(CheckFaults(path, ""), "");
}

TEST(DecimalColumns, AccessMadeTableTakesNewRows) {
  REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = CompatCopy(dir, "fixedNumericTestV2000.mdb");
  {
    auto w = jet::JetWriter::Open(path, "");
    auto& t = w->Table("test");
    t.Insert({ado::Value(std::string("ours")), ado::Value(ado::Decimal{"123456789012345678"}),
              ado::Value(ado::Decimal{"-123456789012345678"}), ado::Value(int64_t{0}), ado::Value(4.4),
              ado::Value(std::string("-1.5")), std::nullopt});
    w->Close();
  }
  EXPECT_EQ(CheckFaults(path, ""), "");
  std::string csv = ExportWithOurReader(path, "test", "");
  EXPECT_NE(csv.find("\r\nsome data,1,0,0,4,-1,1\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\r\nours,123456789012345678,-123456789012345678,0,4,-2,\r\n"), std::string::npos) << csv;
  if (HaveMdbtools()) {
    auto recs = ExportWithMdbtools(path, "test");
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[2][0].value_or(""), "ours");
    EXPECT_DOUBLE_EQ(std::stod(recs[2][2].value_or("x")), -123456789012345678.0);
    EXPECT_DOUBLE_EQ(std::stod(recs[2][5].value_or("x")), -2);
  }
}

TEST(DecimalColumns, SchemaRefusesIndexesAndImpossibleSizes) {
  TempDir dir;
  auto refused = [&](const std::string& schema) {
    try {
      jet::CreateDatabase((dir.path() / "x.mdb").string(), "", jet::ParseSchema(schema));
    } catch (const BrenvoError&) {
      return true;
    }
    fs::remove(dir.path() / "x.mdb");
    return false;
  };
  EXPECT_TRUE(refused("table t\ncolumn d decimal 10 2\nindex d d\n"));
  EXPECT_TRUE(refused("table t\ncolumn d decimal 29 2\n"));
  EXPECT_TRUE(refused("table t\ncolumn d decimal 0\n"));
  EXPECT_TRUE(refused("table t\ncolumn d decimal 5 5\n"));
  EXPECT_TRUE(refused("table t\ncolumn d decimal 5 2 1\n"));
  EXPECT_TRUE(refused("table t\ncolumn d decimal autonumber\n"));
  EXPECT_FALSE(refused("table t\ncolumn d decimal 28 27\n"));
  EXPECT_FALSE(refused("table t\ncolumn d decimal 1\n"));
}

}  // namespace
}  // namespace brenvo::test
