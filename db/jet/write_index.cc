#include "db/jet/write_index.h"

#include <algorithm>
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
  bool inner = b[0] == kPageIndexNode;
  size_t prefixLen = Get16(&b[kPrefixOffset]);
  size_t pointerBytes = inner ? 8 : 4;
  std::vector<NodeEntry> out;
  std::string first;
  size_t start = 0;
  size_t capacity = b.size() - kIndexEntryStart;
  for (size_t bit = 0; bit <= capacity && bit < (kIndexEntryStart - kIndexMaskStart) * 8; ++bit) {
    if (!(b[kIndexMaskStart + bit / 8] & (1u << (bit % 8)))) continue;
    size_t end = bit;
    if (end <= start) ThrowCorrupt("index page " + std::to_string(page) + " has an empty entry");
    std::string raw(reinterpret_cast<const char*>(&b[kIndexEntryStart + start]), end - start);
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
  uint32_t tail = Get32(&b[kTailOffset]);
  if (tail != 0) WalkNode(pager, tail, depth + 1, seen, out);
}

size_t CommonPrefix(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size()), i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Bytes a page's entries take: the first whole, the others without the
// prefix the first and the last key share. Kept as a running sum, since the
// entries arrive in order and the last one added is the page's last.
struct NodeFill {
  explicit NodeFill(bool isInner) : inner(isInner) {}
  bool inner;
  size_t count = 0;
  size_t sum = 0;
  std::string firstKey;
  size_t With(const IndexEntry& e) const {
    size_t len = e.key.size() + (inner ? 8 : 4);
    if (count == 0) return len;
    size_t prefix = CommonPrefix(firstKey, e.key);
    return sum + len - count * prefix;
  }
  void Add(const IndexEntry& e) {
    if (count == 0) firstKey = e.key;
    sum += e.key.size() + (inner ? 8 : 4);
    ++count;
  }
};

// An entry on its way to a page: the leaf entry (in the caller's sorted
// vector) and, in inner nodes, the child it stands for.
struct NodeRef {
  const IndexEntry* e;
  uint32_t child;
};

Page EncodeNode(uint32_t pageSize, bool inner, uint32_t tableDefPage, const std::vector<NodeRef>& es, uint32_t prev,
                uint32_t next, uint32_t tail) {
  Page b(pageSize, 0);
  b[0] = inner ? kPageIndexNode : kPageIndexLeaf;
  b[1] = 0x01;
  Put32(&b[4], tableDefPage);
  Put32(&b[kPrevOffset], prev);
  Put32(&b[kNextOffset], next);
  Put32(&b[kTailOffset], tail);
  size_t prefix = es.empty() ? 0 : CommonPrefix(es.front().e->key, es.back().e->key);
  Put16(&b[kPrefixOffset], static_cast<uint16_t>(prefix));
  size_t pos = kIndexEntryStart;
  for (size_t i = 0; i < es.size(); ++i) {
    const IndexEntry& e = *es[i].e;
    size_t skip = i > 0 ? prefix : 0;
    std::copy(e.key.begin() + static_cast<long>(skip), e.key.end(), b.begin() + static_cast<long>(pos));
    pos += e.key.size() - skip;
    b[pos++] = static_cast<uint8_t>(e.page >> 16);
    b[pos++] = static_cast<uint8_t>(e.page >> 8);
    b[pos++] = static_cast<uint8_t>(e.page);
    b[pos++] = e.row;
    if (inner) {
      for (int k = 3; k >= 0; --k) b[pos++] = static_cast<uint8_t>(es[i].child >> (8 * k));
    }
    size_t end = pos - kIndexEntryStart;
    b[kIndexMaskStart + end / 8] |= static_cast<uint8_t>(1u << (end % 8));
  }
  Put16(&b[2], static_cast<uint16_t>(pageSize - pos));
  return b;
}

struct BuiltNode {
  uint32_t page;
  const IndexEntry* last;  // the last leaf entry below it
};

}  // namespace

IndexWalk WalkIndex(const Pager& pager, uint32_t root) {
  IndexWalk out;
  std::unordered_set<uint32_t> seen;
  WalkNode(pager, root, 0, seen, out);
  return out;
}

uint32_t BuildIndex(Pager& pager, uint32_t tableDefPage, const std::vector<IndexEntry>& sorted,
                    std::vector<uint32_t>& pages) {
  const uint32_t pageSize = pager.PageSize();
  const size_t capacity = pageSize - kIndexEntryStart;
  if (sorted.empty()) {
    uint32_t p = pager.Allocate();
    pages.push_back(p);
    pager.Write(p, EncodeNode(pageSize, false, tableDefPage, {}, 0, 0, 0));
    return p;
  }
  for (const auto& e : sorted)
    if (e.key.size() + 8 > capacity / 4)
      throw BrenvoError(kErrFail, "An index key is too long for an index page.", kJetSource);

  // Leaves: fill each page as far as it goes.
  std::vector<std::vector<NodeRef>> groups(1);
  NodeFill fill{false};
  for (const auto& e : sorted) {
    if (fill.count > 0 && fill.With(e) > capacity) {
      groups.emplace_back();
      fill = NodeFill{false};
    }
    groups.back().push_back(NodeRef{&e, 0});
    fill.Add(e);
  }

  std::vector<uint32_t> levelPages(groups.size());
  for (auto& p : levelPages) {
    p = pager.Allocate();
    pages.push_back(p);
  }
  std::vector<BuiltNode> level;
  for (size_t i = 0; i < groups.size(); ++i) {
    uint32_t prev = i > 0 ? levelPages[i - 1] : 0;
    uint32_t next = i + 1 < groups.size() ? levelPages[i + 1] : 0;
    pager.Write(levelPages[i], EncodeNode(pageSize, false, tableDefPage, groups[i], prev, next, 0));
    level.push_back({levelPages[i], groups[i].back().e});
  }

  // Inner levels until one page holds the level: each page lists its
  // children but the last with their last entries, the last as its tail.
  while (level.size() > 1) {
    std::vector<std::vector<NodeRef>> nodes;
    std::vector<uint32_t> tails;
    std::vector<const IndexEntry*> lasts;  // per node: the last leaf entry below it
    for (size_t i = 0; i < level.size();) {
      std::vector<NodeRef> node;
      NodeFill nf{true};
      size_t j = i;
      while (j + 1 < level.size()) {
        if (nf.count > 0 && nf.With(*level[j].last) > capacity) break;
        node.push_back(NodeRef{level[j].last, level[j].page});
        nf.Add(*level[j].last);
        ++j;
      }
      tails.push_back(level[j].page);
      lasts.push_back(level[j].last);
      nodes.push_back(std::move(node));
      i = j + 1;
    }
    std::vector<uint32_t> nodePages(nodes.size());
    for (auto& p : nodePages) {
      p = pager.Allocate();
      pages.push_back(p);
    }
    std::vector<BuiltNode> up;
    for (size_t i = 0; i < nodes.size(); ++i) {
      uint32_t prev = i > 0 ? nodePages[i - 1] : 0;
      uint32_t next = i + 1 < nodes.size() ? nodePages[i + 1] : 0;
      pager.Write(nodePages[i], EncodeNode(pageSize, true, tableDefPage, nodes[i], prev, next, tails[i]));
      up.push_back({nodePages[i], lasts[i]});
    }
    level = std::move(up);
  }
  return level.front().page;
}

}  // namespace brenvo::jet
