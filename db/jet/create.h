// New Jet 4 database files and tables, for tests, benchmarks and the demo
// (the console never creates a host database). A new file holds what the
// Jet 4.0 provider itself writes for a new database (the rows every
// Access-made file carries, and exactly those of a file made through the
// provider without Access opening it):
//
//   page 0     the header (Jet 4, code page 1252, General sort order, the
//              optional database password, masked as Jet masks it)
//   page 1     the global usage map
//   pages 2-5  the system tables MSysObjects (the catalogue), MSysACEs
//              (permissions), MSysQueries, MSysRelationships, with Jet's
//              columns and indexes (ParentIdName and Id on MSysObjects)
//   then       per table its map rows, one empty leaf per index, and for a
//              user table its definition page
//
// The catalogue rows: the containers Tables, Databases and Relationships
// (ids 0x0F000001-3 under 0x0F000000), MSysDb (0x10000000 under Databases),
// the four system tables and each user table (id = definition page, under
// Tables); MSysACEs holds the permissions Jet gives each of them. Rows go
// in through the ordinary insert path. The objects Access's interface adds
// when it first opens a file (Forms, Reports, ... containers, SummaryInfo,
// MSysAccessObjects) are left to it. Each table definition must fit one
// page (about 150 columns).
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
  uint8_t systemFlags = 0;  // system tables: flag bits Jet adds (0x10, 0x20)
};

struct IndexSpec {
  std::string name;
  std::vector<std::pair<std::string, bool>> columns;  // name, ascending
  bool primary = false;
  bool unique = false;
  bool ignoreNulls = false;
  bool required = false;  // set with primary by the schema text
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
