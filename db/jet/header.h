// Page 0, the database header (Jet 4):
//
//   0x00  4   00 01 00 00
//   0x04  16  "Standard Jet DB\0"
//   0x14  4   engine version: 0 Jet 3, 1 Jet 4 (Access 2000-2003)
//   0x18  128 region XOR-ed with the RC4 stream of the key C7 DA 39 6B;
//             the offsets below are file offsets inside that region, after
//             unmasking:
//   0x3C  2   database code page
//   0x3E  4   page-encryption key (0 = pages not encrypted)
//   0x42  40  database password, UTF-16LE, zero-padded, each byte i XOR-ed
//             with byte (i mod 4) of the creation-date mask
//   0x6E  2   sort order: LCID of the General order (1033) or another
//   0x71  1   sort-order version
//   0x72  8   creation date, OLE date double; its integer part as a 32-bit
//             little-endian integer is the password mask
//
// No password is 40 zero bytes after unmasking.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/utf16.h"

namespace brenvo::jet {

inline constexpr uint32_t kJet4PageSize = 4096;
inline constexpr uint32_t kHeaderMaskKey = 0x6B39DAC7;
inline constexpr size_t kHeaderMaskOffset = 0x18;
inline constexpr size_t kHeaderMaskLen = 128;
inline constexpr size_t kPasswordOffset = 0x42;
inline constexpr size_t kPasswordLen = 40;
inline constexpr size_t kCreationDateOffset = 0x72;

struct DatabaseHeader {
  uint32_t version = 0;
  uint16_t codePage = 0;
  uint32_t encryptionKey = 0;
  uint16_t sortLcid = 0;
  uint8_t sortVersion = 0;
  double creationDate = 0;
  std::u16string password;  // empty when the database has none
};

enum class HeaderCheck { Ok, NotJet, Jet3 };

// Inspects the first page; decodes the masked region into out when Ok.
HeaderCheck DecodeHeader(const std::vector<uint8_t>& page0, DatabaseHeader& out);

// Masks or unmasks the header region of a page-0 copy in place (the same XOR).
void ToggleHeaderMask(std::vector<uint8_t>& page0);

// The 4-byte mask of the password bytes for a creation date.
void PasswordMask(double creationDate, uint8_t mask[4]);

}  // namespace brenvo::jet
