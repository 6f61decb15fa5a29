// Which target column each source column goes to. Tables on the two sides
// are meant to have the same columns in the same order; where a side has
// them in another order the names decide, and only columns whose names have
// no counterpart are paired by position (after the run's message).
#pragma once

#include <string>
#include <vector>

#include "db/ado/recordset.h"

namespace brenvo {

struct ColumnPlan {
  // Per source column: its target column, or -1 when it has none.
  std::vector<int> target;
  // Per target column: its type code, for the conversions of TargetValue.
  std::vector<int> targetType;
  // "source → target" for the pairs made by position, and the columns of
  // either side left without a counterpart.
  std::vector<std::string> byPosition;
  std::vector<std::string> sourceOnly;
  std::vector<std::string> targetOnly;

  bool NamesDiffer() const { return !byPosition.empty() || !sourceOnly.empty() || !targetOnly.empty(); }
};

// Names compare without regard to ASCII case, as both databases compare them.
ColumnPlan PlanColumns(const ado::Recordset& source, const ado::Recordset& target);

}  // namespace brenvo
