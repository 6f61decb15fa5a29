// CSV and schema listings of Jet tables, the forms brenvo-mdb prints and the
// reference exports use:
//   - UTF-8, CR LF after every record, the column names first;
//   - a field is quoted when it holds , " CR or LF, begins or ends with a
//     space or tab, or is empty; " inside is doubled; NULL is an empty field;
//   - numbers in their shortest round-trip form without exponent, Currency
//     with four decimals, dates as YYYY-MM-DD HH:MM:SS, Yes/No as 1/0,
//     binary as uppercase hex, GUIDs as {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "db/ado/value.h"
#include "db/jet/database.h"

namespace brenvo::mdb {

// Appends one field (no separator) to out.
void AppendCsvField(const ado::Value& v, std::string& out);
void AppendCsvText(std::string_view s, std::string& out);

// The shortest positional digits of a double / float.
std::string FormatDouble(double d);
std::string FormatFloat(float f);
std::string FormatGuid(const ado::Guid& g);

// The CSV export of a table in scan order, handed to sink in pieces of
// about a megabyte (memory stays flat in the table's size). A false from
// sink stops the export and gives false.
bool ExportCsv(const jet::Database& db, const std::string& table, const std::function<bool(std::string_view)>& sink);

// The schema listing of one table (the "table:" block) and of a file.
std::string SchemaText(const jet::Database& db, const std::string& table);
std::string SchemaFileText(const jet::Database& db, const std::string& fileName);

}  // namespace brenvo::mdb
