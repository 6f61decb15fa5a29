#include "admin/window_db.h"

#include <cctype>
#include <memory>

namespace brenvo::admin {

std::string TrimSpaces(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

double NumberValue(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  double v = 0, scale = 0;
  for (; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (std::isdigit(c)) {
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

std::string RootPassword(Console& console) { return console.settings().Get(kRootPwdApp, "Config", "rootpwd", ""); }

}  // namespace brenvo::admin
