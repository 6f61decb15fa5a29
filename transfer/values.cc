#include "transfer/values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "util/error.h"

namespace brenvo {
namespace {

template <typename T>
std::string Shortest(T v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  if (r.ec != std::errc()) r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace

std::optional<std::string> ValueToText(const ado::Value& v) {
  using namespace ado;
  struct Visitor {
    std::optional<std::string> operator()(const Null&) const { return std::nullopt; }
    std::optional<std::string> operator()(bool b) const { return b ? "1" : "0"; }
    std::optional<std::string> operator()(int64_t i) const { return std::to_string(i); }
    std::optional<std::string> operator()(double d) const { return Shortest(d); }
    std::optional<std::string> operator()(float f) const { return Shortest(f); }
    std::optional<std::string> operator()(const std::string& s) const { return s; }
    std::optional<std::string> operator()(const DateTime& d) const { return FormatDateTime(d); }
    std::optional<std::string> operator()(const Currency& c) const {
      char buf[40];
      long long whole = c.scaled / 10000, frac = c.scaled % 10000;
      std::snprintf(buf, sizeof buf, "%s%lld.%04lld", (c.scaled < 0 && whole == 0) ? "-" : "", whole,
                    frac < 0 ? -frac : frac);
      return std::string(buf);
    }
    std::optional<std::string> operator()(const Decimal& d) const { return d.text; }
    std::optional<std::string> operator()(const Guid& g) const {
      static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
      std::string out = "{";
      char hex[3];
      for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        std::snprintf(hex, sizeof hex, "%02X", g.bytes[order[i]]);
        out += hex;
      }
      return out + "}";
    }
    std::optional<std::string> operator()(const Bytes& b) const { return std::string(b.begin(), b.end()); }
  };
  return std::visit(Visitor{}, v);
}

std::optional<ado::Value> TargetValue(const ado::Value& v, int targetType) {
  if (ado::IsNull(v)) return std::nullopt;
  if (targetType == ado::adVarWChar) {
    auto text = ValueToText(v);
    if (!text) return std::nullopt;
    return ado::Value(std::move(*text));
  }
  if (targetType == ado::adDBDate) {
    auto* s = std::get_if<std::string>(&v);
    auto* d = std::get_if<ado::DateTime>(&v);
    if ((s && (s->empty() || *s == "0000-00-00")) || (d && d->IsZeroDate())) return std::nullopt;
  }
  return v;
}

long long ValueToInteger(const ado::Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return *i;
  if (auto* d = std::get_if<double>(&v)) return static_cast<long long>(*d);
  if (auto* b = std::get_if<bool>(&v)) return *b ? -1 : 0;
  if (auto* s = std::get_if<std::string>(&v)) {
    long long n = 0;
    const char* first = s->data();
    const char* last = first + s->size();
    while (first < last && *first == ' ') ++first;
    auto r = std::from_chars(first, last, n);
    if (r.ec == std::errc() && r.ptr != first) return n;
  }
  if (ado::IsNull(v)) throw BrenvoError(94, "Invalid use of Null");
  throw BrenvoError(13, "Type mismatch");
}

std::string FormatElapsed(long long seconds) {
  if (seconds < 0) seconds = 0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return buf;
}

std::string TimeOfDayText() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
  return buf;
}

}  // namespace brenvo
