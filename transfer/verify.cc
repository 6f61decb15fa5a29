#include "transfer/verify.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "transfer/values.h"
#include "util/error.h"

namespace brenvo {
namespace {

// Eight bytes at a time, each field preceded by its tag and length so that
// neighbouring fields cannot trade bytes. Not a defence against anyone
// crafting collisions; two rows that differ collide about once in 2^64.
class Digest {
 public:
  void Field(char tag, std::string_view bytes) {
    Mix((static_cast<uint64_t>(static_cast<unsigned char>(tag)) << 56) ^ bytes.size());
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
      uint64_t w;
      std::memcpy(&w, bytes.data() + i, 8);
      Mix(w);
    }
    if (i < bytes.size()) {
      uint64_t w = 0;
      std::memcpy(&w, bytes.data() + i, bytes.size() - i);
      Mix(w);
    }
  }
  void Word(char tag, uint64_t w) {
    Mix(static_cast<uint64_t>(static_cast<unsigned char>(tag)) << 56);
    Mix(w);
  }
  uint64_t Done() const {
    uint64_t z = h_;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

 private:
  void Mix(uint64_t w) {
    h_ = (h_ ^ w) * 0x9e3779b97f4a7c15ULL;
    h_ ^= h_ >> 29;
  }
  uint64_t h_ = 0x2545f4914f6cdd1dULL;
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

// A number by its value: whole numbers as integers whatever type carried
// them, the rest by the bits of their double (a Single widens exactly).
void AddNumber(Digest& dg, double d) {
  if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.0e15) return dg.Word('i', static_cast<uint64_t>(static_cast<int64_t>(d)));
  if (d == 0) d = 0;  // -0
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  dg.Word('d', bits);
}

// FormatDateTime's text without its allocation.
std::string_view DateText(const ado::DateTime& t, char* buf, bool dateOnly) {
  auto put = [&](size_t at, int v, int digits) {
    for (int i = digits - 1; i >= 0; --i, v /= 10) buf[at + i] = static_cast<char>('0' + (v < 0 ? 0 : v % 10));
  };
  if (t.year < 0 || t.year > 9999) {
    std::string s = ado::FormatDateTime(t);
    size_t n = std::min<size_t>(s.size(), 40);
    std::memcpy(buf, s.data(), n);
    return {buf, n};
  }
  put(0, t.year, 4), buf[4] = '-', put(5, t.month, 2), buf[7] = '-', put(8, t.day, 2);
  if (dateOnly) return {buf, 10};
  buf[10] = ' ', put(11, t.hour, 2), buf[13] = ':', put(14, t.minute, 2), buf[16] = ':', put(17, t.second, 2);
  if (!t.microsecond) return {buf, 19};
  buf[19] = '.', put(20, t.microsecond, 6);
  return {buf, 26};
}

void AddValue(Digest& dg, const ado::Value& v, bool dateOnly) {
  using namespace ado;
  // Numbers compare by value, text and dates by their text (a date stored
  // from its text reads back as a date).
  char buf[48];
  switch (v.index()) {
    case 0:
      return dg.Field('0', {});
    case 1:
      return dg.Word('i', std::get<bool>(v) ? 1 : 0);
    case 2:
      return dg.Word('i', static_cast<uint64_t>(std::get<int64_t>(v)));
    case 3:
      return AddNumber(dg, std::get<double>(v));
    case 4:
      return AddNumber(dg, std::get<float>(v));
    case 5: {
      const std::string& s = std::get<std::string>(v);
      return dg.Field('t', dateOnly && s.size() > 10 && s[4] == '-' ? std::string_view(s).substr(0, 10) : s);
    }
    case 6:
      return dg.Field('t', DateText(std::get<DateTime>(v), buf, dateOnly));
    default:
      break;
  }
  if (std::holds_alternative<Currency>(v) || std::holds_alternative<Decimal>(v))
    return dg.Field('n', NormalNumber(ValueToText(v).value_or("")));
  dg.Field('t', ValueToText(v).value_or(""));
}

}  // namespace

uint64_t RowDigest(const ado::Recordset& rs, const ColumnPlan& plan, bool asSource) {
  Digest dg;
  for (size_t s = 0; s < plan.target.size(); ++s) {
    const int t = plan.target[s];
    if (t < 0) continue;
    const int type = plan.targetType[t];
    const bool dateOnly = type == ado::adDBDate;
    if (!asSource) {
      AddValue(dg, rs.GetValue(t), dateOnly);
      continue;
    }
    const ado::Value& v = rs.GetValue(static_cast<int>(s));
    // Text columns take the value's text, which for text is itself.
    if (type == ado::adVarWChar && (ado::IsNull(v) || std::holds_alternative<std::string>(v))) {
      AddValue(dg, v, dateOnly);
      continue;
    }
    auto stored = TargetValue(v, type);
    AddValue(dg, stored ? *stored : ado::Value(ado::Null{}), dateOnly);
  }
  return dg.Done();
}

bool ReadDigests(ado::Recordset& rs, const ColumnPlan& plan, bool asSource, std::vector<uint64_t>& out,
                 const std::function<bool()>& cancelled) {
  for (; !rs.Eof(); rs.MoveNext()) {
    if (cancelled && (out.size() & 1023) == 0 && cancelled()) return false;
    out.push_back(RowDigest(rs, plan, asSource));
  }
  return true;
}

TableComparison CompareDigests(std::vector<uint64_t> source, std::vector<uint64_t> target) {
  TableComparison out;
  out.sourceRows = static_cast<long long>(source.size());
  out.targetRows = static_cast<long long>(target.size());
  // Both sides in the same order is the common case and needs no sorting.
  if (source == target) return out;
  std::sort(source.begin(), source.end());
  std::sort(target.begin(), target.end());
  long long matched = 0;
  for (size_t i = 0, j = 0; i < source.size() && j < target.size();) {
    if (source[i] < target[j]) ++i;
    else if (target[j] < source[i]) ++j;
    else ++matched, ++i, ++j;
  }
  out.differing = std::max(out.sourceRows, out.targetRows) - matched;
  return out;
}

std::optional<TableComparison> CompareWithDigests(ado::Connection& target, const std::string& table,
                                                  const ColumnPlan& plan, const std::vector<uint64_t>& sourceDigests,
                                                  const std::function<bool()>& cancelled) {
  auto dst = target.OpenTable(table, ado::OpenMode::Read);
  if (plan.targetType.size() != static_cast<size_t>(dst->FieldCount())) return std::nullopt;
  std::vector<uint64_t> b;
  if (!ReadDigests(*dst, plan, false, b, cancelled)) {
    TableComparison out;
    out.cancelled = true;
    return out;
  }
  ado::CloseADO(dst);
  return CompareDigests(sourceDigests, std::move(b));
}

TableComparison CompareTable(ado::Connection& source, ado::Connection& target, const std::string& table,
                             const ColumnPlan* copyPlan, const std::vector<uint64_t>* sourceDigests,
                             const std::function<bool()>& cancelled) {
  if (copyPlan && sourceDigests)
    if (auto out = CompareWithDigests(target, table, *copyPlan, *sourceDigests, cancelled)) return *out;
  // No digests, or the columns changed since the copy: both sides read now.
  auto src = source.OpenTable(table, ado::OpenMode::Read);
  auto dst = target.OpenTable(table, ado::OpenMode::Read);
  const ColumnPlan plan = PlanColumns(*src, *dst);
  std::vector<uint64_t> a, b;
  TableComparison out;
  out.cancelled = true;
  if (!ReadDigests(*src, plan, true, a, cancelled)) return out;
  ado::CloseADO(src);
  if (!ReadDigests(*dst, plan, false, b, cancelled)) return out;
  ado::CloseADO(dst);
  return CompareDigests(std::move(a), std::move(b));
}

BackgroundReadBack::BackgroundReadBack(std::unique_ptr<ado::Connection> target) : target_(std::move(target)) {
  thread_ = std::thread([this] { Loop(); });
}

BackgroundReadBack::~BackgroundReadBack() {
  stop_ = true;
  {
    std::lock_guard<std::mutex> lock(mu_);
    finishing_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  try {
    ado::CloseADO(target_);
  } catch (...) {
  }
}

void BackgroundReadBack::Add(const std::string& table, const ColumnPlan* plan,
                             const std::vector<uint64_t>* sourceDigests) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    jobs_.push_back({table, plan, sourceDigests});
  }
  cv_.notify_all();
}

void BackgroundReadBack::Loop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return !jobs_.empty() || finishing_; });
    if (jobs_.empty()) {
      ended_ = true;
      cv_.notify_all();
      return;
    }
    Job job = jobs_.front();
    jobs_.pop_front();
    lock.unlock();
    Result r{job.table, std::nullopt, {}};
    if (!stop_) {
      try {
        r.comparison = CompareWithDigests(*target_, job.table, *job.plan, *job.digests, [this] { return stop_.load(); });
        if (r.comparison && r.comparison->cancelled) r.comparison.reset();
      } catch (...) {
        ErrorInfo e = DescribeCurrentException();
        r.error = "Error " + std::to_string(e.number) + " (" + e.description + ")";
      }
    }
    lock.lock();
    results_.push_back(std::move(r));
  }
}

std::vector<BackgroundReadBack::Result> BackgroundReadBack::Finish(const std::function<bool()>& cancelled) {
  std::unique_lock<std::mutex> lock(mu_);
  finishing_ = true;
  cv_.notify_all();
  while (!cv_.wait_for(lock, std::chrono::milliseconds(100), [this] { return ended_; }))
    if (cancelled && cancelled()) stop_ = true;
  lock.unlock();
  if (thread_.joinable()) thread_.join();
  return std::move(results_);
}

}  // namespace brenvo
