#include "db/jet/text.h"

#include "db/jet/code_page.h"
#include "db/jet/header.h"

namespace brenvo::jet {

namespace {

// Writers over a buffer sized for the worst case beforehand: a UTF-16 unit
// becomes at most 3 UTF-8 bytes, a compressed byte at most 2.
inline char* Put(uint32_t cp, char* o) {
  if (cp < 0x80) {
    *o++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *o++ = static_cast<char>(0xC0 | (cp >> 6));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *o++ = static_cast<char>(0xE0 | (cp >> 12));
    *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *o++ = static_cast<char>(0xF0 | (cp >> 18));
    *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return o;
}

// Decodes UTF-16LE units from p[i..end), stopping at a 00 low byte when
// stopAtZero (inside compressed text). Returns the index reached.
size_t Utf16Units(const uint8_t* p, size_t i, size_t end, bool stopAtZero, char*& o) {
  while (i + 1 < end) {
    if (stopAtZero && p[i] == 0) return i;
    uint32_t u = p[i] | (p[i + 1] << 8);
    i += 2;
    if (u >= 0xD800 && u < 0xDC00) {
      if (i + 1 < end && !(stopAtZero && p[i] == 0)) {
        uint32_t lo = p[i] | (p[i + 1] << 8);
        if (lo >= 0xDC00 && lo < 0xE000) {
          i += 2;
          o = Put(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00), o);
          continue;
        }
      }
      o = Put(0xFFFD, o);
    } else if (u >= 0xDC00 && u < 0xE000) {
      o = Put(0xFFFD, o);
    } else {
      o = Put(u, o);
    }
  }
  return end;
}

}  // namespace

void Utf16LeToUtf8(const uint8_t* p, size_t len, std::string& out) {
  size_t base = out.size();
  out.resize(base + len * 2 + 4);
  char* o = out.data() + base;
  Utf16Units(p, 0, len, false, o);
  out.resize(static_cast<size_t>(o - out.data()));
}

void DecodeJetText(const uint8_t* p, size_t len, std::string& out) {
  if (len < 2 || p[0] != 0xFF || p[1] != 0xFE) {
    Utf16LeToUtf8(p, len, out);
    return;
  }
  size_t base = out.size();
  out.resize(base + len * 2 + 4);
  char* o = out.data() + base;
  size_t i = 2;
  bool compressed = true;
  while (i < len) {
    if (p[i] == 0) {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      uint8_t c = p[i++];
      if (c < 0x80) *o++ = static_cast<char>(c);
      else o = Put(c, o);
    } else {
      i = Utf16Units(p, i, len, true, o);
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

void DecodeStoredText(const CodePage* cp, const uint8_t* p, size_t len, std::string& out) {
  if (cp) cp->Decode(p, len, out);
  else DecodeJetText(p, len, out);
}

void AppendUtf8(uint32_t cp, std::string& out) {
  char buf[4];
  out.append(buf, static_cast<size_t>(Put(cp, buf) - buf));
}

std::vector<uint8_t> EncodeJetText(std::string_view utf8, bool allowCompression) {
  return EncodeJetText(std::u16string_view(Utf8ToUtf16(utf8)), allowCompression);
}

std::vector<uint8_t> EncodeJetText(std::u16string_view u, bool allowCompression) {
  bool compressible = allowCompression;
  for (char16_t c : u)
    if (c == 0 || c > 0xFF) compressible = false;
  std::vector<uint8_t> out;
  if (compressible) {
    out.resize(u.size() + 2);
    out[0] = 0xFF;
    out[1] = 0xFE;
    for (size_t i = 0; i < u.size(); ++i) out[i + 2] = static_cast<uint8_t>(u[i]);
  } else {
    out.resize(u.size() * 2);
    for (size_t i = 0; i < u.size(); ++i) {
      out[2 * i] = static_cast<uint8_t>(u[i]);
      out[2 * i + 1] = static_cast<uint8_t>(u[i] >> 8);
    }
  }
  return out;
}

}  // namespace brenvo::jet
