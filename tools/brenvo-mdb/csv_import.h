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
// the input. line, when given, is the line the record begins on and is
// moved past the record's lines. Throws BrenvoError on an unterminated
// quote, naming the line the quoted field begins on.
bool ReadCsvRecord(std::istream& in, std::vector<std::optional<std::string>>& fields, uint64_t* line = nullptr);

// Imports every record into the table and commits. Returns the rows stored.
// The first record names every column of the table once; every other has
// as many fields, each valid UTF-8 without encoded surrogates. A record
// that breaks a rule or that the engine refuses stops the import with an
// error naming the line (and column), which ends with how many rows were
// stored before it; those rows stay stored.
uint64_t ImportCsv(jet::JetWriter& writer, const std::string& table, std::istream& csv);

}  // namespace brenvo::mdb
