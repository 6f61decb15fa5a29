// Helpers of the write-side tests: writable copies of the fixtures, exports
// through our reader and through mdbtools, and the integrity check.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "db/ado/value.h"
#include "support/jet_relabel.h"
#include "support/test_support.h"

namespace brenvo::jet {
class Database;
}

namespace brenvo::test {

inline constexpr const char* kBrenvoPassword = "wq3518";

// Copies fixtures/brenvo/NAME into dir as a writable file; returns its path.
std::string CopyBrenvoFixture(const TempDir& dir, const std::string& name);

// The CSV export of a table through our reader.
std::string ExportWithOurReader(const std::string& path, const std::string& table,
                                const std::string& password = kBrenvoPassword);
// mdb-export's records (header first), parsed; empty when mdbtools is absent.
std::vector<std::vector<std::optional<std::string>>> ExportWithMdbtools(const std::string& path,
                                                                         const std::string& table);
bool HaveMdbtools();
// The first column (a Long key) of every row of a table, through our reader.
std::set<int64_t> StoredIds(const jet::Database& db, const std::string& table);
std::set<int64_t> StoredIds(const std::string& path, const std::string& table);

// A row of sale_m with the id firstId + i: four indexes, and but for the
// primary key every new key falls between earlier ones; every 40th row has
// a memo of several pages.
std::vector<std::optional<ado::Value>> SaleRow(int i, int64_t firstId = 0);

// A tmpfs of the given size mounted over a temporary folder (root only):
// a small disk that fills up. Mounted() is false where mounting is refused.
class SmallTmpfs {
 public:
  explicit SmallTmpfs(uint64_t bytes);
  ~SmallTmpfs();
  bool Mounted() const { return mounted_; }
  const std::filesystem::path& path() const { return dir_.path(); }

 private:
  TempDir dir_;
  bool mounted_ = false;
};

// The check's faults, one per line; empty when the file is sound.
std::string CheckFaults(const std::string& path, const std::string& password = kBrenvoPassword);

}  // namespace brenvo::test
