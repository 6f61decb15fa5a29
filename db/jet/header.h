// Page 0, the database header (Jet 4; Jet 3 differences after the list):
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
//
// Jet 3 (version 0) masks 126 bytes from 0x18 with the same stream; its
// sort order is 2 bytes at 0x3A and its password 20 bytes at 0x42 in the
// database code page, unmasked, zero-padded. It has no creation date there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/format.h"
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
  const JetFormat* format = nullptr;
  uint32_t version = 0;
  uint16_t codePage = 0;
  uint32_t encryptionKey = 0;
  uint16_t sortLcid = 0;
  uint8_t sortVersion = 0;
  double creationDate = 0;
  std::u16string password;  // empty when the database has none
  std::string codePagePassword;  // Jet 3: the password's bytes, undecoded
};

enum class HeaderCheck { Ok, NotJet };

// Inspects the first page (at least the header region of it); decodes the
// masked region into out when Ok, for Jet 3 and Jet 4 alike.
HeaderCheck DecodeHeader(const std::vector<uint8_t>& page0, DatabaseHeader& out);

// The format of the file at path by its header, or nullptr when it cannot
// be read or is no Jet file.
const JetFormat* FormatOfFile(const std::string& path);

// Masks or unmasks the header region of a page-0 copy in place (the same XOR).
void ToggleHeaderMask(std::vector<uint8_t>& page0, size_t length = kHeaderMaskLen);

// The 4-byte mask of the password bytes for a creation date.
void PasswordMask(double creationDate, uint8_t mask[4]);

}  // namespace brenvo::jet
