#include "db/jet/stored_keys.h"

#include <fcntl.h>

#include <cstring>

#include "db/jet/column_value.h"
#include "db/jet/data_page.h"
#include "db/jet/database.h"
#include "db/jet/jet_errors.h"
#include "db/jet/row.h"
#include "db/jet/write_index.h"
#include "db/jet/write_pager.h"

namespace brenvo::jet {
namespace {

bool IsKeyedText(const ColumnDef* c) { return c && c->type == kColText; }

// Value bytes after the flag of a number or date segment.
int FixedKeyBytes(uint8_t type) {
  switch (type) {
    case kColByte: return 1;
    case kColInt: return 2;
    case kColLong:
    case kColFloat: return 4;
    case kColMoney:
    case kColDouble:
    case kColDateTime: return 8;
    default: return -1;
  }
}

ado::Value KeyValue(const ado::Value& v) {
  if (auto p = std::get_if<bool>(&v)) return int64_t{*p ? 1 : 0};
  if (auto p = std::get_if<ado::DateTime>(&v)) return ado::OleFromDateTime(*p);
  if (auto p = std::get_if<float>(&v)) return static_cast<double>(*p);
  return v;
}

}  // namespace

std::string LowerAscii(std::string s) {
  for (char& ch : s)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  return s;
}

bool HasNonGeneralTextIndex(const TableDef& t) {
  for (const auto& ri : t.realIndexes)
    for (const auto& ic : ri.columns) {
      const ColumnDef* c = t.ColumnByNumber(ic.number);
      if (IsKeyedText(c) && ColumnTextOrder(*c) != TextOrder::General) return true;
    }
  return false;
}

std::string StoredKeys::MapKey(TextOrder order, bool ascending, std::string_view text) {
  std::string k;
  k.reserve(text.size() + 2);
  k += static_cast<char>(order);
  k += ascending ? 'a' : 'd';
  k.append(text);
  return k;
}

void StoredKeys::Remember(TextOrder order, bool ascending, const std::string& text, const uint8_t* seg, size_t len) {
  std::string k = MapKey(order, ascending, text);
  std::string_view v(reinterpret_cast<const char*>(seg), len);
  auto [it, added] = segments_.try_emplace(std::move(k), v);
  if (added || it->second == v) return;
  // Two segments for one text: neither can be trusted.
  if (!it->second.empty()) ++conflicts_;
  it->second.clear();
}

bool StoredKeys::Find(TextOrder order, bool ascending, std::string_view text, std::vector<uint8_t>& out) const {
  if (segments_.empty()) return false;
  auto it = segments_.find(MapKey(order, ascending, text));
  if (it == segments_.end() || it->second.empty()) return false;
  out.insert(out.end(), it->second.begin(), it->second.end());
  return true;
}

void StoredKeys::LearnTable(const Database& db, const Pager& pager, const TableDef& t, const std::string& tag,
                            const std::vector<uint32_t>* roots) {
  if (!learnt_.insert(tag).second) return;
  const PageFile& file = db.File();
  std::vector<uint8_t> scratch, expect;
  Page rowPage, movedPage;
  for (size_t k = 0; k < t.realIndexes.size(); ++k) {
    const RealIndex& ri = t.realIndexes[k];
    uint32_t root = roots ? (*roots)[k] : ri.firstPage;
    if (root == 0) continue;
    bool wanted = false, splittable = true;
    for (const auto& ic : ri.columns) {
      const ColumnDef* c = t.ColumnByNumber(ic.number);
      if (!c) splittable = false;
      else if (IsKeyedText(c)) wanted = wanted || ColumnTextOrder(*c) != TextOrder::General;
      else if (c->type != kColBool && FixedKeyBytes(c->type) < 0) splittable = false;
    }
    if (!wanted || !splittable) continue;
    NodeReader nr;
    ForEachLeaf(
        pager, root,
        [&](uint32_t pg, Page& bytes) {
          nr.Decode(bytes, pg);
          for (size_t i = 0; i < nr.Count(); ++i) {
            uint32_t ptr = nr.Ptr(i);
            pager.ReadInto(ptr >> 8, rowPage);
            ByteView pv{rowPage.data(), rowPage.size()};
            if (pv.data[0] != kPageData) ThrowCorrupt("an index entry names a page that holds no rows");
            RowSlot sl = ReadSlot(pv, static_cast<uint16_t>(ptr & 0xFF));
            if (sl.deleted && !sl.lookup) ThrowCorrupt("an index entry names a deleted row");
            ByteView rowBytes = RowThroughPager(pager, pv, sl, movedPage);
            RowReader rr(rowBytes, t);
            const uint8_t* k = nr.Key(i);
            size_t len = nr.KeyLen(i), at = 0;
            // Segments of this entry, kept until the whole key has split.
            struct Seg { const ColumnDef* c; bool asc; std::string text; size_t from, to; };
            std::vector<Seg> texts;
            bool ok = true;
            for (const auto& ic : ri.columns) {
              const ColumnDef* c = t.ColumnByNumber(ic.number);
              ado::Value v = KeyValue(DecodeValue(file, rr, *c, scratch));
              if (at >= len) { ok = false; break; }
              if (c->type == kColBool || ado::IsNull(v) || !IsKeyedText(c)) {
                expect.clear();
                AppendKeySegment(*c, ic.ascending, v, expect);
                if (at + expect.size() > len || std::memcmp(k + at, expect.data(), expect.size()) != 0) {
                  ok = false;
                  break;
                }
                at += expect.size();
                continue;
              }
              uint8_t flag = ic.ascending ? 0x7F : 0x80;
              if (k[at] != flag) { ok = false; break; }
              size_t end = at + 1;
              if (ic.ascending) {
                while (end < len && k[end] != 0x00) ++end;
                if (end >= len) { ok = false; break; }
                ++end;
              } else {
                while (end < len && k[end] != 0xFF) ++end;
                if (end + 1 >= len || k[end + 1] != 0x00) { ok = false; break; }
                end += 2;
              }
              texts.push_back({c, ic.ascending, std::get<std::string>(v), at, end});
              at = end;
            }
            if (!ok || at != len) continue;
            for (const auto& s : texts)
              Remember(ColumnTextOrder(*s.c), s.asc, s.text, k + s.from, s.to - s.from);
          }
        },
        nullptr);
  }
}

void StoredKeys::LearnFile(const std::string& path, const std::string& password,
                           const std::vector<std::string>& tables) {
  auto db = Database::Open(path, password);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowFileInUse(path);
  Pager pager(fd, path, kJet4PageSize, db->Header().encryptionKey);
  for (const auto& name : tables.empty() ? db->UserTables() : tables) {
    const TableDef& t = db->Table(name);
    if (HasNonGeneralTextIndex(t)) LearnTable(*db, pager, t, path + "\n" + LowerAscii(name));
  }
}

}  // namespace brenvo::jet
