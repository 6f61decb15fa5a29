#include "tests/jetwrite/write_support.h"

#include <sys/mount.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "db/jet/check.h"
#include "db/jet/column_value.h"
#include "db/jet/database.h"
#include "db/jet/header.h"
#include "db/jet/table_def.h"
#include "db/jet/table_scan.h"
#include "tools/brenvo-mdb/csv_format.h"
#include "tools/brenvo-mdb/csv_import.h"

namespace brenvo::test {

std::string CopyBrenvoFixture(const TempDir& dir, const std::string& name) {
  namespace fs = std::filesystem;
  fs::path to = dir.path() / name;
  fs::copy_file(FixturesDir() / "brenvo" / name, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
  return to.string();
}

std::set<int64_t> StoredIds(const jet::Database& db, const std::string& table) {
  const auto& t = db.Table(table);
  jet::TableScan scan(db.File(), t);
  jet::RowBytes row;
  std::vector<uint8_t> scratch;
  std::set<int64_t> ids;
  while (scan.Next(row)) {
    jet::RowReader rr(row.bytes, t);
    ids.insert(std::get<int64_t>(jet::DecodeValue(db.File(), rr, t.columns[0], scratch)));
  }
  return ids;
}

std::set<int64_t> StoredIds(const std::string& path, const std::string& table) {
  return StoredIds(*jet::Database::Open(path, kBrenvoPassword), table);
}

std::vector<std::optional<ado::Value>> SaleRow(int i, int64_t firstId) {
  std::vector<std::optional<ado::Value>> r(8);
  r[0] = ado::Value(int64_t{firstId + i});
  r[1] = ado::Value("S" + std::to_string(10000 + (i * 7919) % 10007) + "-" + std::to_string(i));
  r[2] = ado::Value(ado::DateTime{2000 + i % 25, 1 + i % 12, 1 + i % 28, 0, 0, 0});
  r[3] = ado::Value(int64_t{i % 37});
  r[4] = ado::Value(1.5 * i);
  if (i % 40 == 0) r[7] = ado::Value(std::string(6000, 'm'));
  return r;
}

SmallTmpfs::SmallTmpfs(uint64_t bytes) {
  std::string opts = "size=" + std::to_string(bytes) + ",mode=0700";
  mounted_ = ::mount("tmpfs", dir_.str().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, opts.c_str()) == 0;
}

SmallTmpfs::~SmallTmpfs() {
  if (mounted_) ::umount2(dir_.str().c_str(), MNT_DETACH);
}

std::string ExportWithOurReader(const std::string& path, const std::string& table, const std::string& password) {
  auto db = jet::Database::Open(path, password);
  std::string out;
  mdb::ExportCsv(*db, table, [&](std::string_view piece) {
    out.append(piece);
    return true;
  });
  return out;
}

bool HaveMdbtools() { return std::system("command -v mdb-export >/dev/null 2>&1") == 0; }

std::vector<std::vector<std::optional<std::string>>> ExportWithMdbtools(const std::string& path,
                                                                         const std::string& table) {
  std::vector<std::vector<std::optional<std::string>>> out;
  std::string cmd = "mdb-export '" + path + "' '" + table + "' 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  pclose(p);
  std::istringstream in(text);
  std::vector<std::optional<std::string>> rec;
  while (mdb::ReadCsvRecord(in, rec)) out.push_back(rec);
  return out;
}

std::string CheckFaults(const std::string& path, const std::string& password) {
  jet::CheckReport r = jet::CheckDatabase(path, password);
  std::string s;
  for (const auto& f : r.faults) s += f + "\n";
  return s;
}

}  // namespace brenvo::test
