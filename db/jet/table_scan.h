// A table scan: the table's data pages in ascending page number, as its
// owned-pages usage map lists them, and on each page the row slots in
// ascending order. Deleted slots are skipped; a lookup slot is replaced by
// the row it points to, so an overflow row appears at its original place.
// Pages in the map that are not data pages of this table (freed pages the
// map still names) are skipped, as Jet skips them.
#pragma once

#include <optional>

#include "db/jet/table_def.h"
#include "db/jet/usage_map.h"

namespace brenvo::jet {

class TableScan {
 public:
  TableScan(const PageFile& file, const TableDef& table);

  // The next live row, or false at the end.
  bool Next(RowBytes& row);
  void Rewind();

 private:
  bool LoadNextPage();
  const PageFile& file_;
  const TableDef& table_;
  UsageMap map_;
  std::optional<uint32_t> page_;
  PageRef pageData_;
  uint16_t slots_ = 0;
  uint16_t slot_ = 0;
  bool done_ = false;
};

}  // namespace brenvo::jet
