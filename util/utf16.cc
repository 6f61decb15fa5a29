#include "util/utf16.h"

namespace brenvo {

std::u16string Utf8ToUtf16(std::string_view s) {
  // Never more UTF-16 units than UTF-8 bytes: written in place, cut at the end.
  std::u16string out(s.size(), u'\0');
  char16_t* o = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t size = s.size();
  for (size_t i = 0; i < size;) {
    unsigned char c = p[i];
    if (c < 0x80) {
      *o++ = c;
      ++i;
      continue;
    }
    char32_t cp;
    size_t n;
    if ((c >> 5) == 6) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c >> 4) == 14) {
      cp = c & 0x0F;
      n = 3;
    } else if ((c >> 3) == 30) {
      cp = c & 0x07;
      n = 4;
    } else {
      *o++ = 0xFFFD;
      ++i;
      continue;
    }
    if (i + n > size) {
      *o++ = 0xFFFD;
      break;
    }
    bool bad = false;
    for (size_t k = 1; k < n; ++k) {
      unsigned char cc = p[i + k];
      if ((cc >> 6) != 2) {
        bad = true;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (bad) {
      *o++ = 0xFFFD;
      ++i;
      continue;
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *o++ = static_cast<char16_t>(cp);
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size() * 3 / 2);
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace brenvo
