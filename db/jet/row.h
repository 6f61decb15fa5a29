// The layout of one stored row (Jet 4), bytes [0, n):
//
//   0        2  number of columns when the row was written
//   2        the fixed-length area; a fixed column sits at 2 + its offset
//   ...      variable-length data
//   n-m-4-2k 2  offset of variable slot k (k = 0..v, slot v is the end of
//               the variable data); the table runs backwards from the end
//   n-m-2    2  v, the number of variable slots in this row
//   n-m      m  null mask, m = (columns + 7) / 8; bit c set = column number c
//               holds a value. A Yes/No column's value is its bit.
//
// A table with no variable-length column (the definition's count is 0) has
// rows without the offsets and without v: the null mask follows the fixed
// area directly.
//
// Columns added after a row was written are beyond its column count, fixed
// columns beyond its fixed count, variable ones beyond v: all read as NULL.
//
// Jet 3 rows count columns and variable slots in one byte each (the fixed
// area starts at 1), and their variable-column offsets are single bytes:
//
//   n-m-1    1  v
//   n-m-2-j  1  jump table, j = 0..J-1, J = (n - 1) / 256: entry j is the
//               first slot whose offset lies at or beyond (j + 1) * 256
//   n-m-2-J-k 1 low byte of the offset of slot k (k = 0..v)
//
// An offset is its byte plus 256 for every jump entry reached by its slot.
// J is counted from the row's length, so the last entry can be a dummy: it
// is one when the offset table itself ends below J * 256. The rows of a Jet 3
// table without variable columns end after the fixed area with the null
// mask: no v, no offsets.
#pragma once

#include <array>
#include <cstdint>

#include "db/jet/table_def.h"

namespace brenvo::jet {

class RowReader {
 public:
  // Checks the row's trailer against its length; throws when damaged.
  RowReader(ByteView row, const TableDef& table);

  // False for NULL. For Yes/No columns the bit is the value.
  bool HasValue(const ColumnDef& c) const;
  // The column's stored bytes (only when HasValue and not Yes/No).
  ByteView Bytes(const ColumnDef& c) const;

 private:
  void ReadJet3Offsets();
  ByteView row_;
  bool jet3_ = false;
  uint16_t columns_ = 0;
  uint16_t fixedColumns_ = 0;
  uint16_t varColumns_ = 0;
  size_t fixedStart_ = 2;
  size_t maskPos_ = 0;
  size_t varTablePos_ = 0;  // offset of slot 0's entry
  size_t varAreaEnd_ = 0;   // the variable data may not run into the trailer
  std::array<uint16_t, 256> jet3Offsets_;  // slots 0..v, decoded
};

}  // namespace brenvo::jet
