// Before the first DELETE FROM of a run into an Access file: every text
// value the marked tables will receive must get an index key in the
// target's sort order. The Jet engine builds Korean-order keys only for the
// characters real files have shown, and for values whose keys Access
// already wrote (the target's own rows, the source file of a Brenvo ->
// Brenvo run). A value neither covers would fail at its insert, after its
// table was emptied; so the run asks first, and offers to re-sort the
// target to the General order (after its backup) instead.
#pragma once

#include <string>
#include <vector>

#include "db/ado/recordset.h"
#include "transfer/console.h"

namespace brenvo {

// A text column of a target index whose keys the target cannot build for
// some values the source will give it.
struct SortKeyGap {
  std::string table;
  std::string column;
  std::string index;
  std::string order;
  long long values = 0;              // distinct values without a key
  std::vector<std::string> samples;  // the first of them, at most kSortGapSamples
};

inline constexpr size_t kSortGapSamples = 20;

struct SortKeyCheck {
  std::vector<SortKeyGap> gaps;
  long tables = 0;                // marked tables with such indexes
  long long valuesRead = 0;       // non-NULL source values read
  long long distinctChecked = 0;  // distinct values asked of the target
};

// Reads, once, the source values of the text columns that an index of a
// marked target table keys in a partly known order (only those tables and
// columns) and asks the target whether each distinct value gets a key,
// after the target has gathered the keys its own rows and the source carry.
// Memory: the distinct values of one column at a time. Throws the
// providers' errors.
SortKeyCheck CheckSortKeys(const TableCatalogue& catalogue, ado::Connection& source, ado::Connection& target);

enum class SortDecision {
  Proceed,        // every value gets a key
  ResortGeneral,  // the technician agreed: back up, re-sort, then copy
  Stop,           // No, or the check failed: nothing was changed
};

extern const char* const kResortQuestion;

// The run's step: the check, its lines in the pane, and, when values lack
// keys, the question that offers the re-sort (No is the default and stops
// the run with nothing changed).
SortDecision SortPreflight(Console& console, ado::Connection& source, ado::Connection& target);

}  // namespace brenvo
