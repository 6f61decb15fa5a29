#include "copy_run_fixture.h"

#include <sstream>

#include "db/jet/check.h"
#include "db/jet/database.h"
#include "tools/brenvo-mdb/csv_format.h"
#include "transfer/catalogue.h"

namespace brenvo::test {

std::string MdbExport(const std::filesystem::path& file, const std::string& table) {
  auto db = jet::Database::Open(file.string(), "wq3518");
  std::string out;
  mdb::ExportCsv(*db, table, [&](std::string_view piece) {
    out.append(piece);
    return true;
  });
  return out;
}

void ExpectLikeReference(const std::filesystem::path& file) {
  for (const auto& t : TableCatalogue::TableNames()) {
    EXPECT_TRUE(MdbExport(file, t) == ExpectedCsv(t)) << "table " << t << " differs";
  }
  auto report = jet::CheckDatabase(file.string(), "wq3518");
  for (const auto& f : report.faults) ADD_FAILURE() << f;
}

void ExpectVerifiedEqual(const CopyRunResult& r, size_t tables) {
  EXPECT_EQ(r.verification.size(), tables);
  for (const auto& v : r.verification) {
    EXPECT_EQ(v.differing, 0) << v.table;
    EXPECT_EQ(v.error, "") << v.table;
  }
}

void CopyRunTest::SetUp() {
  dbs = dir.path() / "Brenvo" / "DBS";
  std::filesystem::create_directories(dbs);
  settings->Save("Brenvo", "Config", "AppPath", (dir.path() / "Brenvo").string());
  console = std::make_unique<HookedConsole>(prompter, *settings, dir.str());
  services = DefaultTransferServices(*console);
}

void CopyRunTest::TearDown() { scoped.reset(); }

void CopyRunTest::PlaceMdb(const std::string& fixture, const std::string& name) {
  std::filesystem::copy_file(FixturesDir() / "brenvo" / fixture, dbs / name,
                             std::filesystem::copy_options::overwrite_existing);
}

void CopyRunTest::MakeCsDb(const MariaServer& server, const std::string& host) {
  cs = server;
  id = UniqueName("cr");
  db = "brenvocs_" + id;
  ASSERT_TRUE(CreateCsDatabase(server, db)) << "no CS schema";
  scoped = std::make_unique<ScopedDatabase>(server, db);
  CreateAccount(server, id, kCsPassword, db);
  console->SetText(Control::Text1_0, id);
  console->SetText(Control::Text1_1, db);
  console->SetText(Control::cmbHost, host);
}

void CopyRunTest::Mark(std::initializer_list<const char*> tables) {
  console->catalogue().MarkAll(false);
  for (const char* t : tables) console->catalogue().at(console->catalogue().IndexOf(t)).marked = true;
}

void CopyRunTest::AtRow(const std::string& table, int row, std::function<void()> f) {
  console->onRow = [this, table, row, f = std::move(f), done = false](int at) mutable {
    if (done || at != row || console->catalogue().current() != console->catalogue().IndexOf(table)) return;
    done = true;
    f();
  };
}

void CopyRunTest::KillRunConnections() {
  for (const auto& p : RootQuery(cs, "SELECT ID FROM information_schema.PROCESSLIST WHERE USER = '" + id + "'"))
    RootExec(cs, "KILL CONNECTION " + p[0]);
}

std::vector<std::string> CopyRunTest::Lines() const {
  std::vector<std::string> out;
  std::string text = console->LogText();
  size_t pos = 0;
  for (size_t e; (e = text.find("\r\n", pos)) != std::string::npos; pos = e + 2) out.push_back(text.substr(pos, e - pos));
  return out;
}

long long CopyRunTest::CsCount(const std::string& table) {
  return std::stoll(RootQuery(cs, "SELECT COUNT(*) FROM `" + db + "`.`" + table + "`").at(0).at(0));
}

namespace {
void CsvField(const std::string& v, std::string& out) {
  if (v == "\\N") return;
  bool quote = v.empty() || v.find_first_of(",\"\r\n") != std::string::npos || v.front() == ' ' ||
               v.front() == '\t' || v.back() == ' ' || v.back() == '\t';
  if (!quote) {
    out += v;
    return;
  }
  out += '"';
  for (char c : v) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}
}  // namespace

std::string CopyRunTest::CsExport(const std::string& table) {
  auto cols = RootQuery(cs, "SELECT COLUMN_NAME, DATA_TYPE FROM information_schema.COLUMNS WHERE TABLE_SCHEMA='" + db +
                                "' AND TABLE_NAME='" + table + "' ORDER BY ORDINAL_POSITION");
  std::string select, out;
  for (size_t i = 0; i < cols.size(); ++i) {
    out += (i ? "," : "") + cols[i][0];
    std::string c = "`" + cols[i][0] + "`";
    if (cols[i][1] == "date") c = "DATE_FORMAT(" + c + ", '%Y-%m-%d 00:00:00')";
    select += (i ? "," : "") + c;
  }
  out += "\r\n";
  for (const auto& row : RootQuery(cs, "SELECT " + select + " FROM `" + db + "`.`" + table + "`")) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i) out += ',';
      CsvField(row[i], out);
    }
    out += "\r\n";
  }
  return out;
}

}  // namespace brenvo::test
