// The proof at the end of a copy run: a copied table read back from the
// target and compared with the source, row for row over the values the copy
// stores. Orders may differ between the two databases, so each side becomes
// a sorted list of row digests and the lists are compared; memory is eight
// bytes a row and side.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "db/ado/recordset.h"
#include "transfer/column_plan.h"

namespace brenvo {

struct TableComparison {
  long long sourceRows = 0;
  long long targetRows = 0;
  // Rows of one side without an equal row on the other (the larger of the
  // two sides' counts): a changed row counts once, a missing one once.
  long long differing = 0;
  bool cancelled = false;
};

// A row's digest over the mapped columns in source order. Source rows go
// through TargetValue first (asSource), so a value the copy leaves unset
// compares as NULL; numbers compare by value whatever their type, dates in a
// DATE column by day, bytes as they are.
uint64_t RowDigest(const ado::Recordset& rs, const ColumnPlan& plan, bool asSource);

// Reads the table on both connections and compares, with the copy's column
// plan where there is one. cancelled() is asked between rows. Raises what
// the reading raises.
TableComparison CompareTable(ado::Connection& source, ado::Connection& target, const std::string& table,
                             const ColumnPlan* copyPlan, const std::function<bool()>& cancelled);

}  // namespace brenvo
