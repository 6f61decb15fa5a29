// The Jet connection as the console uses it: opening with the connection
// string (password, missing, foreign and locked files), the five statements
// the console sends, column types as ADO codes, and record-set behaviour.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "db/ado/recordset.h"
#include "db/jet/file_lock.h"
#include "db/jet/jet_connection.h"
#include "db/jet/jet_errors.h"
#include "jet_test_util.h"
#include "util/korean.h"

namespace brenvo::test {
namespace {

using ado::Value;

std::unique_ptr<ado::Connection> OpenJet(const std::string& path, const std::string& password) {
  auto conn = ado::CreateConnection(JetConnectionString(path, password));
  conn->Open(JetConnectionString(path, password));
  return conn;
}

// Runs f and returns the error it throws (number 0 when it throws none).
template <typename F>
BrenvoError ErrorOf(F f) {
  try {
    f();
  } catch (const BrenvoError& e) {
    return e;
  }
  return BrenvoError(0, "no error");
}

std::string DbMain() { return (BrenvoFixtures() / "dbMain.mdb").string(); }

TEST(JetOpen, PasswordIsChecked) {
  REQUIRE_FIXTURES();
  auto conn = OpenJet(DbMain(), "wq3518");
  EXPECT_EQ(conn->State(), ado::adStateOpen);
  conn->Close();
  EXPECT_EQ(conn->State(), ado::adStateClosed);

  for (const char* wrong : {"", "WQ3518", "wq351", "wq35188"}) {
    auto e = ErrorOf([&] { OpenJet(DbMain(), wrong); });
    EXPECT_EQ(e.number(), jet::kErrPassword) << wrong;
    EXPECT_EQ(e.description(), "Not a valid password.");
    EXPECT_EQ(e.source(), jet::kJetSource);
  }
  std::string other = (BrenvoFixtures() / "dbMain-otherpwd.mdb").string();
  EXPECT_EQ(ErrorOf([&] { OpenJet(other, "wq3518"); }).number(), jet::kErrPassword);
  EXPECT_EQ(OpenJet(other, "other1")->State(), ado::adStateOpen);
  // The Access-made files have no password: any password opens them.
  EXPECT_EQ(OpenJet((JetCompat() / "testV2000.mdb").string(), "anything")->State(), ado::adStateOpen);
}

TEST(JetOpen, MissingAndForeignFilesAreRefused) {
  TempDir dir;
  std::string missing = (dir.path() / "dbMain.mdb").string();
  auto e = ErrorOf([&] { OpenJet(missing, "wq3518"); });
  EXPECT_EQ(e.number(), jet::kErrFail);
  EXPECT_EQ(e.description(), "Could not find file '" + missing + "'.");

  std::string text = (dir.path() / "notes.mdb").string();
  WriteFile(text, std::string(8192, 'x'));
  e = ErrorOf([&] { OpenJet(text, "wq3518"); });
  EXPECT_EQ(e.number(), jet::kErrFail);
  EXPECT_EQ(e.description(), "Unrecognized database format '" + text + "'.");

  std::string empty = (dir.path() / "empty.mdb").string();
  WriteFile(empty, "");
  EXPECT_EQ(ErrorOf([&] { OpenJet(empty, ""); }).description(), "Unrecognized database format '" + empty + "'.");

  // A Jet 3 (Access 97) header whose masked region was never masked names a
  // code page no converter knows: refused, naming it.
  std::string jet3(4096, '\0');
  jet3[1] = 1;
  jet3.replace(4, 15, "Standard Jet DB");
  std::string j3 = (dir.path() / "old.mdb").string();
  WriteFile(j3, jet3 + std::string(4096 * 3, '\0'));
  e = ErrorOf([&] { OpenJet(j3, ""); });
  EXPECT_EQ(e.number(), jet::kErrFail);
  EXPECT_NE(e.description().find("code page"), std::string::npos) << e.description();
  // A Jet 3 header on a file shorter than one 2 KB page.
  WriteFile(j3, jet3.substr(0, 1000));
  EXPECT_EQ(ErrorOf([&] { OpenJet(j3, ""); }).description(), "Unrecognized database format '" + j3 + "'.");

  auto conn = jet::MakeJetConnection();
  EXPECT_EQ(ErrorOf([&] { conn->Open("Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:Database Password=x"); }).number(),
            jet::kErrFail);
  EXPECT_EQ(conn->State(), ado::adStateClosed);
}

TEST(JetOpen, FileHeldByAWriterIsRefused) {
  REQUIRE_FIXTURES();
  TempDir dir;
  auto copy = dir.path() / "dbMain.mdb";
  std::filesystem::copy_file(DbMain(), copy);

  int writer = ::open(copy.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(jet::TryLockDatabase(writer, jet::LockKind::Exclusive), jet::LockResult::Taken);
  auto e = ErrorOf([&] { OpenJet(copy.string(), "wq3518"); });
  EXPECT_EQ(e.number(), jet::kErrFail);
  EXPECT_NE(e.description().find("already opened exclusively"), std::string::npos) << e.description();
  ::close(writer);

  // With the writer gone the file opens, and an open reader keeps writers out.
  auto conn = OpenJet(copy.string(), "wq3518");
  int late = ::open(copy.c_str(), O_RDWR);
  EXPECT_EQ(jet::TryLockDatabase(late, jet::LockKind::Exclusive), jet::LockResult::Busy);
  // Readers share.
  EXPECT_EQ(OpenJet(copy.string(), "wq3518")->State(), ado::adStateOpen);
  conn->Close();
  EXPECT_EQ(jet::TryLockDatabase(late, jet::LockKind::Exclusive), jet::LockResult::Taken);
  ::close(late);
}

int64_t SingleInteger(ado::Connection& conn, const std::string& sql) {
  auto rs = conn.OpenQuery(sql);
  EXPECT_FALSE(rs->Eof()) << sql;
  EXPECT_EQ(rs->FieldCount(), 1);
  Value v = rs->GetValue(0);
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof()) << sql;
  EXPECT_TRUE(std::holds_alternative<int64_t>(v)) << sql;
  return std::holds_alternative<int64_t>(v) ? std::get<int64_t>(v) : -1;
}

TEST(JetStatements, TheConsolesStatementsOnTheHostDatabase) {
  REQUIRE_FIXTURES();
  auto conn = OpenJet(DbMain(), "wq3518");

  // Row counts.
  EXPECT_EQ(SingleInteger(*conn, "SELECT COUNT(*) FROM customer"), 500);
  EXPECT_EQ(SingleInteger(*conn, "select count(*) from [sale_d]"), 16000);
  {
    auto rs = conn->OpenQuery("SELECT COUNT(*) FROM options");
    EXPECT_EQ(rs->Field(0).name, "Expr1000");
    EXPECT_EQ(rs->Field(0).type, ado::adInteger);
  }

  // The version row.
  {
    auto rs = conn->OpenQuery("SELECT ver FROM dbversion WHERE dbid = 'main'");
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->Field(0).name, "ver");
    EXPECT_EQ(rs->GetValue(0), Value(int64_t{12}));
    rs->MoveNext();
    EXPECT_TRUE(rs->Eof());
    EXPECT_TRUE(conn->OpenQuery("SELECT ver FROM dbversion WHERE dbid = 'other'")->Eof());
    // Jet compares text without regard to case.
    EXPECT_FALSE(conn->OpenQuery("SELECT ver FROM dbversion WHERE dbid = 'MAIN'")->Eof());
  }

  // The field list of a table without its rows.
  {
    auto rs = conn->OpenQuery("SELECT * FROM customer WHERE 0");
    EXPECT_TRUE(rs->Eof());
    ASSERT_EQ(rs->FieldCount(), 12);
    EXPECT_EQ(rs->Field(0).name, "cust_id");
    EXPECT_EQ(rs->Field(0).type, ado::adInteger);
    EXPECT_EQ(rs->Field(2).name, "cust_name");
    EXPECT_EQ(rs->Field(2).type, ado::adVarWChar);
    EXPECT_EQ(rs->Field(2).definedSize, 50);
    EXPECT_EQ(rs->Field(9).type, ado::adLongVarWChar);
    EXPECT_EQ(rs->Field(10).type, ado::adDouble);
    EXPECT_EQ(rs->Field(11).type, ado::adDate);
  }

  // Longest value in CP949 bytes: customer 499 has 50 Hangul syllables, option
  // 24 has 255 of them, both at the column's limit.
  EXPECT_EQ(SingleInteger(*conn, "SELECT MAX(LENB(StrConv(cust_name,128))) FROM customer"), 100);
  EXPECT_EQ(SingleInteger(*conn, "SELECT MAX(LENB(StrConv([opt_value], 128))) FROM [options]"), 510);
  // Without StrConv, LENB counts two bytes a character.
  EXPECT_EQ(SingleInteger(*conn, "SELECT MAX(LENB(dbid)) FROM dbversion"), 8);
  {
    auto rs = conn->OpenQuery("SELECT MAX(LENB(StrConv(memo,128))) FROM customer WHERE 0");
    EXPECT_TRUE(ado::IsNull(rs->GetValue(0)));  // MAX over no rows
  }

  // The rows whose value is at least n bytes, checked against the reference
  // export measured with our own CP949 converter.
  {
    auto rs = conn->OpenQuery("SELECT cust_name FROM customer WHERE LENB(StrConv(cust_name,128)) >= 24");
    std::multiset<std::string> got;
    for (; !rs->Eof(); rs->MoveNext()) got.insert(std::get<std::string>(rs->GetValue(0)));
    auto all = conn->OpenTable("customer", ado::OpenMode::Read);
    std::multiset<std::string> want;
    for (; !all->Eof(); all->MoveNext()) {
      const Value& v = all->GetValue(2);
      if (!ado::IsNull(v) && ByteLen(std::get<std::string>(v)) >= 24) want.insert(std::get<std::string>(v));
    }
    EXPECT_FALSE(want.empty());
    EXPECT_EQ(got, want);
  }
}

TEST(JetStatements, ErrorsForWhatTheEngineDoesNotKnow) {
  REQUIRE_FIXTURES();
  auto conn = OpenJet(DbMain(), "wq3518");
  EXPECT_EQ(ErrorOf([&] { conn->OpenQuery("SELECT COUNT(*) FROM nosuch"); }).number(), jet::kErrNoTable);
  EXPECT_EQ(ErrorOf([&] { conn->OpenQuery("SELECT nosuch FROM customer"); }).number(), jet::kErrNoValue);
  for (const char* bad : {"UPDATE customer SET x = 1", "SELECT FROM customer", "SELECT * customer",
                          "SELECT * FROM customer WHERE", "SELECT * FROM customer ORDER BY cust_id",
                          "SELECT COUNT(*) FROM customer WHERE cust_name = 'x", "SELECT cust_id, COUNT(*) FROM customer",
                          "SELECT MAX(LENB(StrConv(cust_name))) FROM customer", "SELECT FOO(cust_name) FROM customer",
                          "SELECT * FROM [customer", "", "SELECT * FROM customer WHERE ((((1)"})
    EXPECT_EQ(ErrorOf([&] { conn->OpenQuery(bad); }).number(), jet::kErrSyntax) << bad;
  EXPECT_EQ(ErrorOf([&] { conn->OpenQuery("SELECT * FROM customer WHERE " + std::string(5000, '(') + "1"); })
                .number(),
            jet::kErrSyntax);
  EXPECT_EQ(ErrorOf([&] { conn->OpenQuery("SELECT cust_id FROM customer WHERE cust_name"); }).number(),
            jet::kErrTypeMismatch);
}

TEST(JetRecordset, ReadsTypedValuesInTableOrder) {
  REQUIRE_FIXTURES();
  auto conn = OpenJet((JetCompat() / "testV2000.mdb").string(), "");
  auto rs = conn->OpenTable("table1", ado::OpenMode::Read);
  ASSERT_EQ(rs->FieldCount(), 9);
  const ado::DataType types[] = {ado::adVarWChar, ado::adVarWChar, ado::adUnsignedTinyInt,
                                 ado::adSmallInt, ado::adInteger,  ado::adDouble,
                                 ado::adDate,     ado::adCurrency, ado::adBoolean};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(rs->Field(i).type, types[i]) << i;
  EXPECT_EQ(rs->Field(0).definedSize, 50);
  EXPECT_EQ(rs->Field(1).definedSize, 100);

  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->GetValue(0), Value(std::string("abcdefg")));
  EXPECT_EQ(rs->GetValue(2), Value(int64_t{2}));
  EXPECT_EQ(rs->GetValue(3), Value(int64_t{222}));
  EXPECT_EQ(rs->GetValue(4), Value(int64_t{333333333}));
  EXPECT_EQ(rs->GetValue(5), Value(444.555));
  EXPECT_EQ(rs->GetValue(6), Value(ado::DateTime{1974, 9, 21, 0, 0, 0, 0}));
  EXPECT_EQ(rs->GetValue(7), Value(ado::Currency{35000}));
  EXPECT_EQ(rs->GetValue(8), Value(true));
  rs->MoveNext();
  EXPECT_EQ(rs->GetValue(8), Value(false));
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(ErrorOf([&] { rs->GetValue(0); }).number(), jet::kErrNoCurrentRecord);
  EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }).number(), jet::kErrNoCurrentRecord);
  rs->MoveFirst();
  EXPECT_EQ(rs->GetValue(0), Value(std::string("abcdefg")));
  EXPECT_EQ(ErrorOf([&] { rs->Field(9); }).number(), 3265);

  rs->Close();
  EXPECT_EQ(rs->State(), ado::adStateClosed);
  EXPECT_EQ(ErrorOf([&] { rs->Eof(); }).number(), jet::kErrObjectClosed);
  conn->Close();
  EXPECT_EQ(ErrorOf([&] { conn->OpenTable("Table1", ado::OpenMode::Read); }).number(), jet::kErrObjectClosed);
  EXPECT_EQ(ErrorOf([&] { conn->Close(); }).number(), jet::kErrObjectClosed);
}

TEST(JetRecordset, LongValuesGuidsAndDecimals) {
  REQUIRE_FIXTURES();
  {
    auto conn = OpenJet((JetCompat() / "test2V2000.mdb").string(), "");
    auto rs = conn->OpenQuery("SELECT * FROM MSP_PROJECTS");
    bool memo = false, ole = false;
    for (int i = 0; i < rs->FieldCount(); ++i) {
      if (rs->Field(i).type == ado::adLongVarWChar) memo = true;
      if (rs->Field(i).type == ado::adLongVarBinary) {
        ole = true;
        const Value& v = rs->GetValue(i);
        if (!ado::IsNull(v)) EXPECT_FALSE(std::get<ado::Bytes>(v).empty());
      }
    }
    EXPECT_TRUE(memo && ole);
  }
  {
    auto conn = OpenJet((JetCompat() / "fixedNumericTestV2000.mdb").string(), "");
    auto rs = conn->OpenTable("test", ado::OpenMode::Read);
    int decimals = 0;
    for (int i = 0; i < rs->FieldCount(); ++i)
      if (rs->Field(i).type == ado::adNumeric) {
        ++decimals;
        EXPECT_EQ(rs->Field(i).precision, 18);
      }
    EXPECT_EQ(decimals, 6);
  }
  {
    auto conn = OpenJet((JetCompat() / "testV2000.mdb").string(), "");
    bool guid = false;
    for (const char* t : {"Table2", "Table3", "Table4"}) {
      auto rs = conn->OpenQuery(std::string("SELECT * FROM ") + t + " WHERE 0");
      for (int i = 0; i < rs->FieldCount(); ++i) guid = guid || rs->Field(i).type == ado::adGUID;
    }
    EXPECT_TRUE(guid);
  }
  // Korean memos over several pages come back whole.
  auto conn = OpenJet(DbMain(), "wq3518");
  auto rs = conn->OpenQuery("SELECT memo FROM customer WHERE cust_id = 17");
  ASSERT_FALSE(rs->Eof());
  EXPECT_GT(std::get<std::string>(rs->GetValue(0)).size(), 4000u * 2);
  EXPECT_EQ(SingleInteger(*conn, "SELECT COUNT(*) FROM customer WHERE LEN(memo) > 4000"), 5);
}

TEST(JetRecordset, WritingToAReadOnlyFileIsRefused) {
  REQUIRE_FIXTURES();
  // The fixture files are read-only: the writer refuses them as Jet refuses
  // a file it cannot open for writing.
  auto conn = OpenJet(DbMain(), "wq3518");
  EXPECT_EQ(ErrorOf([&] { conn->OpenTable("customer", ado::OpenMode::Append); }).number(), jet::kErrFail);
  EXPECT_EQ(ErrorOf([&] { conn->Execute("DELETE FROM customer"); }).number(), jet::kErrFail);
  EXPECT_EQ(ErrorOf([&] { conn->Execute("DELETE FROM nosuch"); }).number(), jet::kErrNoTable);
  auto rs = conn->OpenTable("customer", ado::OpenMode::Read);
  EXPECT_EQ(ErrorOf([&] { rs->AddNew(); }).number(), jet::kErrNotCapable);
  // The file is untouched.
  EXPECT_EQ(SingleInteger(*conn, "SELECT COUNT(*) FROM customer"), 500);
}

}  // namespace
}  // namespace brenvo::test
