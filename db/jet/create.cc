#include "db/jet/create.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "db/jet/byte_order.h"
#include "db/jet/catalog.h"
#include "db/jet/header.h"
#include "db/jet/index_key.h"
#include "db/jet/jet_errors.h"
#include "db/jet/page_file.h"
#include "db/jet/write_index.h"
#include "db/jet/writer.h"

namespace brenvo::jet {
namespace {

constexpr uint32_t kPage = kJet4PageSize;
constexpr uint16_t kCodePage1252 = 1252;
// Values Jet writes in fields whose meaning is not known; copied so that
// other readers see what they are used to.
constexpr uint32_t kDefMagic = 0x0659;
constexpr uint32_t kRealIndexMagic = 0x0783;
constexpr uint8_t kTableUser = 0x4E;
constexpr uint8_t kTableSystem = 0x53;
constexpr uint32_t kTablesContainer = 0x0F000001;
constexpr uint8_t kColFlagUpdatable = 0x02;
constexpr uint8_t kIdxFlagAlways = 0x80;

[[noreturn]] void Bad(const std::string& what) { throw BrenvoError(kErrFail, what, kJetSource); }

uint16_t FixedSize(uint8_t type) {
  switch (type) {
    case kColByte: return 1;
    case kColInt: return 2;
    case kColLong: case kColFloat: return 4;
    case kColMoney: case kColDouble: case kColDateTime: return 8;
    case kColGuid: return 16;
    case kColNumeric: return 17;
    case kColBool: return 0;
    default: return 0;
  }
}

bool IsFixedType(uint8_t t) { return t != kColText && t != kColMemo && t != kColBinary && t != kColOle; }

void PutName(std::vector<uint8_t>& b, const std::string& name) {
  std::u16string u = Utf8ToUtf16(name);
  b.push_back(static_cast<uint8_t>(u.size() * 2));
  b.push_back(static_cast<uint8_t>((u.size() * 2) >> 8));
  for (char16_t c : u) {
    b.push_back(static_cast<uint8_t>(c));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
}

void Put16At(std::vector<uint8_t>& b, size_t o, uint16_t v) { Put16(&b[o], v); }
void Put32At(std::vector<uint8_t>& b, size_t o, uint32_t v) { Put32(&b[o], v); }

// An empty usage map row: inline, start page 0, no pages.
std::vector<uint8_t> EmptyMap() { return std::vector<uint8_t>(1 + 4 + 64, 0); }

// A data page holding the given rows (owner 0: map rows), packed from the end.
std::vector<uint8_t> RowsPage(const std::vector<std::vector<uint8_t>>& rows) {
  std::vector<uint8_t> p(kPage, 0);
  p[0] = kPageData;
  p[1] = 0x01;
  uint16_t top = kPage;
  for (size_t i = 0; i < rows.size(); ++i) {
    top = static_cast<uint16_t>(top - rows[i].size());
    std::copy(rows[i].begin(), rows[i].end(), p.begin() + top);
    Put16(&p[kDataPageHeader + 2 * i], top);
  }
  Put16(&p[12], static_cast<uint16_t>(rows.size()));
  Put16(&p[2], static_cast<uint16_t>(top - kDataPageHeader - 2 * rows.size()));
  return p;
}

struct Layout {
  uint32_t defPage = 0;
  uint32_t mapPage = 0;                 // the page holding this table's map rows
  std::vector<uint32_t> indexRoots;     // one empty leaf per index
};

// The definition page of a table. Map rows on mapPage: 0 owned pages,
// 1 free space, then one per index, then two per long-value column.
std::vector<uint8_t> EncodeDefinition(const TableSpec& t, const Layout& lay, bool system) {
  std::vector<uint8_t> b(63, 0);
  b[0] = kPageTableDef;
  b[1] = 0x01;
  Put32At(b, 12, kDefMagic);
  Put32At(b, 24, 1);
  b[40] = system ? kTableSystem : kTableUser;
  uint16_t ncols = static_cast<uint16_t>(t.columns.size());
  uint16_t nvar = 0;
  for (const auto& c : t.columns)
    if (!IsFixedType(c.type)) ++nvar;
  Put16At(b, 41, ncols);
  Put16At(b, 43, nvar);
  Put16At(b, 45, ncols);
  Put32At(b, 47, static_cast<uint32_t>(t.indexes.size()));
  Put32At(b, 51, static_cast<uint32_t>(t.indexes.size()));
  Put32At(b, 55, RowPointer{lay.mapPage, 0}.Raw());
  Put32At(b, 59, RowPointer{lay.mapPage, 1}.Raw());
  for (size_t i = 0; i < t.indexes.size(); ++i) b.insert(b.end(), 12, 0);

  uint16_t fixedOffset = 0, varIndex = 0;
  std::vector<uint16_t> longColumns;
  for (uint16_t n = 0; n < ncols; ++n) {
    const ColumnSpec& c = t.columns[n];
    std::vector<uint8_t> e(25, 0);
    e[0] = c.type;
    Put32(&e[1], kDefMagic);
    Put16(&e[5], n);
    bool fixed = IsFixedType(c.type);
    Put16(&e[7], fixed ? 0 : varIndex);
    Put16(&e[9], n);
    uint16_t len = 0;
    // Jet's own tables: the sort order in every column entry, no Unicode
    // compression.
    if (system) Put16(&e[11], kSortGeneral);
    if (c.type == kColText) {
      if (c.size == 0 || c.size > 255) Bad("Text column '" + c.name + "' needs a size of 1 to 255 characters.");
      len = static_cast<uint16_t>(c.size * 2);
      Put16(&e[11], kSortGeneral);
      if (!system) e[16] = kColFlag2Compressed;
    } else if (c.type == kColMemo) {
      Put16(&e[11], kSortGeneral);
      if (!system) e[16] = kColFlag2Compressed;
    } else if (c.type == kColBinary) {
      // The system tables' binary columns (Owner, SID) take 510 bytes.
      if (c.size == 0 || c.size > (system ? 510 : 255))
        Bad("Binary column '" + c.name + "' needs a size of 1 to 255 bytes.");
      len = c.size;
    } else if (c.type == kColNumeric) {
      // Access allows 1 to 28 digits, fewer of them after the point.
      if (c.precision < 1 || c.precision > 28 || c.scale >= c.precision)
        Bad("Decimal column '" + c.name + "' needs a precision of 1 to 28 and a scale below it.");
      e[11] = c.precision;
      e[12] = c.scale;
      len = FixedSize(c.type);
    } else {
      len = FixedSize(c.type);
    }
    e[15] = static_cast<uint8_t>(kColFlagUpdatable | (fixed ? kColFlagFixed : 0) | c.systemFlags);
    if (c.autoNumber) {
      if (c.type != kColLong) Bad("Only a Long column can be an AutoNumber ('" + c.name + "').");
      e[15] |= kColFlagAutoLong;
    }
    if (c.type == kColBool) {
      // The value is the null-mask bit: length 1 as Jet writes it, no room
      // in the fixed area.
      len = 1;
    } else if (fixed) {
      Put16(&e[21], fixedOffset);
      fixedOffset = static_cast<uint16_t>(fixedOffset + len);
    } else {
      ++varIndex;
    }
    Put16(&e[23], len);
    if (c.type == kColMemo || c.type == kColOle) longColumns.push_back(n);
    b.insert(b.end(), e.begin(), e.end());
  }
  for (const auto& c : t.columns) PutName(b, c.name);

  auto columnNumber = [&](const std::string& name) -> uint16_t {
    for (uint16_t n = 0; n < ncols; ++n)
      if (SameName(t.columns[n].name, name)) return n;
    Bad("Index column '" + name + "' is not a column of table " + t.name + ".");
  };
  for (size_t i = 0; i < t.indexes.size(); ++i) {
    const IndexSpec& x = t.indexes[i];
    if (x.columns.empty() || x.columns.size() > 10) Bad("Index '" + x.name + "' needs 1 to 10 columns.");
    std::vector<uint8_t> e(52, 0);
    Put32(&e[0], kRealIndexMagic);
    for (size_t k = 0; k < 10; ++k) {
      if (k < x.columns.size()) {
        uint16_t n = columnNumber(x.columns[k].first);
        uint8_t type = t.columns[n].type;
        if (type == kColMemo || type == kColOle) Bad("A Memo or OLE column cannot be indexed ('" + x.name + "').");
        if (type == kColNumeric) Bad("Indexes over a Decimal column are not written ('" + x.name + "').");
        Put16(&e[4 + 3 * k], n);
        e[6 + 3 * k] = x.columns[k].second ? 1 : 0;
      } else {
        Put16(&e[4 + 3 * k], 0xFFFF);
      }
    }
    Put32(&e[34], RowPointer{lay.mapPage, static_cast<uint8_t>(2 + i)}.Raw());
    Put32(&e[38], lay.indexRoots[i]);
    e[46] = static_cast<uint8_t>(kIdxFlagAlways | ((x.unique || x.primary) ? kIdxFlagUnique : 0) |
                                 (x.required ? kIdxFlagRequired : 0) | (x.ignoreNulls ? kIdxFlagIgnoreNulls : 0));
    b.insert(b.end(), e.begin(), e.end());
  }
  for (size_t i = 0; i < t.indexes.size(); ++i) {
    std::vector<uint8_t> e(28, 0);
    Put32(&e[0], kDefMagic);
    Put32(&e[4], static_cast<uint32_t>(i));
    Put32(&e[8], static_cast<uint32_t>(i));
    Put32(&e[13], 0xFFFFFFFF);
    e[23] = t.indexes[i].primary ? kIdxKindPrimary : 0;
    b.insert(b.end(), e.begin(), e.end());
  }
  for (const auto& x : t.indexes) PutName(b, x.name);
  uint8_t row = static_cast<uint8_t>(2 + t.indexes.size());
  for (uint16_t n : longColumns) {
    std::vector<uint8_t> e(10, 0);
    Put16(&e[0], n);
    Put32(&e[2], RowPointer{lay.mapPage, row++}.Raw());
    Put32(&e[6], RowPointer{lay.mapPage, row++}.Raw());
    b.insert(b.end(), e.begin(), e.end());
  }
  b.push_back(0xFF);
  b.push_back(0xFF);
  if (b.size() > kPage) Bad("The definition of table " + t.name + " does not fit one page.");
  Put32At(b, 8, static_cast<uint32_t>(b.size()));
  Put16At(b, 2, static_cast<uint16_t>(kPage - b.size() - 8));
  b.resize(kPage, 0);
  return b;
}

size_t MapRows(const TableSpec& t) {
  size_t n = 2 + t.indexes.size();
  for (const auto& c : t.columns)
    if (c.type == kColMemo || c.type == kColOle) n += 2;
  return n;
}

// The system tables as Jet creates them: columns in number order, the
// flag bits Jet sets on their columns (0x10 on every one, 0x20 on the owner
// SIDs), and their indexes.
constexpr uint8_t kSys = 0x10, kSysSid = 0x30;

std::vector<TableSpec> SystemSpecs() {
  TableSpec objects{"MSysObjects",
                    {{"Id", kColLong, 0, 18, 0, false, kSys},
                     {"ParentId", kColLong, 0, 18, 0, false, kSys},
                     {"Name", kColText, 255, 18, 0, false, kSys},
                     {"Type", kColInt, 0, 18, 0, false, kSys},
                     {"DateCreate", kColDateTime, 0, 18, 0, false, kSys},
                     {"DateUpdate", kColDateTime, 0, 18, 0, false, kSys},
                     {"Owner", kColBinary, 510, 18, 0, false, kSysSid},
                     {"Flags", kColLong, 0, 18, 0, false, kSys},
                     {"Database", kColMemo, 0, 18, 0, false, kSys},
                     {"Connect", kColMemo, 0, 18, 0, false, kSys},
                     {"ForeignName", kColText, 255, 18, 0, false, kSys},
                     {"RmtInfoShort", kColBinary, 510, 18, 0, false, kSys},
                     {"RmtInfoLong", kColOle, 0, 18, 0, false, kSys},
                     {"Lv", kColOle, 0, 18, 0, false, kSys},
                     {"LvProp", kColOle, 0, 18, 0, false, kSys},
                     {"LvModule", kColOle, 0, 18, 0, false, kSys},
                     {"LvExtra", kColOle, 0, 18, 0, false, kSys}},
                    {}};
  objects.indexes.push_back({"ParentIdName", {{"ParentId", true}, {"Name", true}}, false, true, false, false});
  objects.indexes.push_back({"Id", {{"Id", true}}, true, true, false, false});
  TableSpec aces{"MSysACEs",
                 {{"ObjectId", kColLong, 0, 18, 0, false, kSys},
                  {"SID", kColBinary, 510, 18, 0, false, kSysSid},
                  {"ACM", kColLong, 0, 18, 0, false, kSys},
                  {"FInheritable", kColBool, 0, 18, 0, false, kSys}},
                 {}};
  aces.indexes.push_back({"ObjectId", {{"ObjectId", true}}, false, false, false, true});
  TableSpec queries{"MSysQueries",
                    {{"ObjectId", kColLong, 0, 18, 0, false, kSys},
                     {"Attribute", kColByte, 0, 18, 0, false, kSys},
                     {"Order", kColBinary, 510, 18, 0, false, kSys},
                     {"Name1", kColText, 255, 18, 0, false, kSys},
                     {"Name2", kColText, 255, 18, 0, false, kSys},
                     {"Expression", kColMemo, 0, 18, 0, false, kSys},
                     {"Flag", kColInt, 0, 18, 0, false, kSys},
                     {"LvExtra", kColLong, 0, 18, 0, false, kSys}},
                    {}};
  queries.indexes.push_back(
      {"ObjectIdAttribute", {{"ObjectId", true}, {"Attribute", true}, {"Order", true}}, true, true, false, false});
  TableSpec relationships{"MSysRelationships", {}, {}};
  for (const char* n : {"szRelationship", "grbit", "ccolumn", "icolumn", "szObject", "szColumn", "szReferencedObject",
                        "szReferencedColumn"}) {
    bool text = n[0] == 's';
    relationships.columns.push_back({n, text ? kColText : kColLong, static_cast<uint16_t>(text ? 255 : 0), 18, 0,
                                     false, kSys});
  }
  for (const char* n : {"szRelationship", "szObject", "szReferencedObject"})
    relationships.indexes.push_back({n, {{n, true}}, false, false, true, false});
  return {objects, aces, queries, relationships};
}

// Object ids and parents of the catalogue (Jet's fixed values).
constexpr uint32_t kRootContainer = 0x0F000000;
constexpr uint32_t kDatabasesContainer = 0x0F000002;
constexpr uint32_t kRelationshipsContainer = 0x0F000003;
constexpr uint32_t kMSysDbId = 0x10000000;
constexpr int kObjectContainer = 3;
constexpr int kObjectDatabase = 2;
constexpr uint32_t kFlagSystemObject = 0x80000000;

// Owners and grantees: the engine, the Admin user and two groups, as the
// provider writes them into a new file.
const ado::Bytes kSidEngine{0x33, 0xB9}, kSidAdmin{0x32, 0xBB}, kSidAdmins{0x33, 0xBB}, kSidUsers{0x33, 0xBE};

std::vector<uint8_t> HeaderPage(const std::string& password, double created) {
  std::vector<uint8_t> p(kPage, 0);
  p[1] = 0x01;
  std::memcpy(&p[4], "Standard Jet DB", 15);
  p[0x14] = 0x01;
  Put16(&p[0x3C], kCodePage1252);
  Put16(&p[0x6E], kSortGeneral);
  uint64_t bits;
  std::memcpy(&bits, &created, 8);
  Put32(&p[kCreationDateOffset], static_cast<uint32_t>(bits));
  Put32(&p[kCreationDateOffset + 4], static_cast<uint32_t>(bits >> 32));
  std::u16string pw = Utf8ToUtf16(password);
  if (pw.size() > kPasswordLen / 2) Bad("A database password has at most 20 characters.");
  uint8_t mask[4];
  PasswordMask(created, mask);
  for (size_t i = 0; i < kPasswordLen; ++i) {
    uint8_t byte = 0;
    if (i / 2 < pw.size()) byte = static_cast<uint8_t>(i % 2 ? pw[i / 2] >> 8 : pw[i / 2]);
    p[kPasswordOffset + i] = byte;
  }
  // The mask applies to the whole field: no password is 40 zero bytes
  // after unmasking.
  for (size_t i = 0; i < kPasswordLen; ++i) p[kPasswordOffset + i] ^= mask[i % 4];
  ToggleHeaderMask(p);
  return p;
}

double Now() {
  auto secs = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  return 25569.0 + static_cast<double>(secs) / 86400.0;
}

}  // namespace

void CreateDatabase(const std::string& path, const std::string& password, const std::vector<TableSpec>& tables) {
  for (size_t i = 0; i < tables.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (SameName(tables[i].name, tables[j].name)) Bad("Table " + tables[i].name + " is defined twice.");
  double created = Now();
  std::vector<std::vector<uint8_t>> pages;
  pages.push_back(HeaderPage(password, created));
  pages.push_back(RowsPage({EmptyMap()}));  // global usage map: no free page

  std::vector<TableSpec> all = SystemSpecs();
  const size_t systemTables = all.size();
  for (const auto& t : tables)
    for (const auto& sys : all)
      if (SameName(t.name, sys.name)) Bad("Table " + t.name + " is a system table.");
  all.insert(all.end(), tables.begin(), tables.end());
  // Pages: 2-5 the system tables' definitions, then per table its map rows
  // and one leaf per index, a user table's definition first.
  std::vector<Layout> lay(all.size());
  uint32_t next = kCatalogPage;
  for (size_t i = 0; i < systemTables; ++i) lay[i].defPage = next++;
  for (size_t i = 0; i < all.size(); ++i) {
    if (i >= systemTables) lay[i].defPage = next++;
    lay[i].mapPage = next++;
    for (size_t k = 0; k < all[i].indexes.size(); ++k) lay[i].indexRoots.push_back(next++);
  }
  pages.resize(next);
  for (size_t i = 0; i < all.size(); ++i) {
    pages[lay[i].defPage] = EncodeDefinition(all[i], lay[i], i < systemTables);
    pages[lay[i].mapPage] = RowsPage(std::vector<std::vector<uint8_t>>(MapRows(all[i]), EmptyMap()));
    for (uint32_t root : lay[i].indexRoots) {
      std::vector<uint8_t> leaf(kPage, 0);
      leaf[0] = kPageIndexLeaf;
      leaf[1] = 0x01;
      Put16(&leaf[2], static_cast<uint16_t>(kPage - kIndexEntryStart));
      Put32(&leaf[4], lay[i].defPage);
      pages[root] = leaf;
    }
  }

  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) Bad("Cannot create the database file '" + path + "' (" + std::strerror(errno) + ").");
  bool ok = true;
  for (const auto& p : pages)
    if (::write(fd, p.data(), p.size()) != static_cast<ssize_t>(p.size())) ok = false;
  if (::fsync(fd) != 0) ok = false;
  ::close(fd);
  if (!ok) {
    ::unlink(path.c_str());
    Bad("Cannot write the new database file '" + path + "'.");
  }

  // The catalogue and permission rows, through the ordinary insert path.
  auto w = JetWriter::Open(path, password);
  TableWriter& cat = w->TableAtPage(lay[0].defPage);
  TableWriter& aces = w->TableAtPage(lay[1].defPage);
  auto object = [&](uint32_t id, uint32_t parent, const std::string& name, int type, uint32_t flags,
                    const ado::Bytes& owner) {
    // Id, ParentId, Name, Type, DateCreate, DateUpdate, Owner, Flags
    std::vector<std::optional<ado::Value>> row(cat.Def().columns.size());
    row[0] = ado::Value(int64_t{static_cast<int32_t>(id)});
    row[1] = ado::Value(int64_t{static_cast<int32_t>(parent)});
    row[2] = ado::Value(name);
    row[3] = ado::Value(int64_t{type});
    row[4] = ado::Value(created);
    row[5] = ado::Value(created);
    row[6] = ado::Value(owner);
    row[7] = ado::Value(int64_t{static_cast<int32_t>(flags)});
    cat.Insert(row);
  };
  auto grant = [&](uint32_t id, const ado::Bytes& sid, int64_t acm, bool inheritable) {
    std::vector<std::optional<ado::Value>> row(4);
    row[0] = ado::Value(int64_t{static_cast<int32_t>(id)});
    row[1] = ado::Value(sid);
    row[2] = ado::Value(acm);
    row[3] = ado::Value(inheritable);
    aces.Insert(row);
  };
  object(kTablesContainer, kRootContainer, "Tables", kObjectContainer, kFlagSystemObject, kSidEngine);
  object(kDatabasesContainer, kRootContainer, "Databases", kObjectContainer, kFlagSystemObject, kSidEngine);
  object(kRelationshipsContainer, kRootContainer, "Relationships", kObjectContainer, kFlagSystemObject, kSidEngine);
  object(kMSysDbId, kDatabasesContainer, "MSysDb", kObjectDatabase, kFlagSystemObject, kSidAdmin);
  for (size_t i = 0; i < all.size(); ++i)
    object(lay[i].defPage, kTablesContainer, all[i].name, kObjectTable, i < systemTables ? kFlagSystemObject : 0,
           i < systemTables ? kSidEngine : kSidAdmin);

  // Permissions (access masks as Jet grants them in a new file).
  for (size_t i = 0; i < systemTables; ++i)
    grant(lay[i].defPage, kSidAdmin, i == 3 ? 917504 : 393216, false);
  grant(kTablesContainer, kSidUsers, 983294, true);
  grant(kTablesContainer, kSidAdmin, 393217, false);
  grant(kRelationshipsContainer, kSidUsers, 983294, true);
  grant(kRelationshipsContainer, kSidAdmin, 393217, false);
  grant(kDatabasesContainer, kSidAdmin, 393216, false);
  grant(kMSysDbId, kSidAdmin, 393230, false);
  grant(kMSysDbId, kSidAdmins, 14, false);
  for (size_t i : {size_t{2}, size_t{3}, size_t{0}}) grant(lay[i].defPage, kSidAdmins, 20, false);
  grant(kTablesContainer, kSidAdmins, 1048319, true);
  grant(kRelationshipsContainer, kSidAdmins, 1048575, true);
  for (size_t i = systemTables; i < all.size(); ++i) {
    grant(lay[i].defPage, kSidAdmin, 983294, false);
    grant(lay[i].defPage, kSidAdmins, 1048319, false);
  }
  w->Close();
}

std::vector<TableSpec> ParseSchema(const std::string& text) {
  std::vector<TableSpec> out;
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  auto bad = [&](const std::string& what) { Bad("schema line " + std::to_string(lineNo) + ": " + what); };
  while (std::getline(in, line)) {
    ++lineNo;
    if (auto h = line.find('#'); h != std::string::npos) line.erase(h);
    std::istringstream ls(line);
    std::vector<std::string> w;
    for (std::string s; ls >> s;) w.push_back(s);
    if (w.empty()) continue;
    if (w[0] == "table") {
      if (w.size() != 2) bad("table NAME");
      out.push_back({w[1], {}, {}});
      continue;
    }
    if (out.empty()) bad("a column or index before the first table");
    TableSpec& t = out.back();
    if (w[0] == "column") {
      if (w.size() < 3) bad("column NAME TYPE [SIZE] [autonumber]");
      static const std::pair<const char*, uint8_t> kTypes[] = {
          {"yesno", kColBool},   {"byte", kColByte},     {"integer", kColInt},     {"long", kColLong},
          {"currency", kColMoney}, {"single", kColFloat}, {"double", kColDouble},  {"datetime", kColDateTime},
          {"text", kColText},    {"memo", kColMemo},     {"binary", kColBinary},   {"ole", kColOle},
          {"guid", kColGuid},    {"decimal", kColNumeric}};
      ColumnSpec c;
      c.name = w[1];
      bool known = false;
      for (const auto& [n, ty] : kTypes)
        if (SameName(w[2], n)) {
          c.type = ty;
          known = true;
        }
      if (!known) bad("unknown type '" + w[2] + "'");
      size_t numbers = 0;
      for (size_t i = 3; i < w.size(); ++i) {
        bool number = w[i].find_first_not_of("0123456789") == std::string::npos && w[i].size() < 5;
        if (c.type == kColNumeric) {
          if (!number || numbers >= 2) bad("column NAME decimal [PRECISION [SCALE]]");
          int n = std::stoi(w[i]);
          if (n > 255) bad("decimal precision or scale '" + w[i] + "' too large");
          (numbers++ == 0 ? c.precision : c.scale) = static_cast<uint8_t>(n);
          continue;
        }
        if (SameName(w[i], "autonumber")) c.autoNumber = true;
        else if (w[i].find_first_not_of("0123456789") == std::string::npos && w[i].size() < 5)
          c.size = static_cast<uint16_t>(std::stoi(w[i]));
        else bad("unknown column option '" + w[i] + "'");
      }
      t.columns.push_back(c);
    } else if (w[0] == "index") {
      if (w.size() < 3) bad("index NAME [primary|unique] [ignorenulls] COLUMN[-] ...");
      IndexSpec x;
      x.name = w[1];
      for (size_t i = 2; i < w.size(); ++i) {
        if (SameName(w[i], "primary")) x.primary = x.required = true;
        else if (SameName(w[i], "unique")) x.unique = true;
        else if (SameName(w[i], "ignorenulls")) x.ignoreNulls = true;
        else if (w[i].back() == '-') x.columns.emplace_back(w[i].substr(0, w[i].size() - 1), false);
        else x.columns.emplace_back(w[i], true);
      }
      if (x.columns.empty()) bad("an index needs a column");
      t.indexes.push_back(x);
    } else {
      bad("unknown statement '" + w[0] + "'");
    }
  }
  return out;
}

}  // namespace brenvo::jet
