// The integrity check: what a file must satisfy for the host application
// to trust it. Per user table: the rows on its pages equal the definition's
// row count; the pages of its usage map are data pages and not marked free
// in the global map; every value, long values included, reads back; every
// index walks in key order, holds exactly one entry per row, each naming a
// live row, and (where the engine can encode the key) the key the row's
// values give.
#pragma once

#include <string>
#include <vector>

namespace brenvo::jet {

struct CheckReport {
  std::vector<std::string> faults;  // one line each, "table: what"
  std::vector<std::string> notes;   // things checked only in part
  long tables = 0;
  long rows = 0;
  long indexEntries = 0;
  bool Ok() const { return faults.empty(); }
};

// Opens the file for reading (shared) and checks it. Throws only when the
// file cannot be opened at all; damage is reported as faults. With
// systemTables, the catalogue's own tables (MSysObjects, ...) are checked
// too, after the user tables.
CheckReport CheckDatabase(const std::string& path, const std::string& password, bool systemTables = false);

}  // namespace brenvo::jet
