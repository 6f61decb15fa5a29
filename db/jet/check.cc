#include "db/jet/check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "db/jet/byte_order.h"
#include "db/jet/column_value.h"
#include "db/jet/database.h"
#include "db/jet/index_key.h"
#include "db/jet/jet_errors.h"
#include "db/jet/row.h"
#include "db/jet/write_index.h"
#include "db/jet/write_pager.h"
#include "db/jet/write_usage_map.h"

namespace brenvo::jet {
namespace {

std::string Describe(const std::exception& e) {
  if (auto b = dynamic_cast<const BrenvoError*>(&e)) return b->description();
  return e.what();
}

// A decoded value in the form the key encoder takes (what the writer stores).
ado::Value KeyValue(const ado::Value& v) {
  if (auto p = std::get_if<bool>(&v)) return int64_t{*p ? 1 : 0};
  if (auto p = std::get_if<ado::DateTime>(&v)) return ado::OleFromDateTime(*p);
  if (auto p = std::get_if<float>(&v)) return static_cast<double>(*p);
  return v;
}

// Every level of an index tree links its pages both ways (previous at byte
// 12, next at 16; 8 and 12 in Jet 3) in key order; a sequential walk through an index follows
// those links instead of the tree. Returns the first page that breaks them.
std::string CheckLevelLinks(const Pager& pager, uint32_t root) {
  std::vector<uint32_t> level{root};
  const IndexPageLayout& L = FormatOfPageSize(pager.PageSize()).index;
  Page b;
  NodeReader node;
  for (int depth = 0; !level.empty(); ++depth) {
    if (depth > 32) return "tree too deep";
    std::vector<uint32_t> below;
    for (size_t i = 0; i < level.size(); ++i) {
      if (level[i] == 0 || level[i] >= pager.PageCount()) return "page number out of range";
      pager.ReadInto(level[i], b);
      const uint32_t prev = Get32(&b[L.prev]), next = Get32(&b[L.next]);
      const uint32_t wantPrev = i ? level[i - 1] : 0, wantNext = i + 1 < level.size() ? level[i + 1] : 0;
      if (prev != wantPrev || next != wantNext)
        return "page " + std::to_string(level[i]) + " links to " + std::to_string(prev) + " / " +
               std::to_string(next) + ", its level has " + std::to_string(wantPrev) + " / " +
               std::to_string(wantNext) + " beside it";
      node.Decode(b, level[i]);
      if (!node.Inner()) continue;
      for (size_t e = 0; e < node.Count(); ++e) below.push_back(node.Child(e));
      if (node.Tail()) below.push_back(node.Tail());
    }
    level = std::move(below);
  }
  return {};
}

// The global usage map is where a writer looks for free pages; the tables'
// own maps and the index trees say what holds data, and every reader goes by
// those. A writer that took the pages past the end of an inline global map
// for free pages has marked pages of tables free (the other Jet library does
// so when it slides the map's window forward). Nothing is lost, and this
// engine's next write marks them used again: a note, naming the pages.
void NoteMarkedFree(const std::string& table, const std::string& what, std::vector<uint32_t> pages,
                    CheckReport& r) {
  if (pages.empty()) return;
  std::sort(pages.begin(), pages.end());
  std::string list;
  for (size_t i = 0; i < pages.size();) {
    size_t j = i;
    while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1) ++j;
    list += (list.empty() ? "" : ", ") + std::to_string(pages[i]) + (j > i ? "-" + std::to_string(pages[j]) : "");
    i = j + 1;
  }
  r.notes.push_back(table + ": " + std::to_string(pages.size()) + " pages of the " + what +
                    " are marked free in the global usage map (" + list +
                    "); the next write through this engine marks them used");
}

void CheckTable(const Database& db, const Pager& pager, const std::set<uint32_t>& freePages, const std::string& name,
                CheckReport& r) {
  const TableDef& t = db.Table(name);
  const PageFile& file = db.File();
  auto fault = [&](const std::string& what) { r.faults.push_back(name + ": " + what); };

  std::vector<uint32_t> owned;
  try {
    owned = ReadMapPages(pager, t.ownedPages);
  } catch (const std::exception& e) {
    fault("owned-pages usage map: " + Describe(e));
  }
  std::vector<uint32_t> markedFree;
  for (uint32_t p : owned) {
    Page pg = pager.Read(p);
    if (pg[0] != kPageData) fault("usage map names page " + std::to_string(p) + ", which is not a data page");
    if (freePages.count(p)) markedFree.push_back(p);
  }
  NoteMarkedFree(name, "table", markedFree, r);

  // Rows and long values, by row pointer (the original slot of an overflow
  // row, which is what index entries name).
  std::set<uint16_t> keyColumns;
  for (const auto& ri : t.realIndexes)
    for (const auto& ic : ri.columns) keyColumns.insert(ic.number);
  std::map<uint32_t, std::vector<ado::Value>> rows;
  std::vector<uint8_t> scratch;
  for (uint32_t p : owned) {
    try {
      PageRef pr = file.Read(p);
      ByteView pv = file.View(pr);
      if (pv.data[0] != kPageData || Get32(pv.data + 4) != t.page) continue;
      uint16_t slots = SlotCount(pv);
      for (uint16_t s = 0; s < slots; ++s) {
        RowSlot sl = ReadSlot(pv, s);
        if (sl.deleted) continue;
        RowPointer here{p, static_cast<uint8_t>(s)};
        std::string where = "row " + std::to_string(p) + ":" + std::to_string(s);
        try {
          RowBytes rb;
          if (sl.lookup) {
            ByteView ptr = pv.Sub(sl.start, 4, "overflow pointer");
            rb = ReadRow(file, RowPointer::FromRaw(Get32(ptr.data)), "overflow row", true);
          } else {
            rb.page = pr;
            rb.bytes = pv.Sub(sl.start, sl.length, "row");
          }
          RowReader rr(rb.bytes, t);
          std::vector<ado::Value> vals(t.columns.size(), ado::Null{});
          for (size_t i = 0; i < t.columns.size(); ++i) {
            const ColumnDef& c = t.columns[i];
            ado::Value v = DecodeValue(file, rr, c, scratch);
            if (keyColumns.count(c.number)) vals[i] = KeyValue(v);
          }
          rows[here.Raw()] = std::move(vals);
        } catch (const std::exception& e) {
          fault(where + ": " + Describe(e));
        }
      }
    } catch (const std::exception& e) {
      fault("data page " + std::to_string(p) + ": " + Describe(e));
    }
  }
  long count = static_cast<long>(rows.size());
  r.rows += count;
  // Access itself leaves the definition's count stale at times; nothing
  // reads it (scans and counts go by the pages), so it is a note.
  if (count != static_cast<long>(t.rowCount))
    r.notes.push_back(name + ": row count says " + std::to_string(t.rowCount) + ", the pages hold " +
                      std::to_string(count) + " (the stored count is stale; the next write of the table stores " +
                      std::to_string(count) + ")");

  // Indexes, both ways and in order.
  for (size_t k = 0; k < t.realIndexes.size(); ++k) {
    const RealIndex& ri = t.realIndexes[k];
    std::string iname = std::to_string(k);
    for (const auto& l : t.indexes)
      if (l.realIndex == k) iname = l.name;
    auto ifault = [&](const std::string& what) { fault("index " + iname + ": " + what); };
    if (ri.firstPage == 0) {
      if (count) ifault("no index pages for a table with rows");
      continue;
    }
    IndexWalk w;
    try {
      w = WalkIndex(pager, ri.firstPage);
    } catch (const std::exception& e) {
      ifault(Describe(e));
      continue;
    }
    std::vector<uint32_t> indexFree;
    for (uint32_t p : w.pages)
      if (freePages.count(p)) indexFree.push_back(p);
    NoteMarkedFree(name, "index " + iname, indexFree, r);
    if (const std::string links = CheckLevelLinks(pager, ri.firstPage); !links.empty()) ifault(links);
    r.indexEntries += static_cast<long>(w.entries.size());
    std::set<uint32_t> seen;
    // Keys the engine has no weights for (characters of a sort order no
    // file has shown) are not recomputed; order, counts and rows still are.
    long notRecomputed = 0;
    std::string firstRefusal;
    std::vector<uint8_t> key;
    bool keysChecked = true;
    // Jet 3 weighs text in its own sort order, whose weights we do not
    // write; such keys are checked for order and rows only.
    if (t.format->IsJet3() && std::any_of(ri.columns.begin(), ri.columns.end(), [&](const IndexColumn& ic) {
          const ColumnDef* c = t.ColumnByNumber(ic.number);
          return c && (c->type == kColText || c->type == kColMemo);
        })) {
      keysChecked = false;
      r.notes.push_back(name + ": index " + iname + ": text keys of a Jet 3 file not recomputed");
    }
    for (size_t i = 0; i < w.entries.size(); ++i) {
      const IndexEntry& e = w.entries[i];
      RowPointer ptr{e.page, e.row};
      if (i > 0 && !(w.entries[i - 1] < e)) {
        ifault("entries out of key order at entry " + std::to_string(i));
        break;
      }
      auto it = rows.find(ptr.Raw());
      if (it == rows.end()) {
        ifault("entry " + std::to_string(i) + " names " + std::to_string(e.page) + ":" + std::to_string(e.row) +
               ", which holds no row");
        continue;
      }
      if (!seen.insert(ptr.Raw()).second) ifault("two entries for row " + std::to_string(e.page) + ":" +
                                                  std::to_string(e.row));
      if (!keysChecked) continue;
      key.clear();
      try {
        for (const auto& ic : ri.columns) {
          const ColumnDef* c = t.ColumnByNumber(ic.number);
          if (!c) throw BrenvoError(0, "missing column");
          AppendKeySegment(*c, ic.ascending, it->second[static_cast<size_t>(c - t.columns.data())], key);
        }
      } catch (const std::exception& ex) {
        if (notRecomputed++ == 0) firstRefusal = Describe(ex);
        continue;
      }
      if (key.size() != e.key.size() || std::memcmp(key.data(), e.key.data(), key.size()) != 0)
        ifault("entry " + std::to_string(i) + " has a key that is not its row's");
    }
    if (notRecomputed)
      r.notes.push_back(name + ": index " + iname + ": " + std::to_string(notRecomputed) + " of " +
                        std::to_string(w.entries.size()) +
                        " keys not recomputed, order, entry count and rows checked (" + firstRefusal + ")");
    // An index that ignores nulls has no entry for a row whose key columns
    // are all NULL.
    size_t expected = rows.size();
    if (ri.flags & kIdxFlagIgnoreNulls) {
      for (const auto& [ptr, vals] : rows) {
        bool allNull = true;
        for (const auto& ic : ri.columns) {
          const ColumnDef* c = t.ColumnByNumber(ic.number);
          if (c && !ado::IsNull(vals[static_cast<size_t>(c - t.columns.data())])) allNull = false;
        }
        if (allNull) {
          --expected;
          if (seen.count(ptr)) ifault("an entry for a NULL key in an index that ignores nulls");
        }
      }
    }
    if (seen.size() != expected)
      ifault(std::to_string(expected > seen.size() ? expected - seen.size() : 0) + " rows have no entry");
  }
}

}  // namespace

CheckReport CheckDatabase(const std::string& path, const std::string& password, bool systemTables) {
  CheckReport r;
  auto db = Database::Open(path, password);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowFileInUse(path);
  Pager pager(fd, path, db->File().PageSize(), db->Header().encryptionKey);
  std::set<uint32_t> freePages;
  try {
    for (uint32_t p : ReadMapPages(pager, RowPointer{1, 0})) freePages.insert(p);
  } catch (const std::exception& e) {
    r.faults.push_back("global usage map: " + Describe(e));
  }
  std::vector<std::string> names = db->UserTables();
  if (systemTables)
    for (const auto& e : db->Catalog())
      if (e.IsTable() && !e.IsUserTable()) names.push_back(e.name);
  for (const auto& name : names) {
    ++r.tables;
    try {
      CheckTable(*db, pager, freePages, name, r);
    } catch (const std::exception& e) {
      r.faults.push_back(name + ": " + Describe(e));
    }
  }
  return r;
}

}  // namespace brenvo::jet
