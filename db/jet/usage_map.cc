#include "db/jet/usage_map.h"

namespace brenvo::jet {

UsageMap::UsageMap(const PageFile& file, RowPointer where) : file_(file) {
  RowBytes row = ReadRow(file, where, "usage map");
  ByteView b = row.bytes;
  uint8_t type = b.U8(0, "usage map type");
  if (type == 0) {
    inline_ = true;
    first_ = b.U32(1, "usage map start page");
    if (b.size > 5) bitmap_.assign(b.data + 5, b.data + b.size);
  } else if (type == 1) {
    inline_ = false;
    for (size_t off = 1; off + 4 <= b.size; off += 4) mapPages_.push_back(Get32(b.data + off));
  } else {
    ThrowCorrupt("unknown usage map type");
  }
}

std::optional<uint32_t> UsageMap::NextInBitmap(const uint8_t* bits, size_t nbits, uint32_t base,
                                               std::optional<uint32_t> after) const {
  size_t startBit = 0;
  if (after) {
    if (*after < base) startBit = 0;
    else if (static_cast<uint64_t>(*after) - base + 1 >= nbits) return std::nullopt;
    else startBit = *after - base + 1;
  }
  for (size_t n = startBit; n < nbits;) {
    uint8_t byte = bits[n / 8];
    if (byte == 0 && n % 8 == 0) {
      n += 8;
      continue;
    }
    if (byte & (1u << (n % 8))) {
      uint64_t page = static_cast<uint64_t>(base) + n;
      if (page >= file_.PageCount()) return std::nullopt;  // bits past the end of the file
      return static_cast<uint32_t>(page);
    }
    ++n;
  }
  return std::nullopt;
}

std::optional<uint32_t> UsageMap::Next(std::optional<uint32_t> after) const {
  if (inline_) return NextInBitmap(bitmap_.data(), bitmap_.size() * 8, first_, after);
  const uint64_t perPage = (static_cast<uint64_t>(file_.PageSize()) - 4) * 8;
  size_t k = after ? static_cast<size_t>(*after / perPage) : 0;
  for (; k < mapPages_.size(); ++k) {
    uint64_t base = k * perPage;
    if (base >= file_.PageCount()) return std::nullopt;
    if (mapPages_[k] == 0) continue;
    PageRef p = file_.Read(mapPages_[k]);
    if ((*p)[0] != kPageUsageMap) ThrowCorrupt("usage map page of the wrong type");
    auto r = NextInBitmap(p->data() + 4, perPage, static_cast<uint32_t>(base), after);
    if (r) return r;
  }
  return std::nullopt;
}

}  // namespace brenvo::jet
