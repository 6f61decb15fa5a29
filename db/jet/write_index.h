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
//
// Jet 3 trees (read for the integrity check) have the same entries on
// 2048-byte pages with a shorter header: previous 8, next 12, tail 16,
// prefix length 20, bitmap from 0x16, entries from 0xF8. The readers below
// take the layout from the page size; the builder writes Jet 4 pages.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
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

// The largest key an index page takes: Jet wants at least four entries per
// node, so a key with its row pointer and child pointer is at most a quarter
// of the entry area.
inline constexpr size_t MaxIndexKeyBytes(uint32_t pageSize) { return (pageSize - kIndexEntryStart) / 4 - 8; }

// Orders keys as unsigned bytes, a key that is a prefix of another first.
int CompareKeys(const uint8_t* a, size_t la, const uint8_t* b, size_t lb);
// Orders entries as the tree holds them: key bytes unsigned (a key that is
// a prefix of another sorts first), then page, then row. ptr is page << 8 | row.
int CompareEntries(const uint8_t* ka, size_t la, uint32_t pa, const uint8_t* kb, size_t lb, uint32_t pb);

// One node page decoded: every entry whole (the prefix the page leaves out
// put back) in a buffer reused from page to page, so a walk over a large
// tree allocates nothing per entry.
class NodeReader {
 public:
  // Throws on a damaged page.
  void Decode(const Page& b, uint32_t page);
  bool Inner() const { return inner_; }
  size_t Count() const { return slots_.size(); }
  const uint8_t* Key(size_t i) const { return buf_.data() + slots_[i].off; }
  size_t KeyLen(size_t i) const { return slots_[i].keyLen; }
  uint32_t Ptr(size_t i) const { return slots_[i].ptr; }
  uint32_t Child(size_t i) const { return slots_[i].child; }
  // Inner nodes: the last child, which has no entry.
  uint32_t Tail() const { return tail_; }
  uint32_t Next() const { return next_; }

 private:
  struct Slot {
    uint32_t off;
    uint32_t keyLen;
    uint32_t ptr;
    uint32_t child;
  };
  std::vector<uint8_t> buf_;
  std::vector<Slot> slots_;
  bool inner_ = false;
  uint32_t tail_ = 0;
  uint32_t next_ = 0;
};

// Calls leaf(pageNumber, bytes) for every leaf of the tree in key order,
// reading one page per level at a time; pages (when given) receives every
// page of the tree. leaf may take the bytes (move from them). Throws on a
// damaged page or a tree deeper than any file can hold.
void ForEachLeaf(const Pager& pager, uint32_t root, const std::function<void(uint32_t, Page&)>& leaf,
                 std::vector<uint32_t>* pages);

// Whether any entry of the tree has exactly this key: one page per level
// from the root down.
bool IndexHasKey(const Pager& pager, uint32_t root, const uint8_t* key, size_t len);

// Writes a tree from entries given in order, keeping one page in progress
// per level: a page is written once the entry that does not fit it arrives
// (its successor's page number is known then), its last entry going up to
// the level above. Pages come from the pager (pages no committed structure
// reaches) and are listed by Pages().
class IndexTreeBuilder {
 public:
  IndexTreeBuilder(Pager& pager, uint32_t tableDefPage);
  ~IndexTreeBuilder();
  // Entries must come in strictly ascending order; a step back throws, as
  // it means a damaged tree was read.
  void Add(const uint8_t* key, size_t len, uint32_t ptr);
  // Entries [from, to) of a decoded leaf, in the leaf's order.
  void AddRun(const NodeReader& reader, size_t from, size_t to);
  // Whether a whole leaf can go in as it is now: the page in progress is
  // empty or full enough to be closed early.
  bool CanTakeLeaf() const;
  // A leaf of the old tree taken over unchanged but for its neighbour
  // links (reader holds its decoded entries), on a new page.
  void TakeLeaf(Page bytes, const NodeReader& reader);
  // Writes what is in progress and returns the root (an empty leaf when no
  // entry came).
  uint32_t Finish();
  const std::vector<uint32_t>& Pages() const { return pages_; }
  uint64_t Count() const { return count_; }
  // The last entry's key bytes (after Finish).
  const std::string& LastKey() const { return lastKey_; }

 private:
  struct Level;
  void StageLeaf(const uint8_t* key, size_t len, const uint8_t* ptrBytes);
  void Push(size_t level, const uint8_t* entry, size_t keyLen, uint32_t child);
  void Close(size_t level, uint32_t next, bool finishing);
  void CheckOrder(const uint8_t* key, size_t len, uint32_t ptr);
  uint32_t NewPage();
  Pager& pager_;
  uint32_t owner_;
  size_t capacity_;
  std::vector<std::unique_ptr<Level>> levels_;
  std::vector<uint32_t> pages_;
  uint64_t count_ = 0;
  std::string lastKey_;
  uint32_t lastPtr_ = 0;
  bool any_ = false;
  uint32_t root_ = 0;
  Page scratch_;
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
