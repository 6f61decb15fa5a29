#include "transfer/column_plan.h"

#include <algorithm>

namespace brenvo {
namespace {

bool SameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
  });
}

}  // namespace

ColumnPlan PlanColumns(const ado::Recordset& source, const ado::Recordset& target) {
  const int ns = source.FieldCount(), nt = target.FieldCount();
  ColumnPlan plan;
  plan.target.assign(ns, -1);
  plan.targetType.resize(nt);
  std::vector<bool> taken(nt, false);
  for (int t = 0; t < nt; ++t) plan.targetType[t] = target.Field(t).type;
  for (int s = 0; s < ns; ++s)
    for (int t = 0; t < nt; ++t)
      if (!taken[t] && SameName(source.Field(s).name, target.Field(t).name)) {
        plan.target[s] = t;
        taken[t] = true;
        break;
      }
  // The rest pair up in their order on each side.
  int t = 0;
  for (int s = 0; s < ns; ++s) {
    if (plan.target[s] >= 0) continue;
    while (t < nt && taken[t]) ++t;
    if (t == nt) {
      plan.sourceOnly.push_back(source.Field(s).name);
      continue;
    }
    plan.target[s] = t;
    taken[t] = true;
    plan.byPosition.push_back(source.Field(s).name + " → " + target.Field(t).name);
  }
  for (int u = 0; u < nt; ++u)
    if (!taken[u]) plan.targetOnly.push_back(target.Field(u).name);
  return plan;
}

}  // namespace brenvo
