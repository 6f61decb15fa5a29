#include "db/jet/text.h"

#include "db/jet/header.h"

namespace brenvo::jet {

void AppendUtf8(uint32_t cp, std::string& out) {
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

namespace {

// Decodes UTF-16LE units from p[i..end) stopping at a 00 low byte when
// stopAtZero (inside compressed text). Returns the index reached.
size_t Utf16Units(const uint8_t* p, size_t i, size_t end, bool stopAtZero, std::string& out) {
  while (i + 1 < end) {
    if (stopAtZero && p[i] == 0) return i;
    uint32_t u = p[i] | (p[i + 1] << 8);
    i += 2;
    if (u >= 0xD800 && u < 0xDC00) {
      if (i + 1 < end && !(stopAtZero && p[i] == 0)) {
        uint32_t lo = p[i] | (p[i + 1] << 8);
        if (lo >= 0xDC00 && lo < 0xE000) {
          i += 2;
          AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00), out);
          continue;
        }
      }
      AppendUtf8(0xFFFD, out);
    } else if (u >= 0xDC00 && u < 0xE000) {
      AppendUtf8(0xFFFD, out);
    } else {
      AppendUtf8(u, out);
    }
  }
  return end;
}

}  // namespace

void Utf16LeToUtf8(const uint8_t* p, size_t len, std::string& out) { Utf16Units(p, 0, len, false, out); }

void DecodeJetText(const uint8_t* p, size_t len, std::string& out) {
  if (len < 2 || p[0] != 0xFF || p[1] != 0xFE) {
    Utf16LeToUtf8(p, len, out);
    return;
  }
  size_t i = 2;
  bool compressed = true;
  while (i < len) {
    if (p[i] == 0) {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      uint8_t c = p[i++];
      if (c < 0x80) out.push_back(static_cast<char>(c));
      else AppendUtf8(c, out);
    } else {
      size_t next = Utf16Units(p, i, len, true, out);
      if (next == i) break;  // a single odd byte left over
      i = next;
      if (i + 1 >= len && i < len && p[i] != 0) break;
    }
  }
}

std::vector<uint8_t> EncodeJetText(std::string_view utf8, bool allowCompression) {
  std::u16string u = Utf8ToUtf16(std::string(utf8));
  bool compressible = allowCompression;
  for (char16_t c : u)
    if (c == 0 || c > 0xFF) compressible = false;
  std::vector<uint8_t> out;
  if (compressible) {
    out.reserve(u.size() + 2);
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (char16_t c : u) out.push_back(static_cast<uint8_t>(c));
  } else {
    out.reserve(u.size() * 2);
    for (char16_t c : u) {
      out.push_back(static_cast<uint8_t>(c));
      out.push_back(static_cast<uint8_t>(c >> 8));
    }
  }
  return out;
}

}  // namespace brenvo::jet
