// Checks the copy run makes after both sides are open and before it changes
// anything on the target: a run that cannot finish what it starts must not
// start deleting. Today: every marked table exists on the source and can be
// opened and read there. Further checks of the same kind (the target's sort
// order, ...) belong here, in front of the first DELETE FROM.
#pragma once

#include <string>
#include <vector>

#include "db/ado/recordset.h"
#include "transfer/console.h"

namespace brenvo {

// A marked table the source cannot give, with the provider's reason.
struct SourceTableProblem {
  std::string table;
  std::string reason;
};

// Opens every marked table of the catalogue on source and reads its first
// row. sourceIsMySql: the CS DB (direction 1), where only the table's
// structure is asked for, so no rows travel.
std::vector<SourceTableProblem> CheckSourceTables(const TableCatalogue& catalogue, ado::Connection& source,
                                                  bool sourceIsMySql);

// Every check before the first change. False after its own message, whose
// text (and each problem) is also in the pane: the run stops with nothing
// changed.
bool PreflightCheck(Console& console, ado::Connection& source, ado::Connection& target);

}  // namespace brenvo
