// Table definitions (page type 0x02). A definition may run over several
// pages: bytes 4-7 of each page name the next one (0 = last); the logical
// definition is the first page whole followed by every next page from byte 8.
// Offsets below are into that joined buffer (Jet 4):
//
//   8   4  length of the definition       16  4  number of rows
//   20  4  next AutoNumber value          40  1  0x4E user table, 0x53 system
//   41  2  highest column number + 1      43  2  variable-length columns
//   45  2  columns                        47  4  logical indexes
//   51  4  real indexes                   55  4  owned-pages usage map (row ptr)
//   59  4  free-space usage map (row ptr)
//   63     12 bytes per real index (4 unused, 4 index rows, 4 unused)
//   then   25 bytes per column:
//            0 type   5 column number   7 variable-length slot
//            11 precision / sort LCID    12 scale   13 code page
//            15 flags (0x01 fixed, 0x02 nullable, 0x04 AutoNumber,
//                      0x40 AutoNumber GUID)
//            16 more flags (0x01 Unicode compression)
//            21 offset in the fixed area   23 length in bytes
//   then   each column name: 2-byte byte length + UTF-16LE
//   then   52 bytes per real index:
//            4 unused, 10 x (2-byte column number or FFFF, 1-byte order:
//            1 ascending, 0 descending), 4 usage map, 4 first index page,
//            4 unused, 1 flags (0x01 unique, 0x02 ignore nulls, 0x08
//            required, 0x80 always set by Access), 5 unused
//   then   28 bytes per logical index:
//            4 unused, 4 index number, 4 real index number, 1 related table
//            type, 4 related index number, 4 related table page, 1 cascade
//            updates, 1 cascade deletes, 1 kind (1 primary key, 2 foreign
//            key), 4 unused
//   then   each logical index name: 2-byte byte length + UTF-16LE
//
// Column numbers are the row's null-mask positions; deleted columns leave
// gaps in both the numbers and the variable-length slots.
//
// Jet 3 definitions hold the same fields in a tighter layout (the offsets of
// both are in format.h): 18 bytes per column with the sort order at 9 and
// the code page at 11, no Unicode-compression flag; 39 bytes per real index
// and 20 per logical index (no unused words around them); names with a
// 1-byte length, in the database code page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/data_page.h"

namespace brenvo::jet {

enum ColumnType : uint8_t {
  kColBool = 0x01,
  kColByte = 0x02,
  kColInt = 0x03,
  kColLong = 0x04,
  kColMoney = 0x05,
  kColFloat = 0x06,
  kColDouble = 0x07,
  kColDateTime = 0x08,
  kColBinary = 0x09,
  kColText = 0x0A,
  kColOle = 0x0B,
  kColMemo = 0x0C,
  kColGuid = 0x0F,
  kColNumeric = 0x10,
  kColComplex = 0x12,
};

inline constexpr uint8_t kColFlagFixed = 0x01;
inline constexpr uint8_t kColFlagNullable = 0x02;
inline constexpr uint8_t kColFlagAutoLong = 0x04;
inline constexpr uint8_t kColFlagAutoGuid = 0x40;
inline constexpr uint8_t kColFlag2Compressed = 0x01;

inline constexpr uint8_t kIdxFlagUnique = 0x01;
inline constexpr uint8_t kIdxFlagIgnoreNulls = 0x02;
inline constexpr uint8_t kIdxFlagRequired = 0x08;
inline constexpr uint8_t kIdxKindPrimary = 0x01;
inline constexpr uint8_t kIdxKindForeign = 0x02;

struct ColumnDef {
  std::string name;
  uint8_t type = 0;
  uint16_t number = 0;
  uint16_t varIndex = 0;
  uint16_t fixedOffset = 0;
  uint16_t length = 0;
  uint8_t flags = 0;
  uint8_t flags2 = 0;
  uint8_t precision = 0;
  uint8_t scale = 0;
  uint16_t sortLcid = 0;
  uint16_t codePage = 0;
  size_t defOffset = 0;  // where its 25 bytes start in the joined definition
  uint16_t fixedOrdinal = 0;  // position among the fixed columns, in number order
  uint8_t bytesPerChar = 2;   // Text length per character: Jet 3 stores code-page bytes

  bool IsFixed() const { return flags & kColFlagFixed; }
  bool IsCompressed() const { return flags2 & kColFlag2Compressed; }
  bool IsAutoNumber() const { return flags & (kColFlagAutoLong | kColFlagAutoGuid); }
  bool IsLongValue() const { return type == kColMemo || type == kColOle; }
};

struct IndexColumn {
  uint16_t number = 0;  // column number
  bool ascending = true;
};

struct RealIndex {
  std::vector<IndexColumn> columns;
  RowPointer usageMap;
  uint32_t firstPage = 0;
  uint8_t flags = 0;
  uint32_t rowCount = 0;
};

struct LogicalIndex {
  std::string name;
  uint32_t number = 0;
  uint32_t realIndex = 0;
  uint8_t kind = 0;
};

struct TableDef {
  const JetFormat* format = &Jet4Format();
  uint32_t page = 0;
  std::vector<uint32_t> pages;  // the definition's page chain
  std::vector<uint8_t> raw;     // the joined definition
  uint32_t rowCount = 0;
  uint32_t nextAutoNumber = 0;
  uint8_t tableType = 0;
  uint16_t maxColumns = 0;
  uint16_t varColumns = 0;
  RowPointer ownedPages;
  RowPointer freePages;
  std::vector<ColumnDef> columns;  // in column-number order, the table's order
  std::vector<RealIndex> realIndexes;
  std::vector<LogicalIndex> indexes;  // by index number

  const ColumnDef* FindColumn(const std::string& name) const;  // case-insensitive
  const ColumnDef* ColumnByNumber(uint16_t number) const;
};

TableDef ReadTableDef(const PageFile& file, uint32_t page);

// Case-insensitive comparison of names, ASCII letters only, the way Jet
// matches identifiers in the fixtures' languages.
bool SameName(const std::string& a, const std::string& b);

}  // namespace brenvo::jet
