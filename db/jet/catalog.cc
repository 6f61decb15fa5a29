#include "db/jet/catalog.h"

#include "db/jet/column_value.h"
#include "db/jet/table_scan.h"

namespace brenvo::jet {
namespace {

const ColumnDef& Need(const TableDef& t, const char* name) {
  const ColumnDef* c = t.FindColumn(name);
  if (!c) ThrowCorrupt(std::string("catalogue column ") + name + " missing");
  return *c;
}

int64_t AsInt(const ado::Value& v) {
  if (auto p = std::get_if<int64_t>(&v)) return *p;
  return 0;
}

}  // namespace

std::vector<CatalogEntry> ReadCatalog(const PageFile& file) {
  TableDef t = ReadTableDef(file, kCatalogPage);
  const ColumnDef& id = Need(t, "Id");
  const ColumnDef& name = Need(t, "Name");
  const ColumnDef& type = Need(t, "Type");
  const ColumnDef& flags = Need(t, "Flags");
  std::vector<CatalogEntry> out;
  std::vector<uint8_t> scratch;
  TableScan scan(file, t);
  RowBytes row;
  while (scan.Next(row)) {
    RowReader r(row.bytes, t);
    CatalogEntry e;
    ado::Value n = DecodeValue(file, r, name, scratch);
    if (auto s = std::get_if<std::string>(&n)) e.name = std::move(*s);
    e.type = static_cast<int>(AsInt(DecodeValue(file, r, type, scratch)));
    e.flags = static_cast<uint32_t>(AsInt(DecodeValue(file, r, flags, scratch)));
    e.tableDefPage = static_cast<uint32_t>(AsInt(DecodeValue(file, r, id, scratch))) & 0x00FFFFFF;
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace brenvo::jet
