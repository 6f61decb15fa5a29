#include "db/jet/row.h"

namespace brenvo::jet {

RowReader::RowReader(ByteView row, const TableDef& table) : row_(row) {
  const size_t n = table.format->rowCountBytes;
  if (n == 1) {
    jet3_ = true;
    fixedStart_ = 1;
    columns_ = row.U8(0, "row column count");
  } else {
    columns_ = row.U16(0, "row column count");
  }
  size_t mask = (columns_ + 7u) / 8u;
  if (row.size < n + mask) ThrowCorrupt("row too short for its null mask");
  maskPos_ = row.size - mask;
  if (table.varColumns == 0) {
    // A table without variable-length columns: Access writes its rows with
    // neither the offsets nor their count, the fixed area runs up to the mask.
    varTablePos_ = maskPos_;
    varAreaEnd_ = maskPos_;
    fixedColumns_ = columns_;
    return;
  }
  if (row.size < n + mask + n) ThrowCorrupt("row too short for its null mask");
  varColumns_ = jet3_ ? row.U8(maskPos_ - 1, "row variable column count")
                      : row.U16(maskPos_ - 2, "row variable column count");
  if (jet3_) {
    ReadJet3Offsets();
  } else {
    size_t offsets = 2u * (varColumns_ + 1u);
    if (maskPos_ - 2 < 2 + offsets) ThrowCorrupt("row too short for its variable column table");
    varTablePos_ = maskPos_ - 4;
    varAreaEnd_ = maskPos_ - 2 - offsets;
  }
  fixedColumns_ = columns_ >= varColumns_ ? static_cast<uint16_t>(columns_ - varColumns_) : 0;
}

void RowReader::ReadJet3Offsets() {
  const size_t jumps = (row_.size - 1) / 256;
  const size_t entries = varColumns_ + 1u;
  // maskPos_ - 1 holds v; the jump table and the offsets lie below it.
  if (maskPos_ < 1 + jumps + entries + fixedStart_) ThrowCorrupt("row too short for its variable column table");
  const size_t slot0 = maskPos_ - 2 - jumps;
  varAreaEnd_ = slot0 + 1 - entries;
  size_t used = jumps;
  if (used > 0 && varAreaEnd_ / 256 < used) --used;
  size_t reached = 0;
  for (size_t k = 0; k < entries; ++k) {
    while (reached < used && row_.data[maskPos_ - 2 - reached] == k) ++reached;
    jet3Offsets_[k] = static_cast<uint16_t>(row_.data[slot0 - k] + 256 * reached);
  }
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
    size_t start = fixedStart_ + c.fixedOffset;
    if (start + c.length > varAreaEnd_) ThrowCorrupt("fixed column beyond its row");
    return {row_.data + start, c.length};
  }
  uint16_t start, end;
  if (jet3_) {
    if (c.varIndex >= varColumns_) ThrowCorrupt("variable column beyond its row");
    start = jet3Offsets_[c.varIndex];
    end = jet3Offsets_[c.varIndex + 1u];
  } else {
    start = row_.U16(varTablePos_ - 2u * c.varIndex, "variable column offset");
    end = row_.U16(varTablePos_ - 2u * (c.varIndex + 1u), "variable column offset");
  }
  if (start > end || end > varAreaEnd_ || start < fixedStart_) ThrowCorrupt("variable column offsets out of order");
  return {row_.data + start, static_cast<size_t>(end - start)};
}

}  // namespace brenvo::jet
