#include "db/jet/table_def.h"

#include <algorithm>

#include "db/jet/text.h"

namespace brenvo::jet {
namespace {

constexpr size_t kColumnEntry = 25;
constexpr size_t kRealIndexEntry = 12;
constexpr size_t kRealIndexDef = 52;
constexpr size_t kLogicalIndexDef = 28;
constexpr size_t kMaxIndexColumns = 10;
// Access allows 255 columns and 32 indexes; the largest definitions take a
// handful of pages. Anything longer is a loop or garbage.
constexpr size_t kMaxDefPages = 64;

std::string ReadName(ByteView b, size_t& pos) {
  uint16_t len = b.U16(pos, "name length in table definition");
  pos += 2;
  ByteView n = b.Sub(pos, len, "name in table definition");
  pos += len;
  std::string out;
  Utf16LeToUtf8(n.data, n.size, out);
  return out;
}

}  // namespace

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

const ColumnDef* TableDef::FindColumn(const std::string& name) const {
  for (const auto& c : columns)
    if (SameName(c.name, name)) return &c;
  return nullptr;
}

const ColumnDef* TableDef::ColumnByNumber(uint16_t number) const {
  for (const auto& c : columns)
    if (c.number == number) return &c;
  return nullptr;
}

TableDef ReadTableDef(const PageFile& file, uint32_t page) {
  TableDef t;
  t.page = page;
  for (uint32_t p = page; p != 0;) {
    if (t.pages.size() >= kMaxDefPages || std::find(t.pages.begin(), t.pages.end(), p) != t.pages.end())
      ThrowCorrupt("table definition page chain loops");
    PageRef pr = file.Read(p);
    ByteView v = file.View(pr);
    if (v.data[0] != kPageTableDef) ThrowCorrupt("table definition page " + std::to_string(p) + " has the wrong type");
    t.pages.push_back(p);
    if (t.raw.empty()) t.raw.assign(v.data, v.data + v.size);
    else t.raw.insert(t.raw.end(), v.data + 8, v.data + v.size);
    p = Get32(v.data + 4);
  }
  ByteView b{t.raw.data(), t.raw.size()};
  t.rowCount = b.U32(16, "row count");
  t.nextAutoNumber = b.U32(20, "AutoNumber");
  t.tableType = b.U8(40, "table type");
  t.maxColumns = b.U16(41, "column count");
  t.varColumns = b.U16(43, "variable column count");
  uint16_t numCols = b.U16(45, "column count");
  uint32_t numIdx = b.U32(47, "index count");
  uint32_t numReal = b.U32(51, "index count");
  if (numIdx > 1000 || numReal > 1000) ThrowCorrupt("index count in table definition");
  t.ownedPages = RowPointer::FromRaw(b.U32(55, "usage map"));
  t.freePages = RowPointer::FromRaw(b.U32(59, "usage map"));

  size_t pos = 63;
  std::vector<uint32_t> realRows(numReal);
  for (uint32_t i = 0; i < numReal; ++i, pos += kRealIndexEntry) realRows[i] = b.U32(pos + 4, "index entry");

  b.Need(pos, numCols * kColumnEntry, "column definitions");
  t.columns.resize(numCols);
  for (uint16_t i = 0; i < numCols; ++i, pos += kColumnEntry) {
    ColumnDef& c = t.columns[i];
    const uint8_t* e = b.data + pos;
    c.defOffset = pos;
    c.type = e[0];
    c.number = Get16(e + 5);
    c.varIndex = Get16(e + 7);
    c.precision = e[11];
    c.scale = e[12];
    c.sortLcid = Get16(e + 11);
    c.codePage = Get16(e + 13);
    c.flags = e[15];
    c.flags2 = e[16];
    c.fixedOffset = Get16(e + 21);
    c.length = Get16(e + 23);
  }
  for (auto& c : t.columns) c.name = ReadName(b, pos);

  t.realIndexes.resize(numReal);
  for (uint32_t i = 0; i < numReal; ++i, pos += kRealIndexDef) {
    b.Need(pos, kRealIndexDef, "index definition");
    RealIndex& r = t.realIndexes[i];
    const uint8_t* e = b.data + pos;
    for (size_t k = 0; k < kMaxIndexColumns; ++k) {
      uint16_t num = Get16(e + 4 + 3 * k);
      if (num == 0xFFFF) continue;
      r.columns.push_back({num, e[4 + 3 * k + 2] != 0x00});
    }
    r.usageMap = RowPointer::FromRaw(Get32(e + 34));
    r.firstPage = Get32(e + 38);
    r.flags = e[46];
    r.rowCount = realRows[i];
  }
  t.indexes.resize(numIdx);
  for (uint32_t i = 0; i < numIdx; ++i, pos += kLogicalIndexDef) {
    b.Need(pos, kLogicalIndexDef, "index definition");
    LogicalIndex& l = t.indexes[i];
    const uint8_t* e = b.data + pos;
    l.number = Get32(e + 4);
    l.realIndex = Get32(e + 8);
    l.kind = e[23];
    if (l.realIndex >= numReal) ThrowCorrupt("index refers to a missing index definition");
  }
  for (auto& l : t.indexes) l.name = ReadName(b, pos);
  std::stable_sort(t.indexes.begin(), t.indexes.end(),
                   [](const LogicalIndex& a, const LogicalIndex& b) { return a.number < b.number; });

  std::stable_sort(t.columns.begin(), t.columns.end(),
                   [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
  uint16_t ordinal = 0;
  for (auto& c : t.columns)
    if (c.IsFixed()) c.fixedOrdinal = ordinal++;
  return t;
}

}  // namespace brenvo::jet
