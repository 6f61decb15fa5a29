#include "db/jet/write_decimal.h"

#include <cmath>
#include <cstdio>

#include "db/jet/byte_order.h"
#include "db/jet/jet_errors.h"
#include "util/error.h"

namespace brenvo::jet {
namespace {

// 38 digits still fit the 128-bit magnitude (10^38 < 2^128).
constexpr int kMaxDigits = 38;

[[noreturn]] void RefuseOverflow() { throw BrenvoError(kErrFail, "Numeric field overflow.", kJetSource); }

// A parsed number: its significant digits (no leading zeros), the power of
// ten the last of them stands for, and the sign.
struct DecimalParts {
  std::string digits;
  long exponent = 0;
  bool negative = false;
};

bool ParseDecimalText(const std::string& s, DecimalParts& out) {
  size_t i = 0, n = s.size();
  while (i < n && s[i] == ' ') ++i;
  while (n > i && s[n - 1] == ' ') --n;
  if (i < n && (s[i] == '-' || s[i] == '+')) out.negative = s[i++] == '-';
  bool anyDigit = false, point = false;
  long fraction = 0;
  for (; i < n; ++i) {
    char ch = s[i];
    if (ch >= '0' && ch <= '9') {
      anyDigit = true;
      if (!(out.digits.empty() && ch == '0')) out.digits.push_back(ch);
      if (point) ++fraction;
    } else if (ch == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!anyDigit) return false;
  long exp = 0;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < n && (s[i] == '-' || s[i] == '+')) expNegative = s[i++] == '-';
    if (i == n) return false;
    for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i)
      if (exp < 100000) exp = exp * 10 + (s[i] - '0');
    if (expNegative) exp = -exp;
  }
  if (i != n) return false;
  // Every digit after the point counts, dropped leading zeros too:
  // "0.050" is 50 x 10^-3.
  out.exponent = exp - fraction;
  return true;
}

std::string CurrencyText(int64_t scaled) {
  bool negative = scaled < 0;
  // Negate as unsigned: INT64_MIN has no positive counterpart.
  uint64_t m = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string t = std::to_string(m / 10000) + "." + std::to_string(10000 + m % 10000).substr(1);
  return negative ? "-" + t : t;
}

std::string PrintG(double d, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", digits, d);
  return buf;
}

std::string ValueText(const ado::Value& v) {
  if (auto p = std::get_if<ado::Decimal>(&v)) return p->text;
  if (auto p = std::get_if<std::string>(&v)) return *p;
  if (auto p = std::get_if<int64_t>(&v)) return std::to_string(*p);
  if (auto p = std::get_if<bool>(&v)) return *p ? "-1" : "0";
  if (auto p = std::get_if<ado::Currency>(&v)) return CurrencyText(p->scaled);
  // Floating values go over with the digits the type holds, as Automation
  // converts them (15 for Double, 7 for Single): 0.1 + 0.2 is 0.3, not
  // 0.30000000000000004.
  if (auto p = std::get_if<double>(&v)) {
    if (!std::isfinite(*p)) RefuseOverflow();
    return PrintG(*p, 15);
  }
  if (auto p = std::get_if<float>(&v)) {
    if (!std::isfinite(*p)) RefuseOverflow();
    return PrintG(*p, 7);
  }
  ThrowTypeMismatch();
}

}  // namespace

DecimalBytes EncodeDecimal(const ado::Value& v, int precision, int scale) {
  if (precision < 1 || precision > kMaxDigits) precision = kMaxDigits;
  if (scale < 0) scale = 0;
  DecimalParts parts;
  if (!ParseDecimalText(ValueText(v), parts)) ThrowTypeMismatch();

  // The scaled integer is digits x 10^(exponent + scale).
  std::string d = parts.digits;
  long shift = parts.exponent + scale;
  if (d.empty()) {
    d = "0";
  } else if (shift >= 0) {
    if (static_cast<long>(d.size()) + shift > kMaxDigits) RefuseOverflow();
    d.append(static_cast<size_t>(shift), '0');
  } else {
    size_t drop = static_cast<size_t>(-shift);
    bool up = false;
    if (drop <= d.size()) {
      up = d[d.size() - drop] >= '5';
      d.resize(d.size() - drop);
    } else {
      d.clear();
    }
    if (d.empty()) d = "0";
    if (up) {
      size_t k = d.size();
      while (k > 0 && d[k - 1] == '9') d[--k] = '0';
      if (k == 0) d.insert(d.begin(), '1');
      else ++d[k - 1];
    }
    size_t first = d.find_first_not_of('0');
    d = first == std::string::npos ? "0" : d.substr(first);
  }
  if (d != "0" && static_cast<int>(d.size()) > precision) RefuseOverflow();

  unsigned __int128 m = 0;
  for (char ch : d) m = m * 10 + static_cast<unsigned>(ch - '0');
  DecimalBytes out{};
  out[0] = (parts.negative && m != 0) ? 0x80 : 0x00;
  for (int w = 0; w < 4; ++w) Put32(&out[1 + 4 * w], static_cast<uint32_t>(m >> (32 * (3 - w))));
  return out;
}

}  // namespace brenvo::jet
