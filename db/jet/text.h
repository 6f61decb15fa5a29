// Text as Jet 4 stores it: UTF-16LE, or, when the column has Unicode
// compression switched on and the value profits from it, the "compressed"
// form:
//
//   FF FE, then segments. The first segment is compressed: one byte per
//   character (the low byte; the high byte is 0). A 00 byte switches between
//   compressed and uncompressed segments; an uncompressed segment holds
//   plain UTF-16LE units.
//
// A 00 byte is only looked for at a character boundary of the current
// segment. Memo values use the same forms once their long-value bytes are
// gathered. Column and index names in table definitions are plain UTF-16LE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo::jet {

class CodePage;

// Appends the UTF-8 form of a stored text value to out.
void DecodeJetText(const uint8_t* p, size_t len, std::string& out);
// The same for a value of a file: Jet 4's forms when cp is null, else
// Jet 3's bytes in the code page cp.
void DecodeStoredText(const CodePage* cp, const uint8_t* p, size_t len, std::string& out);
// Appends UTF-8 for UTF-16LE bytes (odd trailing byte ignored; a lone
// surrogate becomes U+FFFD).
void Utf16LeToUtf8(const uint8_t* p, size_t len, std::string& out);
void AppendUtf8(uint32_t cp, std::string& out);

// The stored form of a UTF-8 text: compressed when allowed and every
// character fits one byte (U+0001..U+00FF), else UTF-16LE.
std::vector<uint8_t> EncodeJetText(std::string_view utf8, bool allowCompression);
std::vector<uint8_t> EncodeJetText(std::u16string_view text, bool allowCompression);

}  // namespace brenvo::jet
