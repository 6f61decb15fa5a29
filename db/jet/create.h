// New Jet 4 database files and tables, for tests, benchmarks and the demo
// (the console never creates a host database). A new file holds:
//
//   page 0   the header (Jet 4, code page 1252, General sort order, the
//            optional database password, masked as Jet masks it)
//   page 1   the global usage map (no free pages)
//   page 2   the catalogue MSysObjects, a system table
//   then     per table its definition page and one empty leaf per index
//
// and one catalogue row per table, written through the ordinary insert
// path. Each table definition must fit one page (about 150 columns).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "db/jet/table_def.h"

namespace brenvo::jet {

struct ColumnSpec {
  std::string name;
  uint8_t type = kColText;
  uint16_t size = 0;  // Text: characters; Binary: bytes; ignored otherwise
  uint8_t precision = 18, scale = 0;  // Decimal only
  bool autoNumber = false;
};

struct IndexSpec {
  std::string name;
  std::vector<std::pair<std::string, bool>> columns;  // name, ascending
  bool primary = false;
  bool unique = false;
  bool ignoreNulls = false;
};

struct TableSpec {
  std::string name;
  std::vector<ColumnSpec> columns;
  std::vector<IndexSpec> indexes;
};

// Writes a new file (refuses to overwrite one) with the tables.
void CreateDatabase(const std::string& path, const std::string& password, const std::vector<TableSpec>& tables);

// The schema description brenvo-mdb create takes, one statement a line
// ("#" starts a comment):
//
//   table NAME
//   column NAME TYPE [SIZE] [autonumber]
//   column NAME decimal [PRECISION [SCALE]]     (18 0 when left out)
//   index NAME [primary|unique] [ignorenulls] COLUMN[-] [COLUMN[-] ...]
//
// TYPE is one of yesno byte integer long currency single double datetime
// text memo binary ole guid decimal; a trailing "-" makes an index column
// descending. Throws BrenvoError naming the line on anything else.
std::vector<TableSpec> ParseSchema(const std::string& text);

}  // namespace brenvo::jet
