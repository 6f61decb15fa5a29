#include "tests/jetwrite/write_support.h"

#include <sys/mount.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "db/jet/check.h"
#include "db/jet/database.h"
#include "db/jet/header.h"
#include "db/jet/table_def.h"
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

void RelabelSortOrder(const std::string& path, const std::string& password, uint16_t lcid) {
  std::string bytes = ReadFile(path);
  std::vector<uint8_t> page0(bytes.begin(), bytes.begin() + 4096);
  jet::ToggleHeaderMask(page0);
  page0[0x6E] = static_cast<uint8_t>(lcid);
  page0[0x6F] = static_cast<uint8_t>(lcid >> 8);
  jet::ToggleHeaderMask(page0);
  std::copy(page0.begin(), page0.end(), bytes.begin());
  auto db = jet::Database::Open(path, password);
  for (const auto& name : db->UserTables()) {
    const auto& t = db->Table(name);
    for (const auto& c : t.columns) {
      if (c.type != jet::kColText && c.type != jet::kColMemo) continue;
      // Column entries lie on the definition's first page in these files.
      ASSERT_LT(c.defOffset + 13, 4096u);
      size_t at = static_cast<size_t>(t.page) * 4096 + c.defOffset + 11;
      bytes[at] = static_cast<char>(lcid);
      bytes[at + 1] = static_cast<char>(lcid >> 8);
    }
  }
  WriteFile(path, bytes);
}

SmallTmpfs::SmallTmpfs(uint64_t bytes) {
  std::string opts = "size=" + std::to_string(bytes) + ",mode=0700";
  mounted_ = ::mount("tmpfs", dir_.str().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, opts.c_str()) == 0;
}

SmallTmpfs::~SmallTmpfs() {
  if (mounted_) ::umount2(dir_.str().c_str(), MNT_DETACH);
}

std::string ExpectedCsv(const std::string& table) {
  return ReadFile(FixturesDir() / "brenvo" / "expected" / (table + ".csv"));
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
