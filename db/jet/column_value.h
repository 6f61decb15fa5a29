// Column types as values: the stored bytes of each Jet type turned into the
// typed Value of the record-set layer, and the type facts the layer reports
// (ADO type code, defined size, the type's name in schema listings).
//
// Fixed-size stored forms (little-endian):
//   Byte 1 unsigned   Integer 2 signed   Long 4 signed   Single 4 IEEE
//   Double 8 IEEE     Date/Time 8 IEEE, days since 1899-12-30
//   Currency 8 signed, scaled by 10,000   GUID 16 (Data1-3 little-endian)
//   Decimal 17: sign byte (0x80 negative), then the 128-bit magnitude as four
//               little-endian 32-bit words, most significant word first;
//               the column's scale places the point
//   Yes/No: no bytes, the null-mask bit
#pragma once

#include <string>
#include <vector>

#include "db/ado/value.h"
#include "db/jet/row.h"

namespace brenvo::jet {

// The value of column c in the row; long values are gathered through file.
// scratch is reused between calls to spare allocations.
ado::Value DecodeValue(const PageFile& file, const RowReader& row, const ColumnDef& c,
                       std::vector<uint8_t>& scratch);

ado::DataType AdoType(const ColumnDef& c);
long AdoDefinedSize(const ColumnDef& c);
// "TEXT", "LONG", ... as schema listings name the types.
const char* TypeName(uint8_t type);

// The plain decimal text of a stored Decimal value.
std::string DecimalText(const uint8_t* p17, int scale);

}  // namespace brenvo::jet
