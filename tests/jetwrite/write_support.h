// Helpers of the write-side tests: writable copies of the fixtures, exports
// through our reader and through mdbtools, and the integrity check.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/ado/value.h"
#include "support/test_support.h"

namespace brenvo::test {

inline constexpr const char* kBrenvoPassword = "wq3518";

// Copies fixtures/brenvo/NAME into dir as a writable file; returns its path.
std::string CopyBrenvoFixture(const TempDir& dir, const std::string& name);
std::string ExpectedCsv(const std::string& table);

// The CSV export of a table through our reader.
std::string ExportWithOurReader(const std::string& path, const std::string& table,
                                const std::string& password = kBrenvoPassword);
// mdb-export's records (header first), parsed; empty when mdbtools is absent.
std::vector<std::vector<std::optional<std::string>>> ExportWithMdbtools(const std::string& path,
                                                                         const std::string& table);
bool HaveMdbtools();
// Gives the file another sort order as a file of that language would carry
// it: the header's LCID (0x6E of the decoded header) and that of every text
// and memo column of every user table. The keys stay as they were.
void RelabelSortOrder(const std::string& path, const std::string& password, uint16_t lcid);
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
