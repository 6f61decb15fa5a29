#include "db/jet/table_scan.h"

namespace brenvo::jet {
namespace {
// Jet moves a grown row once; a pointer to a pointer is followed a few times
// at most, so a damaged file cannot send the scan round in circles.
constexpr int kMaxLookupHops = 4;
}  // namespace

TableScan::TableScan(const PageFile& file, const TableDef& table)
    : file_(file), table_(table), map_(file, table.ownedPages) {}

void TableScan::Rewind() {
  page_.reset();
  pageData_.reset();
  slots_ = slot_ = 0;
  done_ = false;
}

bool TableScan::LoadNextPage() {
  for (;;) {
    page_ = map_.Next(page_);
    if (!page_) {
      done_ = true;
      pageData_.reset();
      return false;
    }
    PageRef p = file_.Read(*page_);
    ByteView v = file_.View(p);
    if (v.data[0] != kPageData || Get32(v.data + 4) != table_.page) continue;
    pageData_ = p;
    slots_ = SlotCount(v);
    slot_ = 0;
    return true;
  }
}

bool TableScan::Next(RowBytes& row) {
  while (!done_) {
    if (!pageData_ || slot_ >= slots_) {
      if (!LoadNextPage()) return false;
      continue;
    }
    ByteView v = file_.View(pageData_);
    RowSlot s = ReadSlot(v, slot_++);
    if (s.deleted) continue;
    if (!s.lookup) {
      row.page = pageData_;
      row.slot = s;
      row.bytes = v.Sub(s.start, s.length, "row");
      return true;
    }
    RowBytes target{pageData_, v.Sub(s.start, s.length, "row"), s};
    int hops = 0;
    while (target.slot.lookup) {
      if (++hops > kMaxLookupHops) ThrowCorrupt("overflow row pointers loop");
      RowPointer ptr = RowPointer::FromRaw(target.bytes.U32(0, "overflow row pointer"));
      target = ReadRow(file_, ptr, "overflow row pointer", true);
    }
    row = target;
    return true;
  }
  return false;
}

}  // namespace brenvo::jet
