// Index trees on disk (Jet 4). Every node is one page:
//
//   0    1  0x04 leaf, 0x03 inner node     1  1  0x01
//   2    2  free bytes                     4  4  owning table-definition page
//   12   4  previous page on this level    16 4  next page on this level
//   20   4  inner nodes: the last child (the "tail"), which has no entry
//   24   2  length of the key prefix the entries after the first leave out
//   27   453 bitmap: bit n set = an entry ends at byte 480 + n
//   480     entries, packed
//
// A leaf entry is the key, then the row it names: 3-byte page big-endian,
// 1-byte row. An inner entry repeats the last leaf entry under its child,
// then the child's page number as 4 bytes big-endian. Entries sort by key,
// then by row pointer. The prefix is the key bytes the first and last entry
// of the page share; the first entry is stored whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/write_pager.h"

namespace brenvo::jet {

inline constexpr size_t kIndexEntryStart = 0x1E0;
inline constexpr size_t kIndexMaskStart = 0x1B;

struct IndexEntry {
  std::string key;  // raw key bytes
  uint32_t page = 0;
  uint8_t row = 0;
  bool operator<(const IndexEntry& o) const {
    if (key != o.key) return key < o.key;
    if (page != o.page) return page < o.page;
    return row < o.row;
  }
  bool operator==(const IndexEntry& o) const = default;
};

struct IndexWalk {
  std::vector<IndexEntry> entries;  // leaf entries in tree order
  std::vector<uint32_t> pages;      // every page of the tree
};

// Walks the tree from its root: inner nodes depth first (each entry's child,
// then the tail), so the leaf entries come out in tree order. Throws on a
// damaged page, a loop or a page of the wrong kind.
IndexWalk WalkIndex(const Pager& pager, uint32_t root);

// Writes a fresh tree for the entries (sorted) on pages from the pager and
// returns its root; pages receives every page used.
uint32_t BuildIndex(Pager& pager, uint32_t tableDefPage, const std::vector<IndexEntry>& sorted,
                    std::vector<uint32_t>& pages);

}  // namespace brenvo::jet
