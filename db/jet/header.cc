#include "db/jet/header.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "db/jet/byte_order.h"
#include "db/jet/rc4.h"

namespace brenvo::jet {

void ToggleHeaderMask(std::vector<uint8_t>& page0, size_t length) {
  if (page0.size() < kHeaderMaskOffset + length) return;
  uint8_t key[4];
  Put32(key, kHeaderMaskKey);
  Rc4Xor(key, 4, page0.data() + kHeaderMaskOffset, length);
}

void PasswordMask(double creationDate, uint8_t mask[4]) {
  // Out-of-range doubles in a damaged header must not be undefined behaviour.
  double t = std::trunc(creationDate);
  int32_t days = 0;
  if (std::isfinite(t) && t > -2147483648.0 && t < 2147483647.0) days = static_cast<int32_t>(t);
  Put32(mask, static_cast<uint32_t>(days));
}

HeaderCheck DecodeHeader(const std::vector<uint8_t>& page0, DatabaseHeader& out) {
  static const uint8_t kMagic[4] = {0x00, 0x01, 0x00, 0x00};
  if (page0.size() < 0x98 || std::memcmp(page0.data(), kMagic, 4) != 0 ||
      std::memcmp(page0.data() + 4, "Standard Jet DB", 16) != 0)
    return HeaderCheck::NotJet;
  out.version = Get32(page0.data() + 0x14);
  out.format = FormatOfVersion(out.version);
  if (!out.format) return HeaderCheck::NotJet;

  std::vector<uint8_t> p = page0;
  ToggleHeaderMask(p, out.format->headerMaskLength);
  out.codePage = Get16(&p[0x3C]);
  out.encryptionKey = Get32(&p[0x3E]);
  out.sortLcid = Get16(&p[out.format->sortOrderOffset]);
  out.password.clear();
  out.codePagePassword.clear();
  if (out.format->IsJet3()) {
    out.sortVersion = 0;
    out.creationDate = 0;
    for (size_t i = 0; i < out.format->passwordLength && p[kPasswordOffset + i] != 0; ++i)
      out.codePagePassword.push_back(static_cast<char>(p[kPasswordOffset + i]));
    return HeaderCheck::Ok;
  }
  out.sortVersion = p[0x71];
  out.creationDate = GetDouble(&p[kCreationDateOffset]);
  uint8_t mask[4];
  PasswordMask(out.creationDate, mask);
  uint8_t pw[kPasswordLen];
  for (size_t i = 0; i < kPasswordLen; ++i) pw[i] = p[kPasswordOffset + i] ^ mask[i % 4];
  for (size_t i = 0; i + 1 < kPasswordLen; i += 2) {
    char16_t c = static_cast<char16_t>(pw[i] | (pw[i + 1] << 8));
    if (c == 0) break;
    out.password.push_back(c);
  }
  return HeaderCheck::Ok;
}

const JetFormat* FormatOfFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::vector<uint8_t> page0(0x98);
  ssize_t n = ::pread(fd, page0.data(), page0.size(), 0);
  ::close(fd);
  DatabaseHeader h;
  if (n != static_cast<ssize_t>(page0.size()) || DecodeHeader(page0, h) != HeaderCheck::Ok) return nullptr;
  return h.format;
}

}  // namespace brenvo::jet
