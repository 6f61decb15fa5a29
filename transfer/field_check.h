// The field-size and data-length check before a copy run: declared sizes of
// the variable-length text columns on both sides, and in "Brenvo → CS" the
// longest stored value in CP949 bytes against the MySQL column's size.
#pragma once

#include "db/ado/recordset.h"
#include "transfer/console.h"

namespace brenvo {

enum class ColumnClass { Skipped, Compared, Unlisted };
ColumnClass ClassifyColumn(int adoType);

// True when the copy may go on; false after its own report.
bool ChkFieldSizeAndCSVChar(Console& console, ado::Connection& source, ado::Connection& target);

}  // namespace brenvo
