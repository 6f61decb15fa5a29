// Usage maps: which pages a table (or index, or long-value column) owns.
// A map is a row somewhere in the file, named by a row pointer, in one of
// two forms (first byte):
//
//   0 inline:     4 bytes first page number, then a bitmap; bit n set means
//                 page first+n is in the map.
//   1 reference:  4-byte page numbers of bitmap pages (type 0x05: 4-byte
//                 header, then a bitmap over the rest of the page); bitmap
//                 page k covers pages k*B .. k*B+B-1, B = (page size - 4) * 8.
//                 A page number of 0 means that stretch is empty.
//
// The map is walked lazily, page by page, so memory does not grow with the
// table.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "db/jet/data_page.h"

namespace brenvo::jet {

class UsageMap {
 public:
  // Reads the map row; throws on a damaged map.
  UsageMap(const PageFile& file, RowPointer where);

  // The first page in the map that is greater than after (or the first page
  // at all with after = nullopt), in ascending order.
  std::optional<uint32_t> Next(std::optional<uint32_t> after) const;

  bool IsInline() const { return inline_; }

 private:
  std::optional<uint32_t> NextInBitmap(const uint8_t* bits, size_t nbits, uint32_t base,
                                       std::optional<uint32_t> after) const;
  const PageFile& file_;
  bool inline_ = true;
  uint32_t first_ = 0;
  std::vector<uint8_t> bitmap_;       // inline form
  std::vector<uint32_t> mapPages_;    // reference form
};

}  // namespace brenvo::jet
