// Writing usage maps. A map row is written whole for each durable point, in
// the form that fits: inline (start page + 64-byte bitmap, 512 pages) when
// the pages lie within 512 of each other, else the reference form, whose
// bitmap pages (type 0x05) are new pages as well. See usage_map.h for the
// two forms.
#pragma once

#include <cstdint>
#include <vector>

#include "db/jet/data_page.h"
#include "db/jet/write_pager.h"

namespace brenvo::jet {

inline constexpr size_t kInlineMapBytes = 64;
inline constexpr size_t kReferenceMapSlots = 16;

// The pages a map names, ascending.
std::vector<uint32_t> ReadMapPages(const Pager& pager, RowPointer where);

// The row bytes of a map over pages (ascending); bitmap pages it needs are
// allocated, written and appended to newPages.
std::vector<uint8_t> EncodeMap(Pager& pager, const std::vector<uint32_t>& pages, std::vector<uint32_t>& newPages);

// Rows packed onto fresh data pages (owner 0, as Jet keeps map rows).
class RowPageBuilder {
 public:
  RowPageBuilder(Pager& pager, uint32_t owner, bool longValues);
  // New pages are numbered above floor and above each other.
  void KeepOrderAbove(uint32_t floor) {
    ordered_ = true;
    floor_ = floor;
  }
  // Places a row; returns where it went. Writes full pages as it goes.
  RowPointer Add(const std::vector<uint8_t>& row);
  // Bytes a row may have on an empty page.
  size_t MaxRow() const;
  // Whether the row fits on the current page.
  bool Fits(size_t len) const;
  void Flush();
  // Every page this builder started.
  const std::vector<uint32_t>& Pages() const { return pages_; }
  void ForgetPages() { pages_.clear(); }

 private:
  void StartPage();
  Pager& pager_;
  uint32_t owner_;
  bool longValues_;
  Page page_;
  uint32_t pageNo_ = 0;
  uint16_t rows_ = 0;
  uint16_t top_ = 0;  // where the lowest row starts
  bool open_ = false;
  bool dirty_ = false;
  std::vector<uint32_t> pages_;
  bool ordered_ = false;
  uint32_t floor_ = 0;
};

// The global usage map is row 0 of page 1; a set bit is a free page. Access
// keeps it inline with start page 0 and lengthens the row as the file grows
// (4 bytes at a time; 743, 814 and 922 pages carry 768, 832 and 928 bits),
// every page past the end of the file marked free, so that no page of the
// file lies outside it.
//
// Brings the map on page 1 to that form: start page 0, covering at least
// pageCount pages. Pages outside the old window count as in use (a page some
// structure owns must never look free), pages past pageCount are free. The
// reference form, and a file too large for an inline row on the page, are
// left as they are.
void CoverWholeFile(Page& page1, uint32_t pageCount);

// Marks pages used or free in the global usage map, after covering the whole
// file (above); the pages the pager carries as in use (Pager::TakePagesInUse)
// are marked used first. Pages the map does not cover are left alone.
// Rewrites page 1 in place.
void UpdateGlobalMap(Pager& pager, const std::vector<uint32_t>& used, const std::vector<uint32_t>& freed);

}  // namespace brenvo::jet
