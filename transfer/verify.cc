#include "transfer/verify.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "transfer/values.h"

namespace brenvo {
namespace {

// FNV-1a over the field bytes, each field preceded by its tag and length so
// that neighbouring fields cannot trade bytes, finished with a 64-bit mixer.
class Digest {
 public:
  void Field(char tag, std::string_view bytes) {
    Byte(static_cast<uint8_t>(tag));
    uint64_t n = bytes.size();
    for (int i = 0; i < 8; ++i) Byte(static_cast<uint8_t>(n >> (8 * i)));
    for (unsigned char c : bytes) Byte(c);
  }
  uint64_t Done() const {
    uint64_t z = h_ + 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

 private:
  void Byte(uint8_t b) {
    h_ ^= b;
    h_ *= 0x100000001b3ULL;
  }
  uint64_t h_ = 0xcbf29ce484222325ULL;
};

// "12.3400" and "12.34", "-0" and "0": one text per number.
std::string NormalNumber(std::string t) {
  if (t.find('.') != std::string::npos && t.find_first_of("eE") == std::string::npos) {
    while (!t.empty() && t.back() == '0') t.pop_back();
    if (!t.empty() && t.back() == '.') t.pop_back();
  }
  if (t == "-0" || t.empty()) t = "0";
  return t;
}

std::string NumberText(double d) {
  if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.0e15) return std::to_string(static_cast<int64_t>(d));
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

void AddValue(Digest& dg, const ado::Value& v, bool dateOnly) {
  using namespace ado;
  if (IsNull(v)) return dg.Field('0', {});
  // Every value but NULL compares by its text, so a number stored into a
  // text column, or a date stored from its text, still meets its source.
  if (auto* b = std::get_if<bool>(&v)) return dg.Field('t', *b ? "1" : "0");
  if (auto* i = std::get_if<int64_t>(&v)) return dg.Field('t', std::to_string(*i));
  if (auto* d = std::get_if<double>(&v)) return dg.Field('t', NumberText(*d));
  if (auto* f = std::get_if<float>(&v)) {
    if (*f == std::trunc(*f) && std::fabs(*f) < 1.0e7f) return dg.Field('t', NumberText(*f));
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, *f);
    return dg.Field('t', std::string_view(buf, r.ptr - buf));
  }
  if (std::holds_alternative<Currency>(v) || std::holds_alternative<Decimal>(v))
    return dg.Field('t', NormalNumber(ValueToText(v).value_or("")));
  std::string text = ValueToText(v).value_or("");
  if (dateOnly && std::holds_alternative<DateTime>(v) && text.size() > 10) text.resize(10);
  dg.Field('t', text);
}

}  // namespace

uint64_t RowDigest(const ado::Recordset& rs, const ColumnPlan& plan, bool asSource) {
  Digest dg;
  for (size_t s = 0; s < plan.target.size(); ++s) {
    const int t = plan.target[s];
    if (t < 0) continue;
    const int type = plan.targetType[t];
    const bool dateOnly = type == ado::adDBDate;
    if (asSource) {
      auto stored = TargetValue(rs.GetValue(static_cast<int>(s)), type);
      AddValue(dg, stored ? *stored : ado::Value(ado::Null{}), dateOnly);
    } else {
      AddValue(dg, rs.GetValue(t), dateOnly);
    }
  }
  return dg.Done();
}

TableComparison CompareTable(ado::Connection& source, ado::Connection& target, const std::string& table,
                             const ColumnPlan* copyPlan, const std::function<bool()>& cancelled) {
  TableComparison out;
  auto src = source.OpenTable(table, ado::OpenMode::Read);
  auto dst = target.OpenTable(table, ado::OpenMode::Read);
  // The copy's own plan carries the appending side's types, which decided
  // the conversions; a plan that no longer fits the columns is made anew.
  const bool fits = copyPlan && copyPlan->target.size() == static_cast<size_t>(src->FieldCount()) &&
                    copyPlan->targetType.size() == static_cast<size_t>(dst->FieldCount());
  const ColumnPlan plan = fits ? *copyPlan : PlanColumns(*src, *dst);
  std::vector<uint64_t> a, b;
  for (; !src->Eof(); src->MoveNext()) {
    if (cancelled && (a.size() & 1023) == 0 && cancelled()) return out.cancelled = true, out;
    a.push_back(RowDigest(*src, plan, true));
  }
  ado::CloseADO(src);
  for (; !dst->Eof(); dst->MoveNext()) {
    if (cancelled && (b.size() & 1023) == 0 && cancelled()) return out.cancelled = true, out;
    b.push_back(RowDigest(*dst, plan, false));
  }
  ado::CloseADO(dst);
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  long long matched = 0;
  for (size_t i = 0, j = 0; i < a.size() && j < b.size();) {
    if (a[i] < b[j]) ++i;
    else if (b[j] < a[i]) ++j;
    else ++matched, ++i, ++j;
  }
  out.sourceRows = static_cast<long long>(a.size());
  out.targetRows = static_cast<long long>(b.size());
  out.differing = std::max(out.sourceRows, out.targetRows) - matched;
  return out;
}

}  // namespace brenvo
