#include "db/jet/table_def.h"

#include <algorithm>

#include "db/jet/text.h"

namespace brenvo::jet {
namespace {

constexpr size_t kMaxIndexColumns = 10;
// Access allows 255 columns and 32 indexes; the largest definitions take a
// handful of pages. Anything longer is a loop or garbage.
constexpr size_t kMaxDefPages = 64;

std::string ReadName(const PageFile& file, ByteView b, size_t& pos) {
  const size_t lenBytes = file.Format().tdef.nameLengthBytes;
  size_t len = lenBytes == 1 ? b.U8(pos, "name length in table definition")
                             : b.U16(pos, "name length in table definition");
  pos += lenBytes;
  ByteView n = b.Sub(pos, len, "name in table definition");
  pos += len;
  std::string out;
  if (const CodePage* cp = file.Text()) cp->Decode(n.data, n.size, out);
  else Utf16LeToUtf8(n.data, n.size, out);
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
  const TableDefLayout& L = file.Format().tdef;
  t.format = &file.Format();
  ByteView b{t.raw.data(), t.raw.size()};
  t.rowCount = b.U32(L.rowCount, "row count");
  t.nextAutoNumber = b.U32(L.autoNumber, "AutoNumber");
  t.tableType = b.U8(L.tableType, "table type");
  t.maxColumns = b.U16(L.maxColumns, "column count");
  t.varColumns = b.U16(L.varColumns, "variable column count");
  uint16_t numCols = b.U16(L.columns, "column count");
  uint32_t numIdx = b.U32(L.logicalIndexes, "index count");
  uint32_t numReal = b.U32(L.realIndexes, "index count");
  if (numIdx > 1000 || numReal > 1000) ThrowCorrupt("index count in table definition");
  t.ownedPages = RowPointer::FromRaw(b.U32(L.ownedPages, "usage map"));
  t.freePages = RowPointer::FromRaw(b.U32(L.freePages, "usage map"));

  size_t pos = L.realIndexStart;
  std::vector<uint32_t> realRows(numReal);
  for (uint32_t i = 0; i < numReal; ++i, pos += L.realIndexEntry)
    realRows[i] = b.U32(pos + L.realIndexRows, "index entry");

  b.Need(pos, numCols * L.columnEntry, "column definitions");
  t.columns.resize(numCols);
  for (uint16_t i = 0; i < numCols; ++i, pos += L.columnEntry) {
    ColumnDef& c = t.columns[i];
    const uint8_t* e = b.data + pos;
    c.defOffset = pos;
    c.type = e[0];
    c.number = Get16(e + L.colNumber);
    c.varIndex = Get16(e + L.colVarIndex);
    c.precision = e[L.colPrecision];
    c.scale = e[L.colScale];
    c.sortLcid = Get16(e + L.colSortLcid);
    c.codePage = Get16(e + L.colCodePage);
    c.flags = e[L.colFlags];
    c.flags2 = L.colFlags2 == kNoField ? 0 : e[L.colFlags2];
    c.fixedOffset = Get16(e + L.colFixedOffset);
    c.length = Get16(e + L.colLength);
    c.bytesPerChar = file.Text() ? 1 : 2;
  }
  for (auto& c : t.columns) c.name = ReadName(file, b, pos);

  t.realIndexes.resize(numReal);
  for (uint32_t i = 0; i < numReal; ++i, pos += L.realIndexDef) {
    b.Need(pos, L.realIndexDef, "index definition");
    RealIndex& r = t.realIndexes[i];
    const uint8_t* e = b.data + pos;
    for (size_t k = 0; k < kMaxIndexColumns; ++k) {
      const uint8_t* ic = e + L.idxColumns + 3 * k;
      uint16_t num = Get16(ic);
      if (num == 0xFFFF) continue;
      r.columns.push_back({num, ic[2] != 0x00});
    }
    r.usageMap = RowPointer::FromRaw(Get32(e + L.idxUsageMap));
    r.firstPage = Get32(e + L.idxFirstPage);
    r.flags = e[L.idxFlags];
    r.rowCount = realRows[i];
  }
  t.indexes.resize(numIdx);
  for (uint32_t i = 0; i < numIdx; ++i, pos += L.logicalIndexDef) {
    b.Need(pos, L.logicalIndexDef, "index definition");
    LogicalIndex& l = t.indexes[i];
    const uint8_t* e = b.data + pos;
    l.number = Get32(e + L.lidxNumber);
    l.realIndex = Get32(e + L.lidxReal);
    l.kind = e[L.lidxKind];
    if (l.realIndex >= numReal) ThrowCorrupt("index refers to a missing index definition");
  }
  for (auto& l : t.indexes) l.name = ReadName(file, b, pos);
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
