// The field-size and data-length check before a copy run: declared sizes of
// the variable-length text columns on both sides, and in "Brenvo → CS" the
// longest stored value in CP949 bytes against the MySQL column's size.
#pragma once

#include <string>
#include <vector>

#include "db/ado/recordset.h"
#include "transfer/console.h"

namespace brenvo {

enum class ColumnClass { Skipped, Compared, Unlisted };
ColumnClass ClassifyColumn(int adoType);

// True when the copy may go on; false after its own report.
bool ChkFieldSizeAndCSVChar(Console& console, ado::Connection& source, ado::Connection& target);

// The one question about every narrower target column: their log lines, one
// a line, then "그래도, 진행하시겠습니까?" (for one column, the line and the
// question as the check always asked them).
std::string NarrowerColumnsQuestion(const std::vector<std::string>& lines);

}  // namespace brenvo
