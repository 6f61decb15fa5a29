#include "db/jet/code_page.h"

#include <iconv.h>

#include <cerrno>

#include "db/jet/jet_errors.h"

namespace brenvo::jet {

CodePage::CodePage(uint16_t number) : number_(number) {
  const std::string name = "CP" + std::to_string(number);
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1))
    throw BrenvoError(kErrFail, "The database's text is in code page " + std::to_string(number) +
                                    ", which this system cannot convert.", kJetSource);
  cd_ = cd;
}

CodePage::~CodePage() { iconv_close(static_cast<iconv_t>(cd_)); }

void CodePage::Decode(const uint8_t* p, size_t len, std::string& out) const {
  size_t i = 0;
  // Plain ASCII is the same in every code page Jet uses; most values are.
  while (i < len && p[i] < 0x80) ++i;
  out.append(reinterpret_cast<const char*>(p), i);
  if (i == len) return;

  std::lock_guard<std::mutex> lock(mu_);
  auto cd = static_cast<iconv_t>(cd_);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(p + i));
  size_t inLeft = len - i;
  while (inLeft > 0) {
    char chunk[1024];
    char* o = chunk;
    size_t room = sizeof chunk;
    size_t r = iconv(cd, &in, &inLeft, &o, &room);
    out.append(chunk, static_cast<size_t>(o - chunk));
    if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // EILSEQ (undefined byte) or EINVAL (a lead byte cut off at the end).
    out.append("\xEF\xBF\xBD");
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
}

}  // namespace brenvo::jet
