#include "db/jet/writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "db/jet/byte_order.h"
#include "db/jet/column_value.h"
#include "db/jet/data_page.h"
#include "db/jet/row.h"
#include "db/jet/file_lock.h"
#include "db/jet/header.h"
#include "db/jet/index_key.h"
#include "db/jet/jet_errors.h"
#include "db/jet/long_value.h"
#include "db/jet/stored_keys.h"
#include "db/jet/text.h"
#include "db/jet/write_decimal.h"
#include "db/jet/write_index.h"
#include "db/jet/write_pager.h"
#include "db/jet/write_usage_map.h"

namespace brenvo::jet {
namespace {

// Memo values up to this many stored bytes stay in the row.
constexpr size_t kInlineLongValue = 64;

[[noreturn]] void Refuse(const std::string& text) { throw BrenvoError(kErrFail, text, kJetSource); }

[[noreturn]] void RefuseTooLong() {
  Refuse("The field is too small to accept the amount of data you attempted to add.  Try inserting or pasting "
         "less data.");
}
[[noreturn]] void RefuseOverflow() { Refuse("Numeric field overflow."); }

bool ParseNumber(const std::string& s, double& out) {
  std::string t = s;
  while (!t.empty() && t.back() == ' ') t.pop_back();
  size_t b = t.find_first_not_of(' ');
  if (b == std::string::npos) return false;
  t = t.substr(b);
  const char* p = t.c_str();
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(p, &end);
  if (end == p || *end != '\0' || errno == ERANGE) return false;
  if (!std::isfinite(v)) return false;
  out = v;
  return true;
}

bool ParseDateText(const std::string& s, ado::DateTime& out) {
  ado::DateTime d{};
  int n = std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d", &d.year, &d.month, &d.day, &d.hour, &d.minute, &d.second);
  if (n != 3 && n != 6) return false;
  if (n == 3) d.hour = d.minute = d.second = 0;
  if (d.year < 100 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31 || d.hour > 23 ||
      d.minute > 59 || d.second > 59)
    return false;
  out = d;
  return true;
}

std::string NumberText(double v) {
  char buf[64];
  for (int prec = 1; prec <= 17; ++prec) {
    std::snprintf(buf, sizeof buf, "%.*g", prec, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  return buf;
}

// Access rounds half to even when a fractional number goes into an integer.
int64_t ToInteger(const ado::Value& v, int64_t lo, int64_t hi) {
  double d = 0;
  if (auto p = std::get_if<int64_t>(&v)) {
    if (*p < lo || *p > hi) RefuseOverflow();
    return *p;
  }
  if (auto p = std::get_if<bool>(&v)) return *p ? (lo < 0 ? -1 : 1) : 0;
  if (auto p = std::get_if<double>(&v)) d = *p;
  else if (auto p = std::get_if<float>(&v)) d = *p;
  else if (auto p = std::get_if<std::string>(&v)) {
    if (!ParseNumber(*p, d)) ThrowTypeMismatch();
  } else if (auto p = std::get_if<ado::Currency>(&v)) d = static_cast<double>(p->scaled) / 10000.0;
  else ThrowTypeMismatch();
  if (!std::isfinite(d)) RefuseOverflow();
  double r = std::nearbyint(d);
  if (r < static_cast<double>(lo) || r > static_cast<double>(hi)) RefuseOverflow();
  return static_cast<int64_t>(r);
}

double ToDouble(const ado::Value& v) {
  if (auto p = std::get_if<double>(&v)) return *p;
  if (auto p = std::get_if<float>(&v)) return *p;
  if (auto p = std::get_if<int64_t>(&v)) return static_cast<double>(*p);
  if (auto p = std::get_if<bool>(&v)) return *p ? -1.0 : 0.0;
  if (auto p = std::get_if<ado::Currency>(&v)) return static_cast<double>(p->scaled) / 10000.0;
  if (auto p = std::get_if<std::string>(&v)) {
    double d = 0;
    if (!ParseNumber(*p, d)) ThrowTypeMismatch();
    return d;
  }
  ThrowTypeMismatch();
}

std::string ToText(const ado::Value& v) {
  if (auto p = std::get_if<std::string>(&v)) return *p;
  if (auto p = std::get_if<int64_t>(&v)) return std::to_string(*p);
  if (auto p = std::get_if<double>(&v)) return NumberText(*p);
  if (auto p = std::get_if<float>(&v)) return NumberText(*p);
  if (auto p = std::get_if<bool>(&v)) return *p ? "True" : "False";
  if (auto p = std::get_if<ado::DateTime>(&v)) return ado::FormatDateTime(*p);
  if (auto p = std::get_if<ado::Decimal>(&v)) return p->text;
  ThrowTypeMismatch();
}

// The value in the form the column stores, as a Value the key encoder and
// the row encoder both take: int64 for integers and Yes/No, double for
// Double/Single/Date (OLE days), Currency, string, Bytes (Decimal: its 17
// stored bytes), Guid.
ado::Value Convert(const ColumnDef& c, const ado::Value& v) {
  if (ado::IsNull(v)) return v;
  switch (c.type) {
    case kColBool:
      if (auto p = std::get_if<std::string>(&v)) {
        if (SameName(*p, "true") || SameName(*p, "yes")) return int64_t{1};
        if (SameName(*p, "false") || SameName(*p, "no")) return int64_t{0};
      }
      return int64_t{ToDouble(v) != 0 ? 1 : 0};
    case kColByte: return ToInteger(v, 0, 255);
    case kColInt: return ToInteger(v, -32768, 32767);
    case kColLong: return ToInteger(v, INT32_MIN, INT32_MAX);
    case kColMoney: {
      if (auto p = std::get_if<ado::Currency>(&v)) return *p;
      double d = ToDouble(v) * 10000.0;
      if (!(std::fabs(d) < 9.2e18)) RefuseOverflow();
      return ado::Currency{static_cast<int64_t>(std::nearbyint(d))};
    }
    case kColFloat: {
      double d = ToDouble(v);
      // Too large only when it would round to infinity: the shortest text of
      // the largest Single (3.4028235e38) is itself above it as a double.
      if (std::fabs(d) >= 3.4028235677973366e38) RefuseOverflow();
      return d;
    }
    case kColDouble: return ToDouble(v);
    case kColDateTime: {
      if (auto p = std::get_if<ado::DateTime>(&v)) {
        if (p->IsZeroDate()) ThrowTypeMismatch();
        return ado::OleFromDateTime(*p);
      }
      if (auto p = std::get_if<std::string>(&v)) {
        ado::DateTime d;
        if (!ParseDateText(*p, d)) ThrowTypeMismatch();
        return ado::OleFromDateTime(d);
      }
      return ToDouble(v);
    }
    case kColText:
    case kColMemo: return ToText(v);
    case kColBinary:
    case kColOle:
      if (auto p = std::get_if<ado::Bytes>(&v)) return *p;
      if (c.type == kColOle) ThrowTypeMismatch();
      ThrowTypeMismatch();
    case kColGuid:
      if (auto p = std::get_if<ado::Guid>(&v)) return *p;
      ThrowTypeMismatch();
    case kColNumeric: {
      if (c.IsFixed() && c.length < 17) ThrowCorrupt("Decimal column '" + c.name + "' shorter than 17 bytes");
      DecimalBytes b = EncodeDecimal(v, c.precision, c.scale);
      return ado::Bytes(b.begin(), b.end());
    }
    default:
      ThrowNotCapable("writing a column of type " + std::to_string(c.type));
  }
}

bool Writable(uint8_t type) {
  switch (type) {
    case kColBool: case kColByte: case kColInt: case kColLong: case kColMoney: case kColFloat:
    case kColDouble: case kColDateTime: case kColBinary: case kColText: case kColOle: case kColMemo:
    case kColGuid: case kColNumeric:
      return true;
    default:
      return false;
  }
}

void PutFixed(const ColumnDef& c, const ado::Value& v, uint8_t* p) {
  switch (c.type) {
    case kColByte: p[0] = static_cast<uint8_t>(std::get<int64_t>(v)); break;
    case kColInt: Put16(p, static_cast<uint16_t>(std::get<int64_t>(v))); break;
    case kColLong: Put32(p, static_cast<uint32_t>(std::get<int64_t>(v))); break;
    case kColMoney: {
      uint64_t s = static_cast<uint64_t>(std::get<ado::Currency>(v).scaled);
      Put32(p, static_cast<uint32_t>(s));
      Put32(p + 4, static_cast<uint32_t>(s >> 32));
      break;
    }
    case kColFloat: {
      uint32_t bits;
      float f = static_cast<float>(std::get<double>(v));
      std::memcpy(&bits, &f, 4);
      Put32(p, bits);
      break;
    }
    case kColDouble:
    case kColDateTime: {
      uint64_t bits;
      double d = std::get<double>(v);
      std::memcpy(&bits, &d, 8);
      Put32(p, static_cast<uint32_t>(bits));
      Put32(p + 4, static_cast<uint32_t>(bits >> 32));
      break;
    }
    case kColGuid: {
      const auto& g = std::get<ado::Guid>(v).bytes;
      std::copy(g.begin(), g.end(), p);
      break;
    }
    case kColNumeric:
    case kColBinary: {
      const auto& b = std::get<ado::Bytes>(v);
      std::copy(b.begin(), b.end(), p);
      break;
    }
    case kColText: {
      // Fixed-length text is stored as plain UTF-16LE, never compressed
      // (Access does so even where the column has the compression flag).
      std::u16string u = Utf8ToUtf16(std::get<std::string>(v));
      for (size_t k = 0; k < u.size(); ++k) Put16(p + 2 * k, static_cast<uint16_t>(u[k]));
      break;
    }
    default: break;
  }
}

// The pages the tables of the file own, as their definitions and usage maps
// name them: definition pages, the pages holding the map rows, the pages in
// the tables' and indexes' maps. Damaged maps are passed by (the check
// reports them); what is found is only ever marked used.
std::vector<uint32_t> PagesInUse(const Pager& pager, const Database& db) {
  std::vector<uint32_t> out{kCatalogPage};
  auto addMap = [&](RowPointer m) {
    if (m.IsNull()) return;
    out.push_back(m.page);
    try {
      std::vector<uint32_t> p = ReadMapPages(pager, m);
      out.insert(out.end(), p.begin(), p.end());
    } catch (const std::exception&) {
    }
  };
  for (const auto& e : db.Catalog()) {
    if (!e.IsTable() || e.tableDefPage == 0) continue;
    try {
      const TableDef& t = db.Table(e.name);
      out.insert(out.end(), t.pages.begin(), t.pages.end());
      addMap(t.ownedPages);
      addMap(t.freePages);
      for (const auto& r : t.realIndexes) addMap(r.usageMap);
    } catch (const std::exception&) {
    }
  }
  return out;
}

std::string KeyName(const TableDef& t, size_t realIndex) {
  for (const auto& l : t.indexes)
    if (l.realIndex == realIndex) return l.name;
  return std::to_string(realIndex);
}

}  // namespace

namespace {

// Which keys a unique index's committed tree may hold: a Bloom filter of
// ten to twenty bits per key (under 1% false hits, each answered by a
// look-up in the tree on disk), so the unique check of a row needs no disk
// read in the common case. Built only for an index whose keys do not arrive
// in ascending order, and never above 2 MB: past some 1.6 million keys the
// false hits, and with them the look-ups, grow.
class KeyFilter {
 public:
  void Reset(uint64_t keys) {
    capacity_ = std::max<uint64_t>(keys, 16384);
    uint64_t bits = kBlockBits;
    while (bits < capacity_ * 10 && bits < kMaxBits) bits <<= 1;
    words_.assign(bits / 64, 0);
    blockMask_ = bits / kBlockBits - 1;
  }
  uint64_t Capacity() const { return capacity_; }
  // Every bit of a key lies in one 512-bit block (one cache line), chosen
  // by the hash; nine bits of a second hash pick each bit in it.
  void Add(uint64_t h) {
    uint64_t* block = &words_[(h & blockMask_) * (kBlockBits / 64)];
    uint64_t g = Mix(h);
    for (int i = 0; i < kProbes; ++i, g >>= 9) block[(g & 511) >> 6] |= uint64_t{1} << (g & 63);
  }
  bool MayHave(uint64_t h) const {
    if (words_.empty()) return false;
    const uint64_t* block = &words_[(h & blockMask_) * (kBlockBits / 64)];
    uint64_t g = Mix(h);
    for (int i = 0; i < kProbes; ++i, g >>= 9)
      if (!(block[(g & 511) >> 6] & (uint64_t{1} << (g & 63)))) return false;
    return true;
  }

 private:
  static constexpr int kProbes = 7;
  static constexpr uint64_t kBlockBits = 512;
  static constexpr uint64_t kMaxBits = uint64_t{1} << 24;
  static uint64_t Mix(uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
  }
  std::vector<uint64_t> words_;
  uint64_t blockMask_ = 0;
  uint64_t capacity_ = 0;
};

uint64_t HashKey(const uint8_t* key, size_t len) {
  return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(key), len));
}

}  // namespace

// One index of the table. Memory: the entries appended since the last
// durable point (bounded by the interval), the page list of the committed
// tree (4 bytes a page) and, for unique indexes, the key filter. The
// committed entries stay on disk: a durable point merges them, read leaf by
// leaf, with the new ones sorted.
struct TableWriter::IndexState {
  size_t real = 0;
  bool unique = false;
  bool required = false;
  bool textKeys = false;
  bool supportedSort = true;
  bool ignoreNulls = false;

  // The committed tree; root 0 when there is none or DeleteAll dropped it.
  uint32_t root = 0;
  uint64_t count = 0;
  std::string lastKey;  // its last key
  std::vector<uint32_t> committedPages;
  std::vector<uint32_t> umapPages;
  // Inside a transaction root and committedPages are its own tree; these
  // are the tree the file holds, freed by the commit.
  uint32_t baseRoot = 0;
  std::vector<uint32_t> basePages;
  KeyFilter filter;  // unique indexes: the committed keys, once filterOn
  bool filterOn = false;

  // Entries since the last durable point: keys packed in one buffer.
  struct Entry {
    uint64_t head;  // the first 8 key bytes big-endian, zeros after a short key
    uint32_t off;
    uint32_t len;
    uint32_t ptr;  // page << 8 | row
    uint32_t hash;
  };
  std::string arena;
  std::vector<Entry> pending;
  bool sorted = true;
  std::vector<uint32_t> slots;  // unique indexes: open addressing over pending, index + 1

  // The key of the row being inserted.
  std::vector<uint8_t> key;
  uint64_t keyHash = 0;

  const uint8_t* KeyOf(const Entry& e) const { return reinterpret_cast<const uint8_t*>(arena.data()) + e.off; }
  bool Less(const Entry& a, const Entry& b) const {
    // Zero padding only ties a short key with a longer one, never misorders.
    if (a.head != b.head) return a.head < b.head;
    return CompareEntries(KeyOf(a), a.len, a.ptr, KeyOf(b), b.len, b.ptr) < 0;
  }

  bool PendingHas(const uint8_t* k, size_t len, uint64_t h) const {
    if (slots.empty()) return false;
    size_t mask = slots.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
      uint32_t s = slots[i];
      if (s == 0) return false;
      const Entry& e = pending[s - 1];
      if (e.hash == static_cast<uint32_t>(h) && e.len == len && std::memcmp(KeyOf(e), k, len) == 0) return true;
    }
  }
  void SlotInsert(uint32_t idx) {
    size_t mask = slots.size() - 1;
    size_t i = pending[idx].hash & mask;
    while (slots[i] != 0) i = (i + 1) & mask;
    slots[i] = idx + 1;
  }

  bool HasKey(const Pager& pager, const uint8_t* k, size_t len, uint64_t h) {
    // Keys arriving in ascending order (an AutoNumber, an ordered copy) are
    // past every pending key and past the tree's last key: no look-up.
    bool pastPending =
        pending.empty() || (sorted && CompareKeys(k, len, KeyOf(pending.back()), pending.back().len) > 0);
    if (!pastPending && PendingHas(k, len, h)) return true;
    if (root == 0 || count == 0) return false;
    if (CompareKeys(k, len, reinterpret_cast<const uint8_t*>(lastKey.data()), lastKey.size()) > 0) return false;
    if (!filterOn) {
      // The first key that is not past the end: every committed key goes
      // into the filter once, one leaf at a time.
      filter.Reset(2 * count);
      NodeReader nr;
      ForEachLeaf(
          pager, root,
          [&](uint32_t pg, Page& bytes) {
            nr.Decode(bytes, pg);
            for (size_t i = 0; i < nr.Count(); ++i) filter.Add(HashKey(nr.Key(i), nr.KeyLen(i)));
          },
          nullptr);
      filterOn = true;
    }
    if (!filter.MayHave(h)) return false;
    return IndexHasKey(pager, root, k, len);
  }

  void Append(uint32_t ptr) {
    uint64_t head = 0;
    for (size_t i = 0; i < 8; ++i) head = (head << 8) | (i < key.size() ? key[i] : 0);
    Entry e{head, static_cast<uint32_t>(arena.size()), static_cast<uint32_t>(key.size()), ptr,
            static_cast<uint32_t>(keyHash)};
    arena.append(reinterpret_cast<const char*>(key.data()), key.size());
    if (sorted && !pending.empty() && Less(e, pending.back())) sorted = false;
    pending.push_back(e);
    if (!unique) return;
    if (pending.size() * 2 > slots.size()) {
      slots.assign(std::max<size_t>(1024, slots.size() * 2), 0);
      for (uint32_t i = 0; i < pending.size(); ++i) SlotInsert(i);
    } else {
      SlotInsert(static_cast<uint32_t>(pending.size() - 1));
    }
  }
  // No committed tree any more (emptied, or about to be built anew).
  void DropTree() {
    root = 0;
    count = 0;
    lastKey.clear();
    filter = KeyFilter{};
    filterOn = false;
  }
  // release: also the buffers, so that a table whose copy is done keeps
  // nothing of its last interval while the next tables are copied (within
  // a copy they are kept: growing them anew each interval scatters the heap).
  void ClearPending(bool release) {
    arena.clear();
    pending.clear();
    std::fill(slots.begin(), slots.end(), 0);
    if (release) {
      std::string().swap(arena);
      std::vector<Entry>().swap(pending);
      std::vector<uint32_t>().swap(slots);
    }
    sorted = true;
  }
};

struct TableWriter::ColumnMap {
  uint16_t column = 0;
  size_t ownedOffset = 0;  // in the joined definition
  size_t freeOffset = 0;
  std::vector<uint32_t> pages;
};

struct TableWriter::Builders {
  RowPageBuilder data;
  RowPageBuilder lval;
  Builders(Pager& p, uint32_t owner, uint32_t lastDataPage) : data(p, owner, false), lval(p, owner, true) {
    data.KeepOrderAbove(lastDataPage);
  }
};

TableWriter::TableWriter(Pager& pager, const Database& db, TableDef def, StoredKeys* keys, std::string keyTag)
    : pager_(pager), db_(db), def_(std::move(def)), keys_(keys), keyTag_(std::move(keyTag)) {
  name_ = "page " + std::to_string(def_.page);
  for (const auto& e : db_.Catalog())
    if (e.IsTable() && e.tableDefPage == def_.page) name_ = e.name;
  Load();
  builders_ = std::make_unique<Builders>(pager_, def_.page, LastDataPage());
}

TableWriter::~TableWriter() = default;

uint32_t TableWriter::LastDataPage() const {
  return dataPages_.empty() ? 0 : *std::max_element(dataPages_.begin(), dataPages_.end());
}

void TableWriter::Load() {
  for (uint32_t p : def_.pages) defPages_.push_back(pager_.Read(p));
  rowCount_ = def_.rowCount;
  autoNumber_ = def_.nextAutoNumber;
  ByteView b{def_.raw.data(), def_.raw.size()};

  // Walk the definition again to find where the parts the reader skips lie.
  size_t pos = 63 + 12 * def_.realIndexes.size() + 25 * def_.columns.size();
  for (size_t i = 0; i < def_.columns.size(); ++i) pos += 2 + b.U16(pos, "column name");
  realIndexDefStart_ = pos;
  pos += 52 * def_.realIndexes.size() + 28 * def_.indexes.size();
  for (size_t i = 0; i < def_.indexes.size(); ++i) pos += 2 + b.U16(pos, "index name");
  // Then, per long-value column: column number, owned-pages map, free-space
  // map; 0xFFFF ends the list.
  while (pos + 2 <= b.size) {
    uint16_t col = b.U16(pos, "column map");
    if (col == 0xFFFF || pos + 10 > b.size) break;
    ColumnMap m;
    m.column = col;
    m.ownedOffset = pos + 2;
    m.freeOffset = pos + 6;
    m.pages = ReadMapPages(pager_, RowPointer::FromRaw(b.U32(pos + 2, "column map")));
    columnMaps_.push_back(std::move(m));
    pos += 10;
  }

  // The rows are counted on the pages: Access leaves the definition's count
  // stale at times (2,305 said, 1,004 held), and the count the next durable
  // point stores must be the true one.
  uint32_t liveRows = 0;
  for (uint32_t p : ReadMapPages(pager_, def_.ownedPages)) {
    Page pg = pager_.Read(p);
    if (pg[0] != kPageData) continue;
    if (Get32(&pg[4]) == def_.page) {
      dataPages_.push_back(p);
      ByteView pv{pg.data(), pg.size()};
      for (uint16_t i = 0, n = SlotCount(pv); i < n; ++i)
        if (!(pv.U16(kDataPageHeader + 2u * i, "row slot") & kSlotDeleted)) ++liveRows;
    } else if (std::memcmp(&pg[4], "LVAL", 4) == 0) {
      lvalPages_.push_back(p);
    }
  }
  rowCount_ = liveRows;

  for (size_t i = 0; i < def_.realIndexes.size(); ++i) {
    const RealIndex& r = def_.realIndexes[i];
    IndexState s;
    s.real = i;
    s.unique = r.flags & kIdxFlagUnique;
    s.required = r.flags & kIdxFlagRequired;
    s.ignoreNulls = r.flags & kIdxFlagIgnoreNulls;
    for (const auto& l : def_.indexes)
      if (l.realIndex == i && l.kind == kIdxKindPrimary) s.required = s.unique = true;
    for (const auto& ic : r.columns) {
      const ColumnDef* c = def_.ColumnByNumber(ic.number);
      if (c && (c->type == kColText || c->type == kColMemo)) {
        s.textKeys = true;
        if (!SortOrderSupported(c->sortLcid, static_cast<uint8_t>(c->codePage & 0xFF))) s.supportedSort = false;
      }
    }
    if (s.textKeys && !SortOrderSupported(db_.Header().sortLcid, db_.Header().sortVersion)) s.supportedSort = false;
    if (r.firstPage != 0) {
      // One pass over the committed tree: its pages, its entry count and
      // its last key.
      s.root = r.firstPage;
      NodeReader nr;
      ForEachLeaf(
          pager_, s.root,
          [&](uint32_t pg, Page& bytes) {
            nr.Decode(bytes, pg);
            if (nr.Count() == 0) return;
            s.count += nr.Count();
            size_t last = nr.Count() - 1;
            s.lastKey.assign(reinterpret_cast<const char*>(nr.Key(last)), nr.KeyLen(last));
          },
          &s.committedPages);
    }
    indexes_.push_back(std::move(s));
  }
}

void TableWriter::CheckWritable(bool forInsert) const {
  if (failed_)
    Refuse("The table cannot be written after an earlier write failure; close and reopen the database.");
  if (!forInsert) return;
  for (const auto& c : def_.columns)
    if (!Writable(c.type)) ThrowNotCapable("writing a column of type " + std::to_string(c.type) + " ('" + c.name + "')");
  // Decimal keys are not written: no fixture holds one to measure the
  // encoding against (Access 2000-2003 sorted Decimal indexes wrongly).
  for (const auto& r : def_.realIndexes)
    for (const auto& ic : r.columns)
      if (const ColumnDef* c = def_.ColumnByNumber(ic.number); c && c->type == kColNumeric)
        ThrowNotCapable("writing into an index over the Decimal column '" + c->name + "'");
  for (const auto& s : indexes_)
    if (!s.supportedSort)
      ThrowNotCapable("writing into an index ('" + KeyName(def_, s.real) +
                      "') whose text sort order is not the General sort order");
}

void TableWriter::PutRaw8(size_t o, uint8_t v) {
  size_t ps = pager_.PageSize();
  size_t k = 0, off = o;
  if (o >= ps) {
    k = 1 + (o - ps) / (ps - 8);
    off = 8 + (o - ps) % (ps - 8);
  }
  if (k >= defPages_.size()) ThrowCorrupt("table definition offset beyond its pages");
  defPages_[k][off] = v;
  def_.raw[o] = v;
}

void TableWriter::PutRaw32(size_t o, uint32_t v) {
  for (int i = 0; i < 4; ++i) PutRaw8(o + i, static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> TableWriter::WriteLongValue(const std::vector<uint8_t>& bytes, uint16_t column) {
  std::vector<uint8_t> field(kLvalHeader, 0);
  if (bytes.size() > 0xFFFFFF) RefuseTooLong();
  Put24(field.data(), static_cast<uint32_t>(bytes.size()));
  if (bytes.size() <= kInlineLongValue) {
    field[3] = kLvalInline;
    field.insert(field.end(), bytes.begin(), bytes.end());
    return field;
  }
  RowPageBuilder& lv = builders_->lval;
  size_t before = lv.Pages().size();
  RowPointer first;
  if (bytes.size() <= lv.MaxRow()) {
    field[3] = kLvalSingle;
    first = lv.Add(bytes);
  } else {
    // A chain: each piece starts with the pointer to the next. Written from
    // the last piece back, so every piece knows its successor.
    field[3] = kLvalChain;
    size_t piece = lv.MaxRow() - 4;
    size_t pieces = (bytes.size() + piece - 1) / piece;
    RowPointer next;
    for (size_t i = pieces; i-- > 0;) {
      size_t start = i * piece, len = std::min(piece, bytes.size() - start);
      std::vector<uint8_t> row(4 + len);
      Put32(row.data(), next.Raw());
      std::copy(bytes.begin() + static_cast<long>(start), bytes.begin() + static_cast<long>(start + len),
                row.begin() + 4);
      next = lv.Add(row);
    }
    first = next;
  }
  Put32(field.data() + 4, first.Raw());
  // New long-value pages belong to the column's map (or the table's).
  const auto& pages = lv.Pages();
  for (size_t i = before; i < pages.size(); ++i) {
    bool placed = false;
    for (auto& m : columnMaps_)
      if (m.column == column) {
        m.pages.push_back(pages[i]);
        placed = true;
      }
    if (!placed) lvalPages_.push_back(pages[i]);
  }
  return field;
}

void TableWriter::Insert(const std::vector<std::optional<ado::Value>>& values) {
  JoinTransaction();
  CheckWritable(true);
  const auto& cols = def_.columns;
  if (values.size() > cols.size()) Refuse("More values than the table has columns.");

  // 1. Convert every value; nothing is written before all are good.
  std::vector<ado::Value> stored(cols.size(), ado::Null{});
  textBytes_.resize(cols.size());
  uint32_t newAuto = autoNumber_;
  for (size_t i = 0; i < cols.size(); ++i) {
    const ColumnDef& c = cols[i];
    bool given = i < values.size() && values[i] && !ado::IsNull(*values[i]);
    if (c.IsAutoNumber() && (c.flags & kColFlagAutoLong) && c.type == kColLong) {
      if (!given) {
        if (newAuto == static_cast<uint32_t>(INT32_MAX)) RefuseOverflow();
        stored[i] = static_cast<int64_t>(++newAuto);
        continue;
      }
    }
    if (!given) continue;
    stored[i] = Convert(c, *values[i]);
    if (c.IsAutoNumber() && c.type == kColLong) {
      int64_t v = std::get<int64_t>(stored[i]);
      if (v > 0 && static_cast<uint32_t>(v) > newAuto) newAuto = static_cast<uint32_t>(v);
    }
    if (c.type == kColText) {
      const std::u16string u = Utf8ToUtf16(std::get<std::string>(stored[i]));
      if (u.size() * 2 > c.length) RefuseTooLong();
      // Encoded once here, stored below.
      if (!c.IsFixed()) textBytes_[i] = EncodeJetText(std::u16string_view(u), c.IsCompressed());
      // A fixed-length Text column holds exactly its size; the files show
      // full values only, so a shorter one is refused rather than padded
      // with a guessed character.
      if (c.IsFixed() && u.size() * 2 != c.length)
        Refuse("The fixed-length text column '" + c.name + "' takes exactly " + std::to_string(c.length / 2) +
               " characters.");
    }
    if (c.type == kColBinary && std::get<ado::Bytes>(stored[i]).size() > c.length) RefuseTooLong();
    if (c.type == kColBinary && c.IsFixed() && std::get<ado::Bytes>(stored[i]).size() != c.length)
      Refuse("The fixed-length binary column '" + c.name + "' takes exactly " + std::to_string(c.length) +
             " bytes.");
  }

  // 2. Index keys and the checks on them.
  std::vector<bool> skip(indexes_.size(), false);
  for (size_t k = 0; k < indexes_.size(); ++k) {
    IndexState& s = indexes_[k];
    std::vector<uint8_t>& key = s.key;
    key.clear();
    bool anyNull = false, allNull = true;
    for (const auto& ic : def_.realIndexes[s.real].columns) {
      const ColumnDef* c = def_.ColumnByNumber(ic.number);
      if (!c) ThrowCorrupt("index names a missing column");
      size_t pos = static_cast<size_t>(c - cols.data());
      if (ado::IsNull(stored[pos])) {
        if (c->type != kColBool) {
          anyNull = true;
          if (s.required) Refuse("Index or primary key cannot contain a Null value.");
        }
      } else {
        allNull = false;
      }
      AppendKeySegment(*c, ic.ascending, stored[pos], key, keys_);
    }
    if (key.size() > MaxIndexKeyBytes(pager_.PageSize())) Refuse("An index key is too long for an index page.");
    if (s.ignoreNulls && allNull) skip[k] = true;
    s.keyHash = s.unique ? HashKey(key.data(), key.size()) : 0;
    if (s.unique && !anyNull && s.HasKey(pager_, key.data(), key.size(), s.keyHash))
      Refuse("The changes you requested to the table were not successful because they would create duplicate "
             "values in the index, primary key, or relationship.  Change the data in the field or fields that "
             "contain duplicate data, remove the index, or redefine the index to permit duplicate entries and "
             "try again.");
  }

  // 3. The row: fixed area, variable data, offsets backwards, null mask.
  bool tooLarge = false;
  try {
    uint16_t ncols = def_.maxColumns;
    for (const auto& c : cols) ncols = std::max<uint16_t>(ncols, static_cast<uint16_t>(c.number + 1));
    size_t fixedLen = 0;
    int varCount = 0;
    for (const auto& c : cols) {
      if (c.IsFixed() && c.type != kColBool) fixedLen = std::max<size_t>(fixedLen, c.fixedOffset + c.length);
      if (!c.IsFixed()) varCount = std::max(varCount, c.varIndex + 1);
    }
    std::vector<uint8_t> row(2 + fixedLen, 0);
    Put16(row.data(), ncols);
    std::vector<uint8_t> mask((ncols + 7) / 8, 0);
    std::vector<std::vector<uint8_t>> var(static_cast<size_t>(varCount));
    for (size_t i = 0; i < cols.size(); ++i) {
      const ColumnDef& c = cols[i];
      const ado::Value& v = stored[i];
      if (c.type == kColBool) {
        if (!ado::IsNull(v) && std::get<int64_t>(v) != 0) mask[c.number / 8] |= 1u << (c.number % 8);
        continue;
      }
      if (ado::IsNull(v)) continue;
      mask[c.number / 8] |= static_cast<uint8_t>(1u << (c.number % 8));
      if (c.IsFixed()) {
        PutFixed(c, v, row.data() + 2 + c.fixedOffset);
        continue;
      }
      std::vector<uint8_t> bytes;
      if (c.type == kColText) bytes = std::move(textBytes_[i]);
      else if (c.type == kColMemo)
        bytes = WriteLongValue(EncodeJetText(std::get<std::string>(v), c.IsCompressed()), c.number);
      else if (c.type == kColOle) bytes = WriteLongValue(std::get<ado::Bytes>(v), c.number);
      else bytes = std::get<ado::Bytes>(v);
      var[c.varIndex] = std::move(bytes);
    }
    // A table without variable-length columns stores no offsets and no
    // count of them (row.h).
    if (def_.varColumns != 0) {
      std::vector<uint16_t> offsets;
      for (auto& v : var) {
        offsets.push_back(static_cast<uint16_t>(row.size()));
        row.insert(row.end(), v.begin(), v.end());
      }
      offsets.push_back(static_cast<uint16_t>(row.size()));
      for (size_t k = offsets.size(); k-- > 0;) {
        row.push_back(static_cast<uint8_t>(offsets[k]));
        row.push_back(static_cast<uint8_t>(offsets[k] >> 8));
      }
      row.push_back(static_cast<uint8_t>(varCount));
      row.push_back(static_cast<uint8_t>(varCount >> 8));
    } else if (varCount != 0) {
      ThrowCorrupt("table definition counts no variable-length column but has one");
    }
    row.insert(row.end(), mask.begin(), mask.end());
    if (row.size() > builders_->data.MaxRow()) {
      tooLarge = true;
    } else {
    RowPageBuilder& data = builders_->data;
    size_t before = data.Pages().size();
    RowPointer at = data.Add(row);
    if (data.Pages().size() > before) dataPages_.push_back(data.Pages().back());

    for (size_t k = 0; k < indexes_.size(); ++k)
      if (!skip[k]) indexes_[k].Append((at.page << 8) | at.row);
    }
  } catch (...) {
    failed_ = true;
    throw;
  }
  if (tooLarge) Refuse("Record is too large.");
  autoNumber_ = newAuto;
  ++rowCount_;
  dirty_ = true;
  ++sinceDurable_;
  if (InTransaction() ? PrivateFlushDue() : sinceDurable_ >= JetWriter::kDurableRows) CommitPoint(true);
}

// Inside a transaction an interval is no durable point (nothing is the
// file's before the commit), only the bound on the entries held in memory;
// and every interval's merge reads the table's whole tree again. So the
// interval is longer there, as long as the entries stay under
// kPrivatePendingBytes.
bool TableWriter::PrivateFlushDue() const {
  constexpr uint32_t kPrivateRows = 4 * JetWriter::kDurableRows;
  constexpr size_t kPrivatePendingBytes = size_t{16} << 20;
  if (sinceDurable_ >= kPrivateRows) return true;
  if (sinceDurable_ < JetWriter::kDurableRows) return false;
  size_t bytes = 0;
  for (const auto& s : indexes_)
    bytes += s.arena.size() + s.pending.size() * sizeof(IndexState::Entry) + s.slots.size() * sizeof(uint32_t);
  return bytes >= kPrivatePendingBytes;
}

void TableWriter::DeleteAll() {
  JoinTransaction();
  CheckWritable(false);
  // The keys Access gave the rows are what new rows with the same values
  // need; learnt from the committed trees before they go (rows this writer
  // added since are no one's keys but ours).
  if (keys_ && HasNonGeneralTextIndex(def_)) {
    std::vector<uint32_t> roots(def_.realIndexes.size(), 0);
    for (const auto& s : indexes_) roots[s.real] = s.root;
    keys_->LearnTable(db_, pager_, def_, keyTag_, &roots);
  }
  bool txn = InTransaction();
  for (uint32_t p : dataPages_) releaseAtCommit_.push_back(p);
  for (uint32_t p : lvalPages_) releaseAtCommit_.push_back(p);
  for (auto& m : columnMaps_) {
    releaseAtCommit_.insert(releaseAtCommit_.end(), m.pages.begin(), m.pages.end());
    m.pages.clear();
  }
  dataPages_.clear();
  lvalPages_.clear();
  // The committed trees' pages are released by the durable point below.
  // Inside a transaction that point is the commit, which frees the file's
  // trees (basePages); a tree the transaction wrote itself is free now.
  for (auto& s : indexes_) {
    if (txn) {
      if (s.root != s.baseRoot)
        for (uint32_t p : s.committedPages) pager_.Unallocate(p);
      s.committedPages.clear();
    }
    s.ClearPending(true);
    s.DropTree();
  }
  rowCount_ = 0;
  dirty_ = true;
  if (!txn) Commit();
}

struct TableWriter::NewTree {
  uint32_t root = 0;
  uint64_t count = 0;
  std::string lastKey;
  std::vector<uint32_t> pages;
  bool kept = false;                   // the committed tree, unchanged
  std::optional<KeyFilter> filter;     // rebuilt when the old one is full
};

// The index's new tree: the committed leaves, read one at a time in key
// order, merged with the pending entries sorted. A committed leaf that no
// pending entry falls into is taken over whole (only its neighbour links
// change), so keys that arrive in ascending order cost a page copy per old
// leaf, not a re-encoding of every entry. The old pages are not touched:
// until the definition names the new root, the committed tree is whole.
TableWriter::NewTree TableWriter::MergeIndex(IndexState& s) {
  NewTree out;
  auto& pend = s.pending;
  if (!s.sorted) std::sort(pend.begin(), pend.end(), [&](const auto& a, const auto& b) { return s.Less(a, b); });
  uint64_t total = s.count + pend.size();
  if (s.filterOn && total > s.filter.Capacity()) {
    // The old filter goes first (no row is checked during the merge), so
    // the two never take memory at once.
    s.filter = KeyFilter{};
    s.filterOn = false;
    out.filter.emplace();
    out.filter->Reset(2 * total);
  }
  IndexTreeBuilder b(pager_, def_.page);
  size_t pi = 0, n = pend.size();
  auto addPending = [&](const IndexState::Entry& e) {
    b.Add(s.KeyOf(e), e.len, e.ptr);
    if (out.filter) out.filter->Add(HashKey(s.KeyOf(e), e.len));
  };
  if (s.root != 0) {
    NodeReader nr;
    ForEachLeaf(
        pager_, s.root,
        [&](uint32_t pg, Page& bytes) {
          nr.Decode(bytes, pg);
          size_t c = nr.Count();
          if (c == 0) return;
          if (out.filter)
            for (size_t i = 0; i < c; ++i) out.filter->Add(HashKey(nr.Key(i), nr.KeyLen(i)));
          auto before = [&](size_t i) {
            const auto& e = pend[pi];
            return CompareEntries(s.KeyOf(e), e.len, e.ptr, nr.Key(i), nr.KeyLen(i), nr.Ptr(i)) < 0;
          };
          bool untouched = pi == n || !before(c - 1);
          // The last leaf is refilled when entries follow it, so that appends
          // do not leave a half-empty page behind at every durable point.
          bool lastWithMore = pi < n && nr.Next() == 0;
          if (untouched && !lastWithMore && b.CanTakeLeaf()) {
            b.TakeLeaf(std::move(bytes), nr);
            return;
          }
          // Runs of old entries between two new ones go in together; the
          // run's end is found by bisecting the leaf.
          size_t i = 0;
          while (i < c) {
            size_t lo = i, hi = c;
            if (pi < n) {
              while (lo < hi) {
                size_t mid = lo + (hi - lo) / 2;
                if (before(mid)) hi = mid;
                else lo = mid + 1;
              }
            }
            b.AddRun(nr, i, hi);
            i = hi;
            while (i < c && pi < n && before(i)) addPending(pend[pi++]);
          }
        },
        nullptr);
  }
  while (pi < n) addPending(pend[pi++]);
  out.root = b.Finish();
  out.count = b.Count();
  out.lastKey = b.LastKey();
  out.pages = b.Pages();
  return out;
}

void TableWriter::AdoptTree(IndexState& s, NewTree& t, bool moreToCome) {
  if (t.filter) {
    s.filter = std::move(*t.filter);
    s.filterOn = true;
  } else if (s.filterOn) {
    for (const auto& e : s.pending) s.filter.Add(HashKey(s.KeyOf(e), e.len));
  }
  s.root = t.root;
  s.count = t.count;
  s.lastKey = std::move(t.lastKey);
  s.committedPages = std::move(t.pages);
  s.ClearPending(!moreToCome);
}

void TableWriter::ResortGeneral(bool dryRun) {
  CheckWritable(false);
  if (InTransaction()) Refuse("A table cannot be re-sorted inside a transaction.");
  Commit();
  std::vector<bool> rebuild(indexes_.size(), false);
  std::vector<uint16_t> keyColumns;
  for (size_t k = 0; k < indexes_.size(); ++k)
    for (const auto& ic : def_.realIndexes[indexes_[k].real].columns) {
      const ColumnDef* c = def_.ColumnByNumber(ic.number);
      if (!c) ThrowCorrupt("index names a missing column");
      keyColumns.push_back(ic.number);
      if (c->type == kColText || c->type == kColMemo) rebuild[k] = true;
    }
  // The keys go by the General order from here on.
  TableDef general = def_;
  for (auto& c : general.columns)
    if (c.type == kColText || c.type == kColMemo) c.sortLcid = kSortGeneral;

  if (!dryRun)
    for (size_t k = 0; k < indexes_.size(); ++k) {
      if (!rebuild[k]) continue;
      IndexState& s = indexes_[k];
      s.ClearPending(false);
      s.DropTree();
    }
  // Every row of the table, in page and slot order; a moved row is keyed
  // at its original slot, which is what index entries name.
  const PageFile& file = db_.File();
  std::vector<ado::Value> vals(def_.columns.size(), ado::Null{});
  std::vector<uint8_t> scratch;
  Page pg, moved;
  std::vector<uint32_t> pages = dataPages_;
  std::sort(pages.begin(), pages.end());
  for (uint32_t p : pages) {
    pager_.ReadInto(p, pg);
    ByteView pv{pg.data(), pg.size()};
    if (pv.data[0] != kPageData || Get32(pv.data + 4) != def_.page) continue;
    uint16_t slots = SlotCount(pv);
    for (uint16_t r = 0; r < slots; ++r) {
      RowSlot sl = ReadSlot(pv, r);
      if (sl.deleted) continue;
      ByteView row = RowThroughPager(pager_, pv, sl, moved);
      RowReader rr(row, def_);
      for (uint16_t n : keyColumns) {
        const ColumnDef* c = def_.ColumnByNumber(n);
        ado::Value v = DecodeValue(file, rr, *c, scratch);
        if (auto b = std::get_if<bool>(&v)) v = int64_t{*b ? 1 : 0};
        else if (auto d = std::get_if<ado::DateTime>(&v)) v = ado::OleFromDateTime(*d);
        else if (auto f = std::get_if<float>(&v)) v = static_cast<double>(*f);
        vals[static_cast<size_t>(c - def_.columns.data())] = std::move(v);
      }
      for (size_t k = 0; k < indexes_.size(); ++k) {
        if (!rebuild[k]) continue;
        IndexState& s = indexes_[k];
        s.key.clear();
        bool allNull = true;
        for (const auto& ic : def_.realIndexes[s.real].columns) {
          const ColumnDef* c = general.ColumnByNumber(ic.number);
          const ado::Value& v = vals[static_cast<size_t>(c - general.columns.data())];
          if (!ado::IsNull(v) && c->type != kColBool) allNull = false;
          AppendKeySegment(*c, ic.ascending, v, s.key);
        }
        if (s.key.size() > MaxIndexKeyBytes(pager_.PageSize()))
          Refuse("An index key is too long for an index page.");
        if (dryRun || (s.ignoreNulls && allNull)) continue;
        s.keyHash = s.unique ? HashKey(s.key.data(), s.key.size()) : 0;
        s.Append((p << 8) | r);
      }
    }
  }
  if (dryRun) return;
  for (size_t i = 0; i < def_.columns.size(); ++i) {
    ColumnDef& c = def_.columns[i];
    if (c.type != kColText && c.type != kColMemo) continue;
    PutRaw8(c.defOffset + 11, static_cast<uint8_t>(kSortGeneral));
    PutRaw8(c.defOffset + 12, static_cast<uint8_t>(kSortGeneral >> 8));
    c.sortLcid = kSortGeneral;
  }
  for (auto& s : indexes_) s.supportedSort = true;
  dirty_ = true;
  CommitPoint(false);
}

void TableWriter::Commit() { CommitPoint(false); }

void TableWriter::JoinTransaction() {
  if (!txn_ || !txn_->open || txn_->table == this) return;
  if (txn_->table)
    Refuse("A transaction changes one table: '" + txn_->table->Name() +
           "' is changed in the open one. Commit or roll it back before changing '" + name_ + "'.");
  CheckWritable(false);
  // BeginTransaction committed every table: what is in memory now is what
  // the file holds.
  txn_->table = this;
  txnDefPages_ = defPages_;
  txnMapPages_ = ourMapPages_;
  for (auto& s : indexes_) {
    s.baseRoot = s.root;
    s.basePages = s.committedPages;
  }
  defTouched_ = false;
  globalMapTouched_ = false;
  txnCommitted_ = false;
  pager_.BeginPrivate();
}

void TableWriter::FlushPrivate() {
  try {
    builders_->data.Flush();
    builders_->lval.Flush();
    builders_ = std::make_unique<Builders>(pager_, def_.page, LastDataPage());
    for (auto& s : indexes_) {
      if (s.pending.empty()) continue;
      NewTree t = MergeIndex(s);
      // The tree replaced was the transaction's own, reached by nothing the
      // file holds: its pages are free at once.
      if (s.root != s.baseRoot)
        for (uint32_t p : s.committedPages) pager_.Unallocate(p);
      AdoptTree(s, t, true);
    }
  } catch (...) {
    failed_ = true;
    throw;
  }
  sinceDurable_ = 0;
}

void TableWriter::CommitTransaction() {
  txnCommitted_ = false;
  CommitPoint(false, true);
  txnCommitted_ = true;
}

void TableWriter::RollbackTransaction(const Database& reader) {
  if (defTouched_) {
    // The failed commit may have reached the definition: the old one goes
    // back, synced, before anything else trusts the file.
    failed_ = true;
    for (size_t k = txnDefPages_.size(); k-- > 1;) pager_.Write(def_.pages[k], txnDefPages_[k]);
    pager_.Write(def_.pages[0], txnDefPages_[0]);
    pager_.Sync();
    defTouched_ = false;
  }
  std::vector<uint32_t> dropped = pager_.DropPrivate();
  if (globalMapTouched_) {
    // The failed commit marked the transaction's pages used; none is.
    globalMapTouched_ = false;
    failed_ = true;
    UpdateGlobalMap(pager_, {}, dropped);
    pager_.Sync();
  }
  builders_.reset();
  defPages_.clear();
  columnMaps_.clear();
  indexes_.clear();
  dataPages_.clear();
  lvalPages_.clear();
  releaseAtCommit_.clear();
  def_ = ReadTableDef(reader.File(), def_.page);
  Load();
  builders_ = std::make_unique<Builders>(pager_, def_.page, LastDataPage());
  ourMapPages_ = std::move(txnMapPages_);
  txnMapPages_.clear();
  txnDefPages_.clear();
  sinceDurable_ = 0;
  dirty_ = false;
  failed_ = false;
}

void TableWriter::CommitPoint(bool moreToCome, bool endTransaction) {
  if (!dirty_) return;
  if (failed_) CheckWritable(false);
  bool txn = InTransaction();
  if (txn && !endTransaction) {
    FlushPrivate();
    return;
  }
  try {
    // Rows and long values already on their pages; the pages being filled
    // are closed, since after this point they are part of the file.
    builders_->data.Flush();
    builders_->lval.Flush();
    builders_ = std::make_unique<Builders>(pager_, def_.page, LastDataPage());

    std::vector<uint32_t> newPages;
    std::vector<NewTree> trees(indexes_.size());
    for (size_t k = 0; k < indexes_.size(); ++k) {
      IndexState& s = indexes_[k];
      NewTree& t = trees[k];
      if (s.root != 0 && s.pending.empty()) {
        // Nothing new: the committed tree stays as it is.
        t.root = s.root;
        t.count = s.count;
        t.lastKey = s.lastKey;
        t.pages = s.committedPages;
        t.kept = true;
      } else {
        t = MergeIndex(s);
      }
      std::sort(t.pages.begin(), t.pages.end());
      s.umapPages = t.pages;
      // A tree kept from a durable point inside a transaction is not marked
      // used yet: every tree goes into the map again.
      newPages.insert(newPages.end(), t.pages.begin(), t.pages.end());
    }

    // Usage maps on a page of their own.
    RowPageBuilder maps(pager_, 0, false);
    std::vector<uint32_t> bitmapPages;
    auto addMap = [&](std::vector<uint32_t> pages) {
      std::sort(pages.begin(), pages.end());
      pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
      return maps.Add(EncodeMap(pager_, pages, bitmapPages));
    };
    std::vector<uint32_t> owned = dataPages_;
    owned.insert(owned.end(), lvalPages_.begin(), lvalPages_.end());
    RowPointer ownedMap = addMap(owned);
    RowPointer freeMap = addMap({});
    std::vector<RowPointer> indexMaps;
    for (auto& s : indexes_) indexMaps.push_back(addMap(s.umapPages));
    std::vector<std::pair<RowPointer, RowPointer>> colMaps;
    for (auto& m : columnMaps_) colMaps.emplace_back(addMap(m.pages), addMap({}));
    maps.Flush();

    std::vector<uint32_t> used = newPages;
    used.insert(used.end(), maps.Pages().begin(), maps.Pages().end());
    used.insert(used.end(), bitmapPages.begin(), bitmapPages.end());
    used.insert(used.end(), dataPages_.begin(), dataPages_.end());
    used.insert(used.end(), lvalPages_.begin(), lvalPages_.end());
    for (auto& m : columnMaps_) used.insert(used.end(), m.pages.begin(), m.pages.end());
    std::vector<uint32_t> freed(pager_.ReusablePages().begin(), pager_.ReusablePages().end());
    if (txn) globalMapTouched_ = true;
    UpdateGlobalMap(pager_, used, freed);
    pager_.Sync();

    // The durable point: the definition names the new state.
    PutRaw32(16, rowCount_);
    PutRaw32(20, autoNumber_);
    PutRaw32(55, ownedMap.Raw());
    PutRaw32(59, freeMap.Raw());
    for (size_t k = 0; k < indexes_.size(); ++k) {
      IndexState& s = indexes_[k];
      PutRaw32(63 + 12 * s.real + 4, static_cast<uint32_t>(trees[k].count));
      size_t d = realIndexDefStart_ + 52 * s.real;
      PutRaw32(d + 34, indexMaps[k].Raw());
      PutRaw32(d + 38, trees[k].root);
    }
    for (size_t k = 0; k < columnMaps_.size(); ++k) {
      PutRaw32(columnMaps_[k].ownedOffset, colMaps[k].first.Raw());
      PutRaw32(columnMaps_[k].freeOffset, colMaps[k].second.Raw());
    }
    if (txn) defTouched_ = true;
    for (size_t k = defPages_.size(); k-- > 1;) pager_.Write(def_.pages[k], defPages_[k]);
    pager_.Write(def_.pages[0], defPages_[0]);
    pager_.Sync();

    // What the old state used is free now.
    for (size_t k = 0; k < indexes_.size(); ++k) {
      IndexState& s = indexes_[k];
      NewTree& t = trees[k];
      if (!t.kept)
        for (uint32_t p : s.committedPages) pager_.Release(p);
      if (txn && s.root != s.baseRoot && t.root != s.baseRoot)
        for (uint32_t p : s.basePages) pager_.Release(p);
      if (txn) {
        s.basePages.clear();
        s.baseRoot = 0;
      }
      AdoptTree(s, t, moreToCome);
    }
    for (uint32_t p : ourMapPages_) pager_.Release(p);
    ourMapPages_ = maps.Pages();
    ourMapPages_.insert(ourMapPages_.end(), bitmapPages.begin(), bitmapPages.end());
    for (uint32_t p : releaseAtCommit_) pager_.Release(p);
    releaseAtCommit_.clear();
    pager_.DurablePointReached();
  } catch (...) {
    failed_ = true;
    throw;
  }
  dirty_ = false;
  sinceDurable_ = 0;
}

void JetWriter::BeginTransaction() {
  if (txn_.open) Refuse("A transaction is already open; transactions do not nest.");
  Commit();
  txn_ = WriteTransaction{true, nullptr};
}

void JetWriter::CommitTransaction() {
  if (!txn_.open) Refuse("No transaction is open to commit.");
  TableWriter* t = txn_.table;
  if (!t) {
    txn_ = {};
    return;
  }
  try {
    t->CommitTransaction();
  } catch (...) {
    if (!t->txnCommitted_) {
      // The table goes back to the rows the file holds; the caller hears of
      // the commit's failure.
      try {
        auto reader = OpenReader();
        t->RollbackTransaction(*reader);
      } catch (...) {
      }
    }
    txn_ = {};
    pager_->EndPrivate();
    throw;
  }
  txn_ = {};
  pager_->EndPrivate();
}

void JetWriter::RollbackTransaction() {
  if (!txn_.open) Refuse("No transaction is open to roll back.");
  TableWriter* t = txn_.table;
  txn_ = {};
  if (!t) return;
  auto reader = OpenReader();
  t->RollbackTransaction(*reader);
}

std::unique_ptr<JetWriter> JetWriter::Open(const std::string& path, const std::string& password) {
  // Before asking for write access: a read-only Jet 3 file gets this refusal too.
  if (const JetFormat* f = FormatOfFile(path); f && f->IsJet3()) ThrowReadOnlyFormat(path);
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) ThrowFileNotFound(path);
    ThrowFileInUse(path);
  }
  struct stat st {};
  // A file nobody may write is refused even to root, as Jet refuses it.
  if (fstat(fd, &st) == 0 && (st.st_mode & 0222) == 0) {
    ::close(fd);
    ThrowFileInUse(path);
  }
  if (TryLockDatabase(fd, LockKind::Exclusive) == LockResult::Busy) {
    ::close(fd);
    ThrowFileInUse(path);
  }
  int readFd = ::dup(fd);
  if (readFd < 0) {
    ::close(fd);
    ThrowFileInUse(path);
  }
  std::unique_ptr<JetWriter> w(new JetWriter);
  w->path_ = path;
  w->password_ = password;
  try {
    w->db_ = Database::OpenSource(MakeFdSource(readFd), path, password);
  } catch (...) {
    ::close(fd);
    throw;
  }
  w->pager_ = std::make_unique<Pager>(fd, path, kJet4PageSize, w->db_->Header().encryptionKey);
  w->pager_->CarryPagesInUse(PagesInUse(*w->pager_, *w->db_));
  w->keys_ = std::make_shared<StoredKeys>();
  return w;
}

JetWriter::~JetWriter() {
  if (!closed_ && pager_) {
    try {
      Close();
    } catch (...) {
      // The file keeps the state of the last durable point.
    }
  }
}

TableWriter& JetWriter::Table(const std::string& name) {
  const TableDef& def = db_->Table(name);
  for (auto& t : tables_)
    if (t->Def().page == def.page) return *t;
  tables_.push_back(std::make_unique<TableWriter>(*pager_, *db_, def, keys_.get(), path_ + "\n" + LowerAscii(name)));
  tables_.back()->txn_ = &txn_;
  return *tables_.back();
}

TableWriter& JetWriter::TableAtPage(uint32_t page) {
  for (auto& t : tables_)
    if (t->Def().page == page) return *t;
  tables_.push_back(std::make_unique<TableWriter>(*pager_, *db_, ReadTableDef(db_->File(), page), keys_.get(),
                                                  path_ + "\n#" + std::to_string(page)));
  tables_.back()->txn_ = &txn_;
  return *tables_.back();
}

std::shared_ptr<const Database> JetWriter::OpenReader() {
  int fd = ::dup(pager_->Fd());
  if (fd < 0) ThrowFileInUse(path_);
  return std::shared_ptr<const Database>(Database::OpenSource(MakeFdSource(fd), path_, password_));
}

void JetWriter::Commit() {
  for (auto& t : tables_) t->Commit();
}

void JetWriter::Close() {
  if (closed_ || !pager_) return;
  closed_ = true;
  if (txn_.open) RollbackTransaction();
  Commit();
  // Pages released by the last durable point are free for the host too.
  std::vector<uint32_t> freed(pager_->ReusablePages().begin(), pager_->ReusablePages().end());
  if (!freed.empty()) {
    UpdateGlobalMap(*pager_, {}, freed);
    pager_->Sync();
  }
  tables_.clear();
  pager_.reset();
  db_.reset();
}

void JetWriter::SetSortOrder(uint16_t lcid) {
  Commit();
  Page p0 = pager_->Read(0);
  ToggleHeaderMask(p0);
  p0[0x6E] = static_cast<uint8_t>(lcid);
  p0[0x6F] = static_cast<uint8_t>(lcid >> 8);
  p0[0x71] = 0;
  ToggleHeaderMask(p0);
  pager_->Write(0, p0);
  pager_->Sync();
}

void JetWriter::UseKeys(std::shared_ptr<StoredKeys> keys) {
  keys_ = std::move(keys);
  for (auto& t : tables_) t->UseKeys(keys_.get());
}

void JetWriter::CopyFileTo(int outFd) {
  if (txn_.open) Refuse("The file cannot be copied while a transaction is open.");
  Commit();
  struct stat st {};
  if (fstat(pager_->Fd(), &st) != 0) ThrowFileInUse(path_);
  std::vector<uint8_t> buf(1 << 20);
  off_t at = 0;
  while (at < st.st_size) {
    size_t want = static_cast<size_t>(std::min<off_t>(static_cast<off_t>(buf.size()), st.st_size - at));
    ssize_t n = ::pread(pager_->Fd(), buf.data(), want, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Refuse("Cannot read the database file '" + path_ + "' (" + std::strerror(n < 0 ? errno : EIO) + ").");
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(outFd, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) Refuse(std::string("Cannot write the copy (") + std::strerror(w < 0 ? errno : ENOSPC) + ").");
      done += w;
    }
    at += n;
  }
}

void JetWriter::InjectWriteFailureAfter(long pageWrites, bool once) { pager_->FailAfter(pageWrites, once); }

}  // namespace brenvo::jet
