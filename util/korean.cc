#include "util/korean.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

#include "util/error.h"

namespace brenvo {
namespace {

// One converter per direction and thread: iconv handles carry shift state and
// are not safe to share.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw BrenvoError(5, std::string("iconv cannot convert ") + from + " to " + to);
  }
  ~Iconv() { iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Converts in; calls bad(out, in, inLeft) for a sequence it cannot convert,
  // which must append a replacement and return how many input bytes to skip.
  template <typename OnBad>
  std::string Convert(std::string_view in, OnBad bad) {
    std::string out;
    out.reserve(in.size() * 3 / 2 + 4);
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    char buf[4096];
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    while (left > 0) {
      char* dst = buf;
      size_t room = sizeof buf;
      size_t r = iconv(cd_, &src, &left, &dst, &room);
      out.append(buf, dst - buf);
      if (r == static_cast<size_t>(-1)) {
        if (errno == E2BIG) continue;
        size_t skip = bad(out, std::string_view(src, left));
        if (skip == 0 || skip > left) skip = left;
        src += skip;
        left -= skip;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      }
    }
    return out;
  }

 private:
  iconv_t cd_;
};

size_t Utf8SeqLen(unsigned char c) {
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) return 2;
  if ((c & 0xF0) == 0xE0) return 3;
  if ((c & 0xF8) == 0xF0) return 4;
  return 1;
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// Length in bytes of the first UTF-8 character of s (1 for an empty or broken one).
size_t FirstCharLen(std::string_view s) {
  if (s.empty()) return 0;
  size_t n = Utf8SeqLen(static_cast<unsigned char>(s[0]));
  return n <= s.size() ? n : s.size();
}

}  // namespace

std::string Utf8ToCp949(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  thread_local Iconv cv("CP949", "UTF-8");
  return cv.Convert(utf8, [](std::string& out, std::string_view rest) {
    out.push_back('?');
    return Utf8SeqLen(static_cast<unsigned char>(rest[0]));
  });
}

std::string Cp949ToUtf8(std::string_view cp949) {
  if (IsAscii(cp949)) return std::string(cp949);
  thread_local Iconv cv("UTF-8", "CP949");
  return cv.Convert(cp949, [](std::string& out, std::string_view rest) {
    out.append("\xEF\xBF\xBD");
    unsigned char lead = static_cast<unsigned char>(rest[0]);
    return (lead >= 0x81 && rest.size() >= 2) ? size_t{2} : size_t{1};
  });
}

int ByteLen(std::string_view text) {
  if (IsAscii(text)) return static_cast<int>(text.size());
  return static_cast<int>(Utf8ToCp949(text).size());
}

namespace {
std::string Fill(std::string_view padChar, int count) {
  std::string one(padChar.substr(0, FirstCharLen(padChar)));
  std::string out;
  for (int i = 0; i < count; ++i) out += one;
  return out;
}
}  // namespace

std::string LPad(std::string_view text, int width, std::string_view padChar) {
  int w = ByteLen(text);
  if (w > width) return CutByByteWidth(text, width, false);
  return Fill(padChar, width - w) + std::string(text);
}

std::string rpad(std::string_view text, int width, std::string_view padChar) {
  int w = ByteLen(text);
  if (w > width) return CutByByteWidth(text, width, false);
  return std::string(text) + Fill(padChar, width - w);
}

std::string CutByByteWidth(std::string_view text, int width, bool noBlank) {
  if (width <= 0) return {};
  std::string bytes = Utf8ToCp949(text);
  if (static_cast<size_t>(width) >= bytes.size()) return std::string(text);
  // Walk whole CP949 characters: a lead byte >= 0x81 starts a two-byte one.
  size_t pos = 0;
  while (pos < static_cast<size_t>(width)) {
    size_t n = static_cast<unsigned char>(bytes[pos]) >= 0x81 ? 2 : 1;
    if (pos + n > static_cast<size_t>(width)) break;
    pos += n;
  }
  std::string cut = Cp949ToUtf8(std::string_view(bytes).substr(0, pos));
  if (pos < static_cast<size_t>(width) && !noBlank) cut.push_back(' ');
  return cut;
}

bool ContainsText(std::string_view text, std::string_view part) {
  if (part.empty()) return false;
  return text.find(part) != std::string_view::npos;
}

std::string GetSelOptionCaption(const std::vector<OptionButton>& buttons) {
  for (const auto& b : buttons)
    if (b.selected) return b.caption;
  return {};
}

std::string FormatThousands(long long n) {
  bool neg = n < 0;
  unsigned long long u = neg ? 0ULL - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
  std::string digits = std::to_string(u);
  std::string out;
  int lead = static_cast<int>(digits.size() % 3);
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (static_cast<int>(i) - lead) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return neg ? "-" + out : out;
}

}  // namespace brenvo
