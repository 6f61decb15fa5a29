// Text widths in the Korean ANSI code page (CP949). The work log is shown in a
// fixed-pitch font where a Hangul syllable takes two cells, and MySQL column
// sizes of a CP949 database count bytes, so widths are counted in CP949 bytes:
// ASCII 1, double-byte characters 2, a character CP949 cannot encode 1.
//
// All text inside the program is UTF-8; CP949 appears only at the edges
// (log file, widths, external programs), through the converters below.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

// UTF-8 -> CP949. A character CP949 cannot encode becomes '?' (one byte).
std::string Utf8ToCp949(std::string_view utf8);
// CP949 -> UTF-8. An invalid or truncated sequence becomes U+FFFD.
std::string Cp949ToUtf8(std::string_view cp949);

// Width of text in CP949 bytes.
int ByteLen(std::string_view text);

// text right-aligned (LPad) or left-aligned (rpad) in width bytes; the first
// character of padChar fills. A text wider than width is cut, never its end kept.
std::string LPad(std::string_view text, int width, std::string_view padChar);
std::string rpad(std::string_view text, int width, std::string_view padChar);

// The beginning of text that fits in width bytes. When the cut falls inside a
// double-byte character that character is dropped and, unless noBlank, one
// blank keeps the width.
std::string CutByByteWidth(std::string_view text, int width, bool noBlank);

// True when part occurs in text; an empty part gives false.
bool ContainsText(std::string_view text, std::string_view part);

// One button of an option-button group, as the window shows it.
struct OptionButton {
  std::string caption;
  bool selected = false;
};
// Caption of the first selected button, or "" when none is selected.
std::string GetSelOptionCaption(const std::vector<OptionButton>& buttons);

// "#,##0" formatting used for row counts in the log.
std::string FormatThousands(long long n);

}  // namespace brenvo
