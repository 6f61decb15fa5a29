#include "db/jet/write_index.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "db/jet/byte_order.h"
#include "db/jet/jet_errors.h"
#include "db/jet/page_file.h"

namespace brenvo::jet {
namespace {

constexpr size_t kPrevOffset = 12;
constexpr size_t kNextOffset = 16;
constexpr size_t kTailOffset = 20;
constexpr size_t kPrefixOffset = 24;
// Deep enough for any tree a 4 GB file can hold.
constexpr int kMaxDepth = 16;

uint32_t GetBe32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

struct NodeEntry {
  IndexEntry e;
  uint32_t child = 0;
};

std::vector<NodeEntry> DecodeNode(const Page& b, uint32_t page) {
  const IndexPageLayout& L = FormatOfPageSize(b.size()).index;
  bool inner = b[0] == kPageIndexNode;
  size_t prefixLen = Get16(&b[L.prefixLength]);
  size_t pointerBytes = inner ? 8 : 4;
  std::vector<NodeEntry> out;
  std::string first;
  size_t start = 0;
  size_t capacity = b.size() - L.entries;
  for (size_t bit = 0; bit <= capacity && bit < (L.entries - L.bitmap) * 8; ++bit) {
    if (!(b[L.bitmap + bit / 8] & (1u << (bit % 8)))) continue;
    size_t end = bit;
    if (end <= start) ThrowCorrupt("index page " + std::to_string(page) + " has an empty entry");
    std::string raw(reinterpret_cast<const char*>(&b[L.entries + start]), end - start);
    if (out.empty()) {
      first = raw;
    } else {
      if (prefixLen > first.size()) ThrowCorrupt("index page " + std::to_string(page) + " prefix too long");
      raw = first.substr(0, prefixLen) + raw;
    }
    if (raw.size() < pointerBytes) ThrowCorrupt("index page " + std::to_string(page) + " entry too short");
    NodeEntry n;
    const uint8_t* tail = reinterpret_cast<const uint8_t*>(raw.data()) + raw.size() - pointerBytes;
    n.e.key = raw.substr(0, raw.size() - pointerBytes);
    n.e.page = (uint32_t{tail[0]} << 16) | (uint32_t{tail[1]} << 8) | tail[2];
    n.e.row = tail[3];
    if (inner) n.child = GetBe32(tail + 4);
    out.push_back(std::move(n));
    start = end;
  }
  return out;
}

void WalkNode(const Pager& pager, uint32_t page, int depth, std::unordered_set<uint32_t>& seen, IndexWalk& out) {
  if (depth > kMaxDepth) ThrowCorrupt("index tree too deep");
  if (page == 0 || page >= pager.PageCount()) ThrowCorrupt("index page number out of range");
  if (!seen.insert(page).second) ThrowCorrupt("index tree loops at page " + std::to_string(page));
  Page b = pager.Read(page);
  if (b[0] != kPageIndexNode && b[0] != kPageIndexLeaf)
    ThrowCorrupt("index page " + std::to_string(page) + " has the wrong type");
  out.pages.push_back(page);
  auto nodes = DecodeNode(b, page);
  if (b[0] == kPageIndexLeaf) {
    for (auto& n : nodes) out.entries.push_back(std::move(n.e));
    return;
  }
  for (const auto& n : nodes) WalkNode(pager, n.child, depth + 1, seen, out);
  uint32_t tail = Get32(&b[FormatOfPageSize(b.size()).index.tail]);
  if (tail != 0) WalkNode(pager, tail, depth + 1, seen, out);
}

size_t CommonPrefix(const uint8_t* a, size_t la, const uint8_t* b, size_t lb) {
  size_t n = std::min(la, lb), i = 0;
  // Eight bytes at a time: sorted neighbours share long prefixes.
  for (; i + 8 <= n; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return i + static_cast<size_t>(__builtin_ctzll(x ^ y)) / 8;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// A whole entry: the longest key an index takes, its row and child pointers.
constexpr size_t kMaxEntryBytes = 4096;

}  // namespace

IndexWalk WalkIndex(const Pager& pager, uint32_t root) {
  IndexWalk out;
  std::unordered_set<uint32_t> seen;
  WalkNode(pager, root, 0, seen, out);
  return out;
}

uint32_t BuildIndex(Pager& pager, uint32_t tableDefPage, const std::vector<IndexEntry>& sorted,
                    std::vector<uint32_t>& pages) {
  IndexTreeBuilder b(pager, tableDefPage);
  for (const auto& e : sorted) {
    if (e.key.size() > MaxIndexKeyBytes(pager.PageSize()))
      throw BrenvoError(kErrFail, "An index key is too long for an index page.", kJetSource);
    b.Add(reinterpret_cast<const uint8_t*>(e.key.data()), e.key.size(), (e.page << 8) | e.row);
  }
  uint32_t root = b.Finish();
  pages.insert(pages.end(), b.Pages().begin(), b.Pages().end());
  return root;
}

int CompareKeys(const uint8_t* a, size_t la, const uint8_t* b, size_t lb) {
  int c = std::memcmp(a, b, std::min(la, lb));
  if (c != 0) return c;
  return la < lb ? -1 : la > lb ? 1 : 0;
}

int CompareEntries(const uint8_t* ka, size_t la, uint32_t pa, const uint8_t* kb, size_t lb, uint32_t pb) {
  int c = CompareKeys(ka, la, kb, lb);
  if (c != 0) return c;
  return pa < pb ? -1 : pa > pb ? 1 : 0;
}

void NodeReader::Decode(const Page& b, uint32_t page) {
  if (b[0] != kPageIndexNode && b[0] != kPageIndexLeaf)
    ThrowCorrupt("index page " + std::to_string(page) + " has the wrong type");
  // Jet 3 index pages (2048 bytes) hold the same fields at other offsets.
  const IndexPageLayout& L = FormatOfPageSize(b.size()).index;
  inner_ = b[0] == kPageIndexNode;
  tail_ = inner_ ? Get32(&b[L.tail]) : 0;
  next_ = Get32(&b[L.next]);
  size_t prefixLen = Get16(&b[L.prefixLength]);
  size_t pointerBytes = inner_ ? 8 : 4;
  buf_.clear();
  slots_.clear();
  // Each entry gets the first entry's prefix back: at most the page's bytes
  // plus one prefix per entry.
  buf_.reserve(b.size() * 2 + prefixLen * 8);
  size_t firstLen = 0, start = 0;
  size_t maxBit = std::min(b.size() - L.entries, (L.entries - L.bitmap) * 8 - 1);
  for (size_t bit = 0; bit <= maxBit; ++bit) {
    // Most of the bitmap is zero: skip it a byte at a time.
    uint8_t m = static_cast<uint8_t>(b[L.bitmap + bit / 8] >> (bit % 8));
    if (m == 0) {
      bit |= 7;
      continue;
    }
    bit += static_cast<size_t>(__builtin_ctz(m));
    if (bit > maxBit) break;
    size_t end = bit;
    if (end <= start) ThrowCorrupt("index page " + std::to_string(page) + " has an empty entry");
    size_t rawLen = end - start;
    size_t off = buf_.size();
    size_t keep = slots_.empty() ? 0 : prefixLen;
    if (!slots_.empty() && prefixLen > firstLen)
      ThrowCorrupt("index page " + std::to_string(page) + " prefix too long");
    if (buf_.capacity() < off + keep + rawLen) buf_.reserve(2 * (off + keep + rawLen));
    buf_.resize(off + keep + rawLen);
    if (keep) std::memcpy(buf_.data() + off, buf_.data(), keep);
    std::memcpy(buf_.data() + off + keep, &b[L.entries + start], rawLen);
    size_t total = keep + rawLen;
    if (total < pointerBytes) ThrowCorrupt("index page " + std::to_string(page) + " entry too short");
    // The prefix is measured over whole entries: where the first and last
    // entries share their key, Access lets it run on into the row pointer.
    if (slots_.empty()) firstLen = total;
    const uint8_t* tail = buf_.data() + off + total - pointerBytes;
    slots_.push_back(Slot{static_cast<uint32_t>(off), static_cast<uint32_t>(total - pointerBytes), GetBe32(tail),
                          inner_ ? GetBe32(tail + 4) : 0});
    start = end;
  }
}

namespace {

void VisitLeaves(const Pager& pager, uint32_t page, int depth, const std::function<void(uint32_t, Page&)>& leaf,
                 std::vector<uint32_t>* pages, NodeReader& reader, Page& b) {
  if (depth > kMaxDepth) ThrowCorrupt("index tree too deep");
  if (page == 0 || page >= pager.PageCount()) ThrowCorrupt("index page number out of range");
  pager.ReadInto(page, b);
  if (b[0] != kPageIndexNode && b[0] != kPageIndexLeaf)
    ThrowCorrupt("index page " + std::to_string(page) + " has the wrong type");
  if (pages) pages->push_back(page);
  if (b[0] == kPageIndexLeaf) {
    leaf(page, b);
    return;
  }
  reader.Decode(b, page);
  std::vector<uint32_t> children;
  children.reserve(reader.Count() + 1);
  for (size_t i = 0; i < reader.Count(); ++i) children.push_back(reader.Child(i));
  if (reader.Tail() != 0) children.push_back(reader.Tail());
  for (uint32_t c : children) VisitLeaves(pager, c, depth + 1, leaf, pages, reader, b);
}

}  // namespace

void ForEachLeaf(const Pager& pager, uint32_t root, const std::function<void(uint32_t, Page&)>& leaf,
                 std::vector<uint32_t>* pages) {
  NodeReader reader;
  // One buffer for every page: an inner node is done with once its
  // children are listed; a leaf callback may take the bytes away.
  Page b;
  VisitLeaves(pager, root, 0, leaf, pages, reader, b);
}

bool IndexHasKey(const Pager& pager, uint32_t root, const uint8_t* key, size_t len) {
  NodeReader r;
  Page b;
  uint32_t page = root;
  for (int depth = 0; depth <= kMaxDepth; ++depth) {
    if (page == 0 || page >= pager.PageCount()) ThrowCorrupt("index page number out of range");
    pager.ReadInto(page, b);
    r.Decode(b, page);
    if (!r.Inner()) {
      for (size_t i = 0; i < r.Count(); ++i) {
        int c = CompareKeys(r.Key(i), r.KeyLen(i), key, len);
        if (c == 0) return true;
        if (c > 0) return false;
      }
      return false;
    }
    // Each entry is the last one under its child: the first child whose
    // last key is not below the key holds its first occurrence, if any.
    size_t i = 0;
    while (i < r.Count() && CompareKeys(r.Key(i), r.KeyLen(i), key, len) < 0) ++i;
    page = i < r.Count() ? r.Child(i) : r.Tail();
    if (page == 0) return false;
  }
  ThrowCorrupt("index tree too deep");
}

struct IndexTreeBuilder::Level {
  bool inner = false;
  uint32_t pageNo = 0;  // the page in progress, 0 before it has content
  uint32_t prev = 0;
  uint32_t closed = 0;  // pages written on this level
  // Entries whole (key, row pointer, in inner nodes the child), in order.
  std::vector<uint8_t> stage;
  std::vector<std::pair<uint32_t, uint32_t>> ents;  // offset in stage, key length
  size_t sum = 0;
  // Leaf level: an old leaf taken as it is.
  bool taken = false;
  Page takenPage;
  // The last leaf entry under the page in progress (key and row pointer).
  std::vector<uint8_t> last;
  size_t lastKeyLen = 0;
  // Inner levels: the newest child, placed once the next one shows whether
  // it is the page's tail.
  bool held = false;
  std::vector<uint8_t> heldEntry;
  size_t heldKeyLen = 0;
  uint32_t heldChild = 0;

  size_t EntryBytes(size_t keyLen) const { return keyLen + (inner ? 8 : 4); }
  // Bytes the page takes with one more entry of this key at its end.
  size_t With(const uint8_t* key, size_t keyLen) const {
    size_t len = EntryBytes(keyLen);
    if (ents.empty()) return len;
    size_t prefix = CommonPrefix(stage.data() + ents[0].first, ents[0].second, key, keyLen);
    return sum + len - ents.size() * prefix;
  }
  size_t Used() const {
    if (ents.empty()) return 0;
    const auto& [lo, ll] = ents.back();
    size_t prefix = CommonPrefix(stage.data() + ents[0].first, ents[0].second, stage.data() + lo, ll);
    return sum - (ents.size() - 1) * prefix;
  }
  void Stage(const uint8_t* entry, size_t keyLen, uint32_t child) {
    size_t off = stage.size();
    stage.insert(stage.end(), entry, entry + keyLen + 4);
    if (inner) {
      for (int k = 3; k >= 0; --k) stage.push_back(static_cast<uint8_t>(child >> (8 * k)));
    }
    ents.emplace_back(static_cast<uint32_t>(off), static_cast<uint32_t>(keyLen));
    sum += EntryBytes(keyLen);
  }
};

IndexTreeBuilder::IndexTreeBuilder(Pager& pager, uint32_t tableDefPage)
    : pager_(pager), owner_(tableDefPage), capacity_(pager.PageSize() - kIndexEntryStart) {}

IndexTreeBuilder::~IndexTreeBuilder() = default;

uint32_t IndexTreeBuilder::NewPage() {
  uint32_t p = pager_.Allocate();
  pages_.push_back(p);
  return p;
}

// The entry before: the last one on the leaf in progress, else the one kept
// when the previous leaf was closed or taken.
void IndexTreeBuilder::CheckOrder(const uint8_t* key, size_t len, uint32_t ptr) {
  if (!any_) {
    any_ = true;
    return;
  }
  const Level* v = levels_.empty() ? nullptr : levels_[0].get();
  int c;
  if (v && !v->ents.empty()) {
    const auto& [off, keyLen] = v->ents.back();
    const uint8_t* prev = v->stage.data() + off;
    c = CompareEntries(prev, keyLen, GetBe32(prev + keyLen), key, len, ptr);
  } else {
    c = CompareEntries(reinterpret_cast<const uint8_t*>(lastKey_.data()), lastKey_.size(), lastPtr_, key, len, ptr);
  }
  if (c >= 0) ThrowCorrupt("index entries out of key order");
}

void IndexTreeBuilder::Add(const uint8_t* key, size_t len, uint32_t ptr) {
  if (len > kMaxEntryBytes) throw BrenvoError(kErrFail, "An index key is too long for an index page.", kJetSource);
  CheckOrder(key, len, ptr);
  ++count_;
  uint8_t ptrBytes[4];
  for (int k = 0; k < 4; ++k) ptrBytes[k] = static_cast<uint8_t>(ptr >> (24 - 8 * k));
  StageLeaf(key, len, ptrBytes);
}

void IndexTreeBuilder::AddRun(const NodeReader& r, size_t from, size_t to) {
  if (from >= to) return;
  // Order is checked where the run meets what came before; inside it, the
  // leaf's own order stands.
  CheckOrder(r.Key(from), r.KeyLen(from), r.Ptr(from));
  count_ += to - from;
  for (size_t i = from; i < to; ++i) StageLeaf(r.Key(i), r.KeyLen(i), r.Key(i) + r.KeyLen(i));
}

void IndexTreeBuilder::StageLeaf(const uint8_t* key, size_t len, const uint8_t* ptrBytes) {
  if (levels_.empty()) levels_.push_back(std::make_unique<Level>());
  Level& v = *levels_[0];
  if (v.taken || (!v.ents.empty() && v.With(key, len) > capacity_)) {
    uint32_t next = NewPage();
    Close(0, next, false);
    v.pageNo = next;
  }
  if (v.pageNo == 0) v.pageNo = NewPage();
  size_t off = v.stage.size();
  v.stage.resize(off + len + 4);
  uint8_t* at = v.stage.data() + off;
  std::memcpy(at, key, len);
  std::memcpy(at + len, ptrBytes, 4);
  v.ents.emplace_back(static_cast<uint32_t>(off), static_cast<uint32_t>(len));
  v.sum += len + 4;
}

bool IndexTreeBuilder::CanTakeLeaf() const {
  if (levels_.empty()) return true;
  const Level& v = *levels_[0];
  return v.taken || v.ents.empty() || v.Used() * 2 >= capacity_;
}

void IndexTreeBuilder::TakeLeaf(Page bytes, const NodeReader& r) {
  if (r.Count() == 0) return;
  CheckOrder(r.Key(0), r.KeyLen(0), r.Ptr(0));
  size_t n = r.Count() - 1;
  lastKey_.assign(reinterpret_cast<const char*>(r.Key(n)), r.KeyLen(n));
  lastPtr_ = r.Ptr(n);
  count_ += r.Count();
  if (levels_.empty()) levels_.push_back(std::make_unique<Level>());
  Level& v = *levels_[0];
  if (v.taken || !v.ents.empty()) {
    uint32_t next = NewPage();
    Close(0, next, false);
    v.pageNo = next;
  } else if (v.pageNo == 0) {
    v.pageNo = NewPage();
  }
  v.taken = true;
  v.takenPage = std::move(bytes);
  v.last.assign(r.Key(n), r.Key(n) + r.KeyLen(n) + 4);
  v.lastKeyLen = r.KeyLen(n);
}

void IndexTreeBuilder::Push(size_t level, const uint8_t* entry, size_t keyLen, uint32_t child) {
  if (levels_.size() <= level) {
    levels_.push_back(std::make_unique<Level>());
    levels_.back()->inner = level > 0;
  }
  Level& v = *levels_[level];
  if (v.held) {
    if (!v.ents.empty() && v.With(v.heldEntry.data(), v.heldKeyLen) > capacity_) {
      // The held child does not fit as an entry. The page closes with its
      // last entry's child as its tail, and the held child opens the next
      // page as an entry: closing with the held child as the tail would
      // leave the next page, when no child follows, with a tail and no
      // entry, a shape Access does not write.
      std::vector<uint8_t> keep = std::move(v.heldEntry);
      size_t keepLen = v.heldKeyLen;
      uint32_t keepChild = v.heldChild;
      const auto [off, keyLen] = v.ents.back();
      const uint8_t* e = v.stage.data() + off;
      v.heldEntry.assign(e, e + keyLen + 4);
      v.heldKeyLen = keyLen;
      v.heldChild = GetBe32(e + keyLen + 4);
      v.ents.pop_back();
      v.sum -= v.EntryBytes(keyLen);
      v.stage.resize(off);
      uint32_t next = NewPage();
      Close(level, next, false);
      v.pageNo = next;
      v.Stage(keep.data(), keepLen, keepChild);
    } else {
      if (v.pageNo == 0) v.pageNo = NewPage();
      v.Stage(v.heldEntry.data(), v.heldKeyLen, v.heldChild);
    }
  }
  v.held = true;
  v.heldEntry.assign(entry, entry + keyLen + 4);
  v.heldKeyLen = keyLen;
  v.heldChild = child;
}

void IndexTreeBuilder::Close(size_t level, uint32_t next, bool finishing) {
  Level& v = *levels_[level];
  if (v.pageNo == 0) v.pageNo = NewPage();
  uint32_t page = v.pageNo;
  if (v.taken) {
    Page& b = v.takenPage;
    Put32(&b[4], owner_);
    Put32(&b[kPrevOffset], v.prev);
    Put32(&b[kNextOffset], next);
    pager_.Write(page, b);
  } else {
    if (v.inner) {
      v.last = v.heldEntry;
      v.lastKeyLen = v.heldKeyLen;
    } else {
      const auto& [off, keyLen] = v.ents.back();
      const uint8_t* e = v.stage.data() + off;
      v.last.assign(e, e + keyLen + 4);
      v.lastKeyLen = keyLen;
      lastKey_.assign(reinterpret_cast<const char*>(e), keyLen);
      lastPtr_ = GetBe32(e + keyLen);
    }
    Page& b = scratch_;
    b.assign(pager_.PageSize(), 0);
    b[0] = v.inner ? kPageIndexNode : kPageIndexLeaf;
    b[1] = 0x01;
    Put32(&b[4], owner_);
    Put32(&b[kPrevOffset], v.prev);
    Put32(&b[kNextOffset], next);
    Put32(&b[kTailOffset], v.inner ? v.heldChild : 0);
    size_t prefix = 0;
    if (!v.ents.empty())
      prefix = CommonPrefix(v.stage.data() + v.ents.front().first, v.ents.front().second,
                            v.stage.data() + v.ents.back().first, v.ents.back().second);
    Put16(&b[kPrefixOffset], static_cast<uint16_t>(prefix));
    size_t pos = kIndexEntryStart;
    size_t tailBytes = v.inner ? 8 : 4;
    for (size_t i = 0; i < v.ents.size(); ++i) {
      const auto& [off, keyLen] = v.ents[i];
      size_t skip = i > 0 ? prefix : 0;
      size_t len = keyLen + tailBytes - skip;
      std::memcpy(&b[pos], v.stage.data() + off + skip, len);
      pos += len;
      size_t end = pos - kIndexEntryStart;
      b[kIndexMaskStart + end / 8] |= static_cast<uint8_t>(1u << (end % 8));
    }
    Put16(&b[2], static_cast<uint16_t>(pager_.PageSize() - pos));
    pager_.Write(page, b);
  }
  bool only = finishing && v.closed == 0;
  ++v.closed;
  v.prev = page;
  v.pageNo = 0;
  v.stage.clear();
  v.ents.clear();
  v.sum = 0;
  v.taken = false;
  v.held = false;
  if (only) {
    root_ = page;
    return;
  }
  // The level above lists this page by its last leaf entry.
  std::vector<uint8_t> last = std::move(v.last);
  size_t lastKeyLen = v.lastKeyLen;
  Push(level + 1, last.data(), lastKeyLen, page);
  v.last = std::move(last);
}

uint32_t IndexTreeBuilder::Finish() {
  if (!any_) {
    uint32_t p = NewPage();
    Page b(pager_.PageSize(), 0);
    b[0] = kPageIndexLeaf;
    b[1] = 0x01;
    Put32(&b[4], owner_);
    Put16(&b[2], static_cast<uint16_t>(pager_.PageSize() - kIndexEntryStart));
    pager_.Write(p, b);
    return p;
  }
  for (size_t level = 0; level < levels_.size() && root_ == 0; ++level) Close(level, 0, true);
  return root_;
}

}  // namespace brenvo::jet
