#include "db/jet/row.h"

namespace brenvo::jet {

RowReader::RowReader(ByteView row, const TableDef& table) : row_(row) {
  columns_ = row.U16(0, "row column count");
  size_t mask = (columns_ + 7u) / 8u;
  if (row.size < 2 + mask) ThrowCorrupt("row too short for its null mask");
  maskPos_ = row.size - mask;
  if (table.varColumns == 0) {
    // A table without variable-length columns: Access writes its rows with
    // neither the offsets nor their count, the fixed area runs up to the mask.
    varTablePos_ = maskPos_;
    varAreaEnd_ = maskPos_;
    fixedColumns_ = columns_;
    return;
  }
  if (row.size < 2 + mask + 2) ThrowCorrupt("row too short for its null mask");
  varColumns_ = row.U16(maskPos_ - 2, "row variable column count");
  size_t offsets = 2u * (varColumns_ + 1u);
  if (maskPos_ - 2 < 2 + offsets) ThrowCorrupt("row too short for its variable column table");
  varTablePos_ = maskPos_ - 4;
  varAreaEnd_ = maskPos_ - 2 - offsets;
  fixedColumns_ = columns_ >= varColumns_ ? static_cast<uint16_t>(columns_ - varColumns_) : 0;
}

bool RowReader::HasValue(const ColumnDef& c) const {
  if (c.number >= columns_) return false;
  if (!(row_.data[maskPos_ + c.number / 8] & (1u << (c.number % 8)))) return false;
  if (c.type == kColBool) return true;
  if (c.IsFixed()) return c.fixedOrdinal < fixedColumns_;
  return c.varIndex < varColumns_;
}

ByteView RowReader::Bytes(const ColumnDef& c) const {
  if (c.IsFixed()) {
    size_t start = 2u + c.fixedOffset;
    if (start + c.length > varAreaEnd_) ThrowCorrupt("fixed column beyond its row");
    return {row_.data + start, c.length};
  }
  uint16_t start = row_.U16(varTablePos_ - 2u * c.varIndex, "variable column offset");
  uint16_t end = row_.U16(varTablePos_ - 2u * (c.varIndex + 1u), "variable column offset");
  if (start > end || end > varAreaEnd_ || start < 2) ThrowCorrupt("variable column offsets out of order");
  return {row_.data + start, static_cast<size_t>(end - start)};
}

}  // namespace brenvo::jet
