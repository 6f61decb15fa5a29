// UTF-8 (the program's text) <-> UTF-16 (Jet's text, the wide ODBC calls,
// version resources). A broken sequence becomes U+FFFD; nothing throws.
#pragma once

#include <string>
#include <string_view>

namespace brenvo {

std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

}  // namespace brenvo
