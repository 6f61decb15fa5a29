#include "db/jet/header.h"

#include <cmath>
#include <cstring>

#include "db/jet/byte_order.h"
#include "db/jet/rc4.h"

namespace brenvo::jet {

void ToggleHeaderMask(std::vector<uint8_t>& page0) {
  if (page0.size() < kHeaderMaskOffset + kHeaderMaskLen) return;
  uint8_t key[4];
  Put32(key, kHeaderMaskKey);
  Rc4Xor(key, 4, page0.data() + kHeaderMaskOffset, kHeaderMaskLen);
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
  if (out.version == 0) return HeaderCheck::Jet3;
  if (out.version != 1) return HeaderCheck::NotJet;

  std::vector<uint8_t> p = page0;
  ToggleHeaderMask(p);
  out.codePage = Get16(&p[0x3C]);
  out.encryptionKey = Get32(&p[0x3E]);
  out.sortLcid = Get16(&p[0x6E]);
  out.sortVersion = p[0x71];
  out.creationDate = GetDouble(&p[kCreationDateOffset]);
  uint8_t mask[4];
  PasswordMask(out.creationDate, mask);
  uint8_t pw[kPasswordLen];
  for (size_t i = 0; i < kPasswordLen; ++i) pw[i] = p[kPasswordOffset + i] ^ mask[i % 4];
  out.password.clear();
  for (size_t i = 0; i + 1 < kPasswordLen; i += 2) {
    char16_t c = static_cast<char16_t>(pw[i] | (pw[i + 1] << 8));
    if (c == 0) break;
    out.password.push_back(c);
  }
  return HeaderCheck::Ok;
}


}  // namespace brenvo::jet
