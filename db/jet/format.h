// The two generations of the file format we read, side by side. Jet 3
// (Access 97) and Jet 4 (Access 2000-2003) share every concept: pages, table
// definitions, rows with a null mask and a variable-column table, long
// values, usage maps, index trees. What differs is where the fields sit, how
// wide the counts are and how text is stored; this descriptor holds exactly
// those differences, so the readers have one body of code for both.
//
//                          Jet 3                     Jet 4
//   page size              2048                      4096
//   header RC4 region      0x18, 126 bytes           0x18, 128 bytes
//   password               20 bytes, code page       40 bytes UTF-16LE,
//                          of the header             masked with the date
//   text                   bytes in the header's     UTF-16LE or its
//                          code page (0x3C)          compressed form
//   data page              row count at 8,           row count at 12,
//                          slots from 10             slots from 14
//   row counts / offsets   1 byte, with a jump       2 bytes
//                          table for rows > 255
//   names in definitions   1-byte length, code page  2-byte length, UTF-16LE
//   index page             prev 8, next 12, tail 16, prev 12, next 16, tail
//                          prefix 20, bitmap 0x16,   20, prefix 24, bitmap
//                          entries from 0xF8         0x1B, entries from 0x1E0
//
// Table-definition offsets are in TableDefLayout below, with the field each
// one holds; table_def.h describes the structure they belong to.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brenvo::jet {

inline constexpr size_t kNoField = SIZE_MAX;

struct TableDefLayout {
  size_t rowCount, autoNumber, tableType, maxColumns, varColumns, columns, logicalIndexes, realIndexes,
      ownedPages, freePages;
  // One entry per real index: its row count at realIndexRows.
  size_t realIndexStart, realIndexEntry, realIndexRows;
  // One entry per column.
  size_t columnEntry, colNumber, colVarIndex, colSortLcid, colPrecision, colScale, colCodePage, colFlags,
      colFlags2 /* kNoField in Jet 3 */, colFixedOffset, colLength;
  size_t nameLengthBytes;  // before every column and index name
  // One definition per real index: ten (column, order) pairs, the index's
  // usage map, its root page, its flags.
  size_t realIndexDef, idxColumns, idxUsageMap, idxFirstPage, idxFlags;
  // One definition per logical index.
  size_t logicalIndexDef, lidxNumber, lidxReal, lidxKind;
};

struct IndexPageLayout {
  size_t prev, next, tail, prefixLength, bitmap, entries;
};

struct JetFormat {
  const char* name;  // as schema listings give it
  uint32_t version;  // the header's byte 0x14
  uint32_t pageSize;
  size_t headerMaskLength;
  size_t passwordLength;
  bool unicode;  // Jet 4 text; Jet 3 text is in the database's code page
  size_t sortOrderOffset;  // the database sort order (LCID) in the header
  size_t dataRowCount;     // slot count on a data page
  size_t dataSlots;        // first slot offset on a data page
  size_t rowCountBytes;    // a row's column count, variable count and offsets
  TableDefLayout tdef;
  IndexPageLayout index;
  bool IsJet3() const { return version == 0; }
};

const JetFormat& Jet3Format();
const JetFormat& Jet4Format();

// The format with this version byte, or nullptr for one we do not read.
const JetFormat* FormatOfVersion(uint32_t version);
// Every page handed out by a page file is whole, and the two page sizes
// differ, so a page's size names its format. Unknown sizes get Jet 4.
const JetFormat& FormatOfPageSize(size_t pageSize);

}  // namespace brenvo::jet
