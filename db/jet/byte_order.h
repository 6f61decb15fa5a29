// Jet stores every integer little-endian. Reads go through these helpers on a
// span whose bounds are checked by the caller's ByteView, so a damaged length
// or offset becomes an error instead of a read outside the page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "db/jet/jet_errors.h"

namespace brenvo::jet {

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get24(const uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16); }
inline uint32_t Get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }
inline double GetDouble(const uint8_t* p) {
  uint64_t u = Get64(p);
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}
inline float GetFloat(const uint8_t* p) {
  uint32_t u = Get32(p);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}
inline void Put32(uint8_t* p, uint32_t v) {
  Put16(p, static_cast<uint16_t>(v));
  Put16(p + 2, static_cast<uint16_t>(v >> 16));
}

// A bounded window on bytes (a page, a row, a table definition). Every read
// names what it reads so the error says where the file is damaged.
struct ByteView {
  const uint8_t* data = nullptr;
  size_t size = 0;

  bool Has(size_t offset, size_t len) const { return offset <= size && len <= size - offset; }
  void Need(size_t offset, size_t len, const char* what) const {
    if (!Has(offset, len)) ThrowCorrupt(std::string(what) + " out of range");
  }
  uint8_t U8(size_t offset, const char* what) const {
    Need(offset, 1, what);
    return data[offset];
  }
  uint16_t U16(size_t offset, const char* what) const {
    Need(offset, 2, what);
    return Get16(data + offset);
  }
  uint32_t U24(size_t offset, const char* what) const {
    Need(offset, 3, what);
    return Get24(data + offset);
  }
  uint32_t U32(size_t offset, const char* what) const {
    Need(offset, 4, what);
    return Get32(data + offset);
  }
  ByteView Sub(size_t offset, size_t len, const char* what) const {
    Need(offset, len, what);
    return {data + offset, len};
  }
};

}  // namespace brenvo::jet
