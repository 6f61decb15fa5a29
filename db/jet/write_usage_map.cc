#include "db/jet/write_usage_map.h"

#include <algorithm>

#include "db/jet/byte_order.h"
#include "db/jet/jet_errors.h"

namespace brenvo::jet {
namespace {

constexpr uint32_t kGlobalMapPage = 1;
constexpr size_t kMaxRowsPerPage = 255;

ByteView RowOf(const Page& page, uint8_t row, size_t& start) {
  ByteView pv{page.data(), page.size()};
  if (page[0] != kPageData) ThrowCorrupt("usage map row on a page that holds no rows");
  RowSlot s = ReadSlot(pv, row);
  if (s.deleted) ThrowCorrupt("usage map row deleted");
  start = s.start;
  return pv.Sub(s.start, s.length, "usage map");
}

uint64_t BitsPerMapPage(const Pager& pager) { return (static_cast<uint64_t>(pager.PageSize()) - 4) * 8; }

}  // namespace

std::vector<uint32_t> ReadMapPages(const Pager& pager, RowPointer where) {
  std::vector<uint32_t> out;
  if (where.IsNull()) return out;
  Page page = pager.Read(where.page);
  size_t start = 0;
  ByteView b = RowOf(page, where.row, start);
  uint8_t type = b.U8(0, "usage map type");
  if (type == 0) {
    uint32_t first = b.U32(1, "usage map start");
    for (size_t i = 5; i < b.size; ++i)
      for (int bit = 0; bit < 8; ++bit)
        if (b.data[i] & (1u << bit)) {
          uint64_t p = static_cast<uint64_t>(first) + (i - 5) * 8 + bit;
          if (p < pager.PageCount()) out.push_back(static_cast<uint32_t>(p));
        }
  } else if (type == 1) {
    uint64_t per = BitsPerMapPage(pager);
    for (size_t k = 0; 1 + 4 * k + 4 <= b.size; ++k) {
      uint32_t mp = Get32(b.data + 1 + 4 * k);
      if (mp == 0) continue;
      Page m = pager.Read(mp);
      if (m[0] != kPageUsageMap) ThrowCorrupt("usage map page of the wrong type");
      for (uint64_t n = 0; n < per; ++n)
        if (m[4 + n / 8] & (1u << (n % 8))) {
          uint64_t p = k * per + n;
          if (p < pager.PageCount()) out.push_back(static_cast<uint32_t>(p));
        }
    }
  } else {
    ThrowCorrupt("unknown usage map type");
  }
  return out;
}

std::vector<uint8_t> EncodeMap(Pager& pager, const std::vector<uint32_t>& pages, std::vector<uint32_t>& newPages) {
  std::vector<uint8_t> row;
  uint32_t lo = pages.empty() ? 0 : pages.front();
  uint32_t hi = pages.empty() ? 0 : pages.back();
  if (hi - lo < kInlineMapBytes * 8) {
    row.assign(1 + 4 + kInlineMapBytes, 0);
    Put32(&row[1], lo);
    for (uint32_t p : pages) row[5 + (p - lo) / 8] |= static_cast<uint8_t>(1u << ((p - lo) % 8));
    return row;
  }
  uint64_t per = BitsPerMapPage(pager);
  if (hi / per >= kReferenceMapSlots) throw BrenvoError(kErrFail, "The table has too many pages.", kJetSource);
  row.assign(1 + 4 * kReferenceMapSlots, 0);
  row[0] = 1;
  size_t i = 0;
  while (i < pages.size()) {
    uint64_t k = pages[i] / per;
    Page m(pager.PageSize(), 0);
    m[0] = kPageUsageMap;
    m[1] = 0x01;
    for (; i < pages.size() && pages[i] / per == k; ++i) {
      uint64_t n = pages[i] - k * per;
      m[4 + n / 8] |= static_cast<uint8_t>(1u << (n % 8));
    }
    uint32_t mp = pager.Allocate();
    pager.Write(mp, m);
    newPages.push_back(mp);
    Put32(&row[1 + 4 * k], mp);
  }
  return row;
}

RowPageBuilder::RowPageBuilder(Pager& pager, uint32_t owner, bool longValues)
    : pager_(pager), owner_(owner), longValues_(longValues) {}

size_t RowPageBuilder::MaxRow() const { return pager_.PageSize() - kDataPageHeader - 2; }

bool RowPageBuilder::Fits(size_t len) const {
  if (!open_) return false;
  if (rows_ >= kMaxRowsPerPage) return false;
  size_t slotsEnd = kDataPageHeader + 2u * (rows_ + 1u);
  return top_ >= slotsEnd + len;
}

void RowPageBuilder::StartPage() {
  Flush();
  pageNo_ = ordered_ ? pager_.AllocateAbove(floor_) : pager_.Allocate();
  if (ordered_) floor_ = pageNo_;
  pages_.push_back(pageNo_);
  page_.assign(pager_.PageSize(), 0);
  page_[0] = kPageData;
  page_[1] = 0x01;
  if (longValues_) {
    page_[4] = 'L';
    page_[5] = 'V';
    page_[6] = 'A';
    page_[7] = 'L';
  } else {
    Put32(&page_[4], owner_);
  }
  rows_ = 0;
  top_ = static_cast<uint16_t>(pager_.PageSize());
  open_ = true;
}

RowPointer RowPageBuilder::Add(const std::vector<uint8_t>& row) {
  if (row.size() > MaxRow()) throw BrenvoError(kErrFail, "Record is too large.", kJetSource);
  if (!Fits(row.size())) StartPage();
  top_ = static_cast<uint16_t>(top_ - row.size());
  std::copy(row.begin(), row.end(), page_.begin() + top_);
  Put16(&page_[kDataPageHeader + 2u * rows_], top_);
  ++rows_;
  Put16(&page_[12], rows_);
  Put16(&page_[2], static_cast<uint16_t>(top_ - (kDataPageHeader + 2u * rows_)));
  dirty_ = true;
  return {pageNo_, static_cast<uint8_t>(rows_ - 1)};
}

void RowPageBuilder::Flush() {
  if (open_ && dirty_) pager_.Write(pageNo_, page_);
  dirty_ = false;
}

namespace {

// Replaces the bytes of one row of a data page, moving the rows packed
// below it; false when the page has no room. Slot flags are kept.
bool ReplaceRow(Page& page, uint8_t slot, const std::vector<uint8_t>& bytes) {
  ByteView pv{page.data(), page.size()};
  uint16_t n = SlotCount(pv);
  if (slot >= n) return false;
  std::vector<std::vector<uint8_t>> rows(n);
  std::vector<uint16_t> flags(n);
  size_t total = 0;
  for (uint16_t i = 0; i < n; ++i) {
    RowSlot s = ReadSlot(pv, i);
    flags[i] = Get16(&page[kDataPageHeader + 2u * i]) & static_cast<uint16_t>(~kSlotOffsetMask);
    if (i == slot) rows[i] = bytes;
    else rows[i].assign(page.begin() + s.start, page.begin() + s.start + s.length);
    total += rows[i].size();
  }
  size_t header = kDataPageHeader + 2u * n;
  if (header + total > page.size()) return false;
  std::vector<uint8_t> out(page.begin(), page.begin() + static_cast<long>(header));
  out.resize(page.size(), 0);
  size_t top = page.size();
  for (uint16_t i = 0; i < n; ++i) {
    top -= rows[i].size();
    std::copy(rows[i].begin(), rows[i].end(), out.begin() + static_cast<long>(top));
    Put16(&out[kDataPageHeader + 2u * i], static_cast<uint16_t>(top | flags[i]));
  }
  Put16(&out[2], static_cast<uint16_t>(top - header));
  page = std::move(out);
  return true;
}

}  // namespace

void CoverWholeFile(Page& page, uint32_t pageCount) {
  size_t start = 0;
  ByteView b = RowOf(page, 0, start);
  if (b.U8(0, "usage map type") != 0) return;
  const uint32_t first = b.U32(1, "usage map start");
  const uint64_t nbits = (b.size - 5) * 8;
  if (first == 0 && nbits >= pageCount) {
    // Pages past the end are free (a rolled-back write may have marked
    // pages used that the file no longer has).
    uint8_t* bits = page.data() + start + 5;
    for (uint64_t p = pageCount; p < nbits; ++p) bits[p / 8] |= static_cast<uint8_t>(1u << (p % 8));
    return;
  }
  uint64_t want = std::max<uint64_t>(pageCount, first == 0 ? nbits : 0);
  want = std::max<uint64_t>((want + 31) / 32 * 32, kInlineMapBytes * 8);
  std::vector<uint8_t> row(5 + want / 8, 0);
  for (uint64_t p = 0; p < want; ++p) {
    bool isFree;
    if (p >= first && p - first < nbits) isFree = b.data[5 + (p - first) / 8] & (1u << ((p - first) % 8));
    else isFree = p >= pageCount;  // outside the old window: in use unless past the end
    if (isFree) row[5 + p / 8] |= static_cast<uint8_t>(1u << (p % 8));
  }
  // A file too large for the page keeps its window (pages past it are left
  // alone, as before).
  ReplaceRow(page, 0, row);
}

void UpdateGlobalMap(Pager& pager, const std::vector<uint32_t>& used, const std::vector<uint32_t>& freed) {
  Page page = pager.Read(kGlobalMapPage);
  CoverWholeFile(page, pager.PageCount());
  std::vector<uint32_t> carried = pager.TakePagesInUse();
  size_t start = 0;
  ByteView b = RowOf(page, 0, start);
  uint8_t* row = page.data() + start;
  uint64_t per = BitsPerMapPage(pager);
  std::vector<std::pair<uint32_t, Page>> mapPages;
  auto set = [&](uint32_t p, bool isFree) {
    if (row[0] == 0) {
      uint32_t first = Get32(row + 1);
      if (p < first) return;
      uint64_t n = p - first;
      if (5 + n / 8 >= b.size) return;
      if (isFree) row[5 + n / 8] |= static_cast<uint8_t>(1u << (n % 8));
      else row[5 + n / 8] &= static_cast<uint8_t>(~(1u << (n % 8)));
    } else if (row[0] == 1) {
      uint64_t k = p / per;
      if (1 + 4 * k + 4 > b.size) return;
      uint32_t mp = Get32(row + 1 + 4 * k);
      if (mp == 0) return;
      Page* m = nullptr;
      for (auto& [no, bytes] : mapPages)
        if (no == mp) m = &bytes;
      if (!m) {
        mapPages.emplace_back(mp, pager.Read(mp));
        m = &mapPages.back().second;
      }
      uint64_t n = p - k * per;
      if (isFree) (*m)[4 + n / 8] |= static_cast<uint8_t>(1u << (n % 8));
      else (*m)[4 + n / 8] &= static_cast<uint8_t>(~(1u << (n % 8)));
    }
  };
  for (uint32_t p : carried) set(p, false);
  for (uint32_t p : used) set(p, false);
  for (uint32_t p : freed) set(p, true);
  for (auto& [no, bytes] : mapPages) pager.Write(no, bytes);
  pager.Write(kGlobalMapPage, page);
}

}  // namespace brenvo::jet
