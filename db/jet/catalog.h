// The catalogue: the system table MSysObjects, whose definition is always on
// page 2. Each row names an object: Name, Type (1 = local table, 5 = query,
// 6 = linked table, ...), Flags (0x80000000 or 0x00000002 = system object)
// and Id, whose low 24 bits are the page of a table's definition.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/page_file.h"

namespace brenvo::jet {

inline constexpr uint32_t kCatalogPage = 2;
inline constexpr int kObjectTable = 1;
inline constexpr uint32_t kObjectSystemFlags = 0x80000002;

struct CatalogEntry {
  std::string name;
  int type = 0;
  uint32_t flags = 0;
  uint32_t tableDefPage = 0;
  bool IsTable() const { return type == kObjectTable; }
  bool IsUserTable() const { return IsTable() && !(flags & kObjectSystemFlags); }
};

// Every object in catalogue (scan) order.
std::vector<CatalogEntry> ReadCatalog(const PageFile& file);

}  // namespace brenvo::jet
