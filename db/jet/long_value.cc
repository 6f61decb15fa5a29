#include "db/jet/long_value.h"

#include <unordered_set>

namespace brenvo::jet {

void ReadLongValue(const PageFile& file, ByteView field, std::vector<uint8_t>& out) {
  out.clear();
  if (field.size == 0) return;
  if (field.size < kLvalHeader) ThrowCorrupt("long value field too short");
  uint32_t len = Get24(field.data);
  uint8_t form = field.data[3];
  RowPointer ptr = RowPointer::FromRaw(Get32(field.data + 4));
  if (form == kLvalInline) {
    ByteView v = field.Sub(kLvalHeader, len, "inline long value");
    out.assign(v.data, v.data + v.size);
    return;
  }
  if (form == kLvalSingle) {
    RowBytes r = ReadRow(file, ptr, "long value");
    if (len > r.bytes.size) ThrowCorrupt("long value longer than its row");
    out.assign(r.bytes.data, r.bytes.data + len);
    return;
  }
  if (form != kLvalChain) ThrowCorrupt("unknown long value form");
  std::unordered_set<uint32_t> seen;
  while (out.size() < len) {
    if (ptr.IsNull()) ThrowCorrupt("long value chain ends early");
    if (!seen.insert(ptr.Raw()).second) ThrowCorrupt("long value chain loops");
    RowBytes r = ReadRow(file, ptr, "long value");
    if (r.bytes.size < 4) ThrowCorrupt("long value piece too short");
    ptr = RowPointer::FromRaw(Get32(r.bytes.data));
    size_t piece = std::min<size_t>(r.bytes.size - 4, len - out.size());
    out.insert(out.end(), r.bytes.data + 4, r.bytes.data + 4 + piece);
  }
}

}  // namespace brenvo::jet
