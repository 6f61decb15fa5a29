// Appending rows from a CSV file (the export's rules, csv_format.h) through
// the same insert path the copy run uses. The first record names the
// columns; each is matched to the table's column of that name. An empty
// unquoted field is NULL, "" the empty string; every other field goes in as
// text and is converted to the column's type the way the engine converts
// any value.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "db/jet/writer.h"

namespace brenvo::mdb {

// One CSV record; nullopt for an empty unquoted field. False at the end of
// the input. Throws BrenvoError on an unterminated quote.
bool ReadCsvRecord(std::istream& in, std::vector<std::optional<std::string>>& fields);

// Imports every record into the table and commits. Returns the rows stored.
// A refused row stops the import with the engine's error, naming the line;
// the rows before it stay stored.
uint64_t ImportCsv(jet::JetWriter& writer, const std::string& table, std::istream& csv);

}  // namespace brenvo::mdb
