// Data pages and the row slots on them (Jet 4):
//
//   0   1  0x01 (data page)        1   1  0x01
//   2   2  free space in bytes     4   4  owning table-definition page
//                                          (or "LVAL" on long-value pages)
//   8   4  unused                  12  2  number of row slots
//   14  2*n  slot offsets
//
// Jet 3 pages have no unused field: the slot count is at 8, the slots follow
// from 10 (format.h). The functions below take the layout from the page's
// size.
//
// Rows are packed from the end of the page downwards: slot 0 ends at the end
// of the page, slot i ends where slot i-1 begins (deleted or not). The top
// bits of a slot offset are flags: 0x8000 the row is deleted, 0x4000 the slot
// holds only a 4-byte pointer to the row's real place (an overflow row).
//
// Row pointers elsewhere in the file (usage maps, long values, overflow
// slots) are 4 bytes: the slot number in the low byte, the page above it.
#pragma once

#include <cstdint>

#include "db/jet/page_file.h"

namespace brenvo::jet {

inline constexpr uint16_t kSlotDeleted = 0x8000;
inline constexpr uint16_t kSlotLookup = 0x4000;
inline constexpr uint16_t kSlotOffsetMask = 0x1FFF;
// Jet 4's; the writer builds Jet 4 pages only.
inline constexpr size_t kDataPageHeader = 14;

struct RowPointer {
  uint32_t page = 0;
  uint8_t row = 0;
  static RowPointer FromRaw(uint32_t raw) { return {raw >> 8, static_cast<uint8_t>(raw & 0xFF)}; }
  uint32_t Raw() const { return (page << 8) | row; }
  bool IsNull() const { return page == 0 && row == 0; }
};

struct RowSlot {
  uint16_t start = 0;
  uint16_t length = 0;
  bool deleted = false;
  bool lookup = false;
};

// Number of slots on a data page (checked against the page size).
uint16_t SlotCount(ByteView page);
// Slot i of a data page, bounds checked.
RowSlot ReadSlot(ByteView page, uint16_t i);

// The bytes of the row a pointer names, on a data page; throws when the
// pointer is out of range or the row is deleted. The place an overflow row
// moved to carries the deleted flag (so scans pass it by); allowDeleted
// reads it all the same.
struct RowBytes {
  PageRef page;
  ByteView bytes;
  RowSlot slot;
};
RowBytes ReadRow(const PageFile& file, RowPointer ptr, const char* what, bool allowDeleted = false);

}  // namespace brenvo::jet
