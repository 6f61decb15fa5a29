#include "db/jet/data_page.h"

namespace brenvo::jet {

uint16_t SlotCount(ByteView page) {
  const JetFormat& f = FormatOfPageSize(page.size);
  uint16_t n = page.U16(f.dataRowCount, "row count of data page");
  if (f.dataSlots + 2u * n > page.size) ThrowCorrupt("row count of a data page too large");
  return n;
}

RowSlot ReadSlot(ByteView page, uint16_t i) {
  const size_t slots = FormatOfPageSize(page.size).dataSlots;
  uint16_t n = SlotCount(page);
  if (i >= n) ThrowCorrupt("row slot out of range");
  uint16_t raw = page.U16(slots + 2u * i, "row slot");
  uint16_t end = static_cast<uint16_t>(page.size);
  if (i > 0) end = page.U16(slots + 2u * (i - 1), "row slot") & kSlotOffsetMask;
  RowSlot s;
  s.start = raw & kSlotOffsetMask;
  s.deleted = raw & kSlotDeleted;
  s.lookup = raw & kSlotLookup;
  if (s.start < slots + 2u * n || s.start > end || end > page.size) {
    // A deleted slot may carry any offset; a scan passes it by.
    if (s.deleted) {
      s.length = 0;
      return s;
    }
    ThrowCorrupt("row offsets of a data page overlap");
  }
  s.length = static_cast<uint16_t>(end - s.start);
  return s;
}

RowBytes ReadRow(const PageFile& file, RowPointer ptr, const char* what, bool allowDeleted) {
  RowBytes r;
  r.page = file.Read(ptr.page);
  ByteView pv = file.View(r.page);
  if (pv.data[0] != kPageData) ThrowCorrupt(std::string(what) + " points to a page that holds no rows");
  r.slot = ReadSlot(pv, ptr.row);
  if (r.slot.deleted && !allowDeleted) ThrowCorrupt(std::string(what) + " points to a deleted row");
  r.bytes = pv.Sub(r.slot.start, r.slot.length, what);
  return r;
}

}  // namespace brenvo::jet
