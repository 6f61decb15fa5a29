#include "util/text.h"

#include <cmath>

#include "util/error.h"

namespace brenvo {
namespace {

std::string TrimOf(std::string_view s, const char* set) {
  size_t b = s.find_first_not_of(set);
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(set);
  return std::string(s.substr(b, e - b + 1));
}

}  // namespace

std::string TrimSpaces(std::string_view s) { return TrimOf(s, " "); }

std::string TrimWhitespace(std::string_view s) { return TrimOf(s, " \t\r\n\v\f"); }

double LeadingNumber(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  double v = 0, scale = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      if (scale == 0) {
        v = v * 10 + (c - '0');
      } else {
        v += (c - '0') * scale;
        scale /= 10;
      }
    } else if (c == '.' && scale == 0) {
      scale = 0.1;
    } else {
      break;
    }
  }
  return negative ? -v : v;
}

int LeadingWholeNumber(std::string_view s) {
  const double r = std::nearbyint(LeadingNumber(s));  // the default rounding mode sends halves to the even neighbour
  if (r > 2147483647.0 || r < -2147483648.0) throw BrenvoError(6, "Overflow");
  return static_cast<int>(r);
}

}  // namespace brenvo
