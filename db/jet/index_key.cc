#include "db/jet/index_key.h"

#include <bit>
#include <cstring>

#include "db/jet/jet_errors.h"
#include "db/jet/text.h"

namespace brenvo::jet {
namespace {

constexpr uint8_t kFlagAsc = 0x7F;
constexpr uint8_t kFlagDesc = 0x80;
constexpr uint8_t kNullAsc = 0x00;
constexpr uint8_t kNullDesc = 0xFF;
constexpr uint8_t kTextEnd = 0x01;
constexpr uint8_t kTextTerminator = 0x00;

// Hangul syllables (U+AC00..U+D7A3) weigh two bytes. Within the block of
// one initial consonant (21 vowels x 28 finals = 588 syllables, in code
// order) the weights run consecutively; between blocks the order leaves
// room for other letters. A weight is a sequence number s written as
// (s - 2) / 254 and 2 + (s - 2) % 254: its low byte runs 0x02..0xFF.
// The block starts below were measured on General-order files and agree
// with the public per-character tables of this order, which also give the
// three blocks the files do not hold (ㄸ ㅃ ㅉ).
constexpr uint32_t kHangulBlockStart[19] = {
    32769, 32770, 32774, 32784, 32787, 32788, 32811, 32821, 32826, 32842,
    32853, 32929, 32948, 32951, 32955, 32958, 32959, 32960, 32963,
};
constexpr uint32_t kHangulFirst = 0xAC00;
constexpr uint32_t kHangulLast = 0xD7A3;
constexpr uint32_t kHangulBlock = 588;
// ㈜ weighs as 주 and records itself in the extra section.
constexpr uint32_t kParenthesizedJu = 0x321C;
constexpr uint32_t kJu = 0xC8FC;
constexpr uint8_t kParenthesizedExtra = 0x0A;
constexpr uint8_t kPlainAccent = 0x02;

bool HangulWeight(uint32_t cp, std::vector<uint8_t>& key) {
  if (cp < kHangulFirst || cp > kHangulLast) return false;
  uint32_t idx = cp - kHangulFirst;
  uint32_t start = kHangulBlockStart[idx / kHangulBlock];
  uint32_t s = start + idx;
  key.push_back(static_cast<uint8_t>((s - 2) / 254));
  key.push_back(static_cast<uint8_t>(2 + (s - 2) % 254));
  return true;
}

// How one character of the first 256 code points enters a General-order
// key (the order Access 2000-2007 writes, sort-order version 0):
//   kWeight  one or two weight bytes, nothing else
//   kAccent  the weight of its base letter, plus one byte in the accent
//            section that tells it apart (A and an A with a grave accent
//            weigh the same, the accent byte breaks the tie)
//   kAbsent  no weight; it sorts as if it were not there and is only
//            recorded by position after the weights (hyphen, apostrophe,
//            the soft hyphen and control characters)
//   kNone    contributes nothing at all (U+0000)
// Case never counts: upper and lower case letters share their entries.
enum CharKind : uint8_t { kNone, kWeight, kAccent, kAbsent };

struct CharCode {
  CharKind kind;
  uint8_t w1;     // weight, or the recorded code of a kAbsent character
  uint8_t w2;     // second weight byte; 0 when the weight is one byte
  uint8_t accent; // accent-section byte of a kAccent character
};

constexpr CharCode kLatin1[256] = {
    {kNone, 0, 0, 0}, {kAbsent, 0x03, 0, 0}, {kAbsent, 0x04, 0, 0}, {kAbsent, 0x05, 0, 0},  // 00
    {kAbsent, 0x06, 0, 0}, {kAbsent, 0x07, 0, 0}, {kAbsent, 0x08, 0, 0}, {kAbsent, 0x09, 0, 0},  // 04
    {kAbsent, 0x0A, 0, 0}, {kWeight, 0x08, 0x03, 0}, {kWeight, 0x08, 0x04, 0}, {kWeight, 0x08, 0x05, 0},  // 08
    {kWeight, 0x08, 0x06, 0}, {kWeight, 0x08, 0x07, 0}, {kAbsent, 0x0B, 0, 0}, {kAbsent, 0x0C, 0, 0},  // 0C
    {kAbsent, 0x0D, 0, 0}, {kAbsent, 0x0E, 0, 0}, {kAbsent, 0x0F, 0, 0}, {kAbsent, 0x10, 0, 0},  // 10
    {kAbsent, 0x11, 0, 0}, {kAbsent, 0x12, 0, 0}, {kAbsent, 0x13, 0, 0}, {kAbsent, 0x14, 0, 0},  // 14
    {kAbsent, 0x15, 0, 0}, {kAbsent, 0x16, 0, 0}, {kAbsent, 0x17, 0, 0}, {kAbsent, 0x18, 0, 0},  // 18
    {kAbsent, 0x19, 0, 0}, {kAbsent, 0x1A, 0, 0}, {kAbsent, 0x1B, 0, 0}, {kAbsent, 0x1C, 0, 0},  // 1C
    {kWeight, 0x07, 0x00, 0}, {kWeight, 0x09, 0x00, 0}, {kWeight, 0x0A, 0x00, 0}, {kWeight, 0x0C, 0x00, 0},  // 20
    {kWeight, 0x0E, 0x00, 0}, {kWeight, 0x10, 0x00, 0}, {kWeight, 0x12, 0x00, 0}, {kAbsent, 0x80, 0, 0},  // 24
    {kWeight, 0x14, 0x00, 0}, {kWeight, 0x16, 0x00, 0}, {kWeight, 0x18, 0x00, 0}, {kWeight, 0x2C, 0x00, 0},  // 28
    {kWeight, 0x1A, 0x00, 0}, {kAbsent, 0x82, 0, 0}, {kWeight, 0x1C, 0x00, 0}, {kWeight, 0x1E, 0x00, 0},  // 2C
    {kWeight, 0x36, 0x00, 0}, {kWeight, 0x38, 0x00, 0}, {kWeight, 0x3A, 0x00, 0}, {kWeight, 0x3C, 0x00, 0},  // 30
    {kWeight, 0x3E, 0x00, 0}, {kWeight, 0x40, 0x00, 0}, {kWeight, 0x42, 0x00, 0}, {kWeight, 0x44, 0x00, 0},  // 34
    {kWeight, 0x46, 0x00, 0}, {kWeight, 0x48, 0x00, 0}, {kWeight, 0x20, 0x00, 0}, {kWeight, 0x22, 0x00, 0},  // 38
    {kWeight, 0x2E, 0x00, 0}, {kWeight, 0x30, 0x00, 0}, {kWeight, 0x32, 0x00, 0}, {kWeight, 0x24, 0x00, 0},  // 3C
    {kWeight, 0x26, 0x00, 0}, {kWeight, 0x4A, 0x00, 0}, {kWeight, 0x4C, 0x00, 0}, {kWeight, 0x4D, 0x00, 0},  // 40
    {kWeight, 0x4F, 0x00, 0}, {kWeight, 0x51, 0x00, 0}, {kWeight, 0x53, 0x00, 0}, {kWeight, 0x55, 0x00, 0},  // 44
    {kWeight, 0x57, 0x00, 0}, {kWeight, 0x59, 0x00, 0}, {kWeight, 0x5B, 0x00, 0}, {kWeight, 0x5C, 0x00, 0},  // 48
    {kWeight, 0x5E, 0x00, 0}, {kWeight, 0x60, 0x00, 0}, {kWeight, 0x62, 0x00, 0}, {kWeight, 0x64, 0x00, 0},  // 4C
    {kWeight, 0x66, 0x00, 0}, {kWeight, 0x68, 0x00, 0}, {kWeight, 0x69, 0x00, 0}, {kWeight, 0x6B, 0x00, 0},  // 50
    {kWeight, 0x6D, 0x00, 0}, {kWeight, 0x6F, 0x00, 0}, {kWeight, 0x71, 0x00, 0}, {kWeight, 0x73, 0x00, 0},  // 54
    {kWeight, 0x75, 0x00, 0}, {kWeight, 0x76, 0x00, 0}, {kWeight, 0x78, 0x00, 0}, {kWeight, 0x27, 0x00, 0},  // 58
    {kWeight, 0x29, 0x00, 0}, {kWeight, 0x2A, 0x00, 0}, {kWeight, 0x2B, 0x02, 0}, {kWeight, 0x2B, 0x03, 0},  // 5C
    {kWeight, 0x2B, 0x07, 0}, {kWeight, 0x4A, 0x00, 0}, {kWeight, 0x4C, 0x00, 0}, {kWeight, 0x4D, 0x00, 0},  // 60
    {kWeight, 0x4F, 0x00, 0}, {kWeight, 0x51, 0x00, 0}, {kWeight, 0x53, 0x00, 0}, {kWeight, 0x55, 0x00, 0},  // 64
    {kWeight, 0x57, 0x00, 0}, {kWeight, 0x59, 0x00, 0}, {kWeight, 0x5B, 0x00, 0}, {kWeight, 0x5C, 0x00, 0},  // 68
    {kWeight, 0x5E, 0x00, 0}, {kWeight, 0x60, 0x00, 0}, {kWeight, 0x62, 0x00, 0}, {kWeight, 0x64, 0x00, 0},  // 6C
    {kWeight, 0x66, 0x00, 0}, {kWeight, 0x68, 0x00, 0}, {kWeight, 0x69, 0x00, 0}, {kWeight, 0x6B, 0x00, 0},  // 70
    {kWeight, 0x6D, 0x00, 0}, {kWeight, 0x6F, 0x00, 0}, {kWeight, 0x71, 0x00, 0}, {kWeight, 0x73, 0x00, 0},  // 74
    {kWeight, 0x75, 0x00, 0}, {kWeight, 0x76, 0x00, 0}, {kWeight, 0x78, 0x00, 0}, {kWeight, 0x2B, 0x09, 0},  // 78
    {kWeight, 0x2B, 0x0B, 0}, {kWeight, 0x2B, 0x0D, 0}, {kWeight, 0x2B, 0x0F, 0}, {kAbsent, 0x1D, 0, 0},  // 7C
    {kAbsent, 0x1E, 0, 0}, {kAbsent, 0x1F, 0, 0}, {kAbsent, 0x20, 0, 0}, {kAbsent, 0x21, 0, 0},  // 80
    {kAbsent, 0x22, 0, 0}, {kAbsent, 0x23, 0, 0}, {kAbsent, 0x24, 0, 0}, {kAbsent, 0x25, 0, 0},  // 84
    {kAbsent, 0x26, 0, 0}, {kAbsent, 0x27, 0, 0}, {kAbsent, 0x28, 0, 0}, {kAbsent, 0x29, 0, 0},  // 88
    {kAbsent, 0x2A, 0, 0}, {kAbsent, 0x2B, 0, 0}, {kAbsent, 0x2C, 0, 0}, {kAbsent, 0x2D, 0, 0},  // 8C
    {kAbsent, 0x2E, 0, 0}, {kAbsent, 0x2F, 0, 0}, {kAbsent, 0x30, 0, 0}, {kAbsent, 0x31, 0, 0},  // 90
    {kAbsent, 0x32, 0, 0}, {kAbsent, 0x33, 0, 0}, {kAbsent, 0x34, 0, 0}, {kAbsent, 0x35, 0, 0},  // 94
    {kAbsent, 0x36, 0, 0}, {kAbsent, 0x37, 0, 0}, {kAbsent, 0x38, 0, 0}, {kAbsent, 0x39, 0, 0},  // 98
    {kAbsent, 0x3A, 0, 0}, {kAbsent, 0x3B, 0, 0}, {kAbsent, 0x3C, 0, 0}, {kAbsent, 0x3D, 0, 0},  // 9C
    {kWeight, 0x08, 0x02, 0}, {kWeight, 0x2B, 0x10, 0}, {kWeight, 0x34, 0xA6, 0}, {kWeight, 0x34, 0xA7, 0},  // A0
    {kWeight, 0x34, 0xA8, 0}, {kWeight, 0x34, 0xA9, 0}, {kWeight, 0x2B, 0x11, 0}, {kWeight, 0x34, 0xAA, 0},  // A4
    {kWeight, 0x2B, 0x12, 0}, {kWeight, 0x34, 0xAB, 0}, {kAccent, 0x4A, 0, 0x03}, {kWeight, 0x33, 0x05, 0},  // A8
    {kWeight, 0x34, 0xAC, 0}, {kAbsent, 0x83, 0, 0}, {kWeight, 0x34, 0xAD, 0}, {kWeight, 0x2B, 0x13, 0},  // AC
    {kWeight, 0x34, 0xAE, 0}, {kWeight, 0x33, 0x04, 0}, {kWeight, 0x3A, 0x00, 0}, {kWeight, 0x3C, 0x00, 0},  // B0
    {kWeight, 0x2B, 0x14, 0}, {kWeight, 0x34, 0xAF, 0}, {kWeight, 0x34, 0xB0, 0}, {kWeight, 0x34, 0xB1, 0},  // B4
    {kWeight, 0x2B, 0x15, 0}, {kWeight, 0x38, 0x00, 0}, {kAccent, 0x64, 0, 0x03}, {kWeight, 0x33, 0x07, 0},  // B8
    {kWeight, 0x37, 0x12, 0}, {kWeight, 0x37, 0x16, 0}, {kWeight, 0x37, 0x1A, 0}, {kWeight, 0x2B, 0x16, 0},  // BC
    {kAccent, 0x4A, 0, 0x0F}, {kAccent, 0x4A, 0, 0x0E}, {kAccent, 0x4A, 0, 0x12}, {kAccent, 0x4A, 0, 0x19},  // C0
    {kAccent, 0x4A, 0, 0x13}, {kAccent, 0x4A, 0, 0x1A}, {kWeight, 0x4A, 0x51, 0}, {kAccent, 0x4D, 0, 0x1C},  // C4
    {kAccent, 0x51, 0, 0x0F}, {kAccent, 0x51, 0, 0x0E}, {kAccent, 0x51, 0, 0x12}, {kAccent, 0x51, 0, 0x13},  // C8
    {kAccent, 0x59, 0, 0x0F}, {kAccent, 0x59, 0, 0x0E}, {kAccent, 0x59, 0, 0x12}, {kAccent, 0x59, 0, 0x13},  // CC
    {kAccent, 0x4F, 0, 0x68}, {kAccent, 0x62, 0, 0x19}, {kAccent, 0x64, 0, 0x0F}, {kAccent, 0x64, 0, 0x0E},  // D0
    {kAccent, 0x64, 0, 0x12}, {kAccent, 0x64, 0, 0x19}, {kAccent, 0x64, 0, 0x13}, {kWeight, 0x33, 0x09, 0},  // D4
    {kAccent, 0x64, 0, 0x21}, {kAccent, 0x6F, 0, 0x0F}, {kAccent, 0x6F, 0, 0x0E}, {kAccent, 0x6F, 0, 0x12},  // D8
    {kAccent, 0x6F, 0, 0x13}, {kAccent, 0x76, 0, 0x0E}, {kWeight, 0x6D, 0x57, 0}, {kWeight, 0x6B, 0x6B, 0},  // DC
    {kAccent, 0x4A, 0, 0x0F}, {kAccent, 0x4A, 0, 0x0E}, {kAccent, 0x4A, 0, 0x12}, {kAccent, 0x4A, 0, 0x19},  // E0
    {kAccent, 0x4A, 0, 0x13}, {kAccent, 0x4A, 0, 0x1A}, {kWeight, 0x4A, 0x51, 0}, {kAccent, 0x4D, 0, 0x1C},  // E4
    {kAccent, 0x51, 0, 0x0F}, {kAccent, 0x51, 0, 0x0E}, {kAccent, 0x51, 0, 0x12}, {kAccent, 0x51, 0, 0x13},  // E8
    {kAccent, 0x59, 0, 0x0F}, {kAccent, 0x59, 0, 0x0E}, {kAccent, 0x59, 0, 0x12}, {kAccent, 0x59, 0, 0x13},  // EC
    {kAccent, 0x4F, 0, 0x68}, {kAccent, 0x62, 0, 0x19}, {kAccent, 0x64, 0, 0x0F}, {kAccent, 0x64, 0, 0x0E},  // F0
    {kAccent, 0x64, 0, 0x12}, {kAccent, 0x64, 0, 0x19}, {kAccent, 0x64, 0, 0x13}, {kWeight, 0x33, 0x0A, 0},  // F4
    {kAccent, 0x64, 0, 0x21}, {kAccent, 0x6F, 0, 0x0F}, {kAccent, 0x6F, 0, 0x0E}, {kAccent, 0x6F, 0, 0x12},  // F8
    {kAccent, 0x6F, 0, 0x13}, {kAccent, 0x76, 0, 0x0E}, {kWeight, 0x6D, 0x57, 0}, {kAccent, 0x76, 0, 0x13},  // FC

};

uint32_t NextCodePoint(std::string_view s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i++]);
  if (c < 0x80) return c;
  int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
  uint32_t cp = c & (0x3F >> extra);
  for (int k = 0; k < extra && i < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  return cp;
}

[[noreturn]] void ThrowNoWeight(uint32_t cp, const ColumnDef& c) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "U+%04X", cp);
  throw BrenvoError(kErrNotCapable,
                    std::string("Cannot write an index key for the character ") + hex + " in column '" + c.name +
                        "': the engine has no General sort order weight for it.",
                    kJetSource);
}

void AppendBigEndian(uint64_t v, int bytes, std::vector<uint8_t>& out) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void AppendFloating(uint64_t bits, int bytes, std::vector<uint8_t>& out) {
  uint64_t sign = uint64_t{1} << (bytes * 8 - 1);
  uint64_t mask = bytes == 8 ? ~uint64_t{0} : (uint64_t{1} << (bytes * 8)) - 1;
  bits = (bits & sign) ? (~bits & mask) : (bits | sign);
  AppendBigEndian(bits, bytes, out);
}

int64_t AsInt(const ado::Value& v) {
  if (auto p = std::get_if<int64_t>(&v)) return *p;
  if (auto p = std::get_if<bool>(&v)) return *p ? -1 : 0;
  ThrowTypeMismatch();
}

double AsDouble(const ado::Value& v) {
  if (auto p = std::get_if<double>(&v)) return *p;
  if (auto p = std::get_if<float>(&v)) return *p;
  if (auto p = std::get_if<int64_t>(&v)) return static_cast<double>(*p);
  if (auto p = std::get_if<ado::DateTime>(&v)) return ado::OleFromDateTime(*p);
  ThrowTypeMismatch();
}

// Writes the value bytes of a text key:
//
//   weights     the weight bytes of every character that has some
//   0x01
//   accents     one byte per weighted character, 0x02 for a plain one and
//               the accent byte for an accented one; trailing plain ones are
//               left out, so a text without accents has an empty section
//   absent      only when some character sorts as absent: 0x01 0x01 0x01,
//               then per such character 0x8000 | (7 + 4 * n) big-endian,
//               0x06 and its code, n being the number of weighted characters
//               before it
//   0x00
//
// Only accent bytes of whole characters occur in what this engine writes
// (no modifier that combines with the byte before it), so an absent
// character's n is simply the count of weights written before it.
void AppendTextKey(std::string_view text, const ColumnDef& c, std::vector<uint8_t>& key) {
  std::vector<uint8_t> accents, absent;
  uint32_t weighted = 0;
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = NextCodePoint(text, i);
    if (cp >= kHangulFirst && cp <= kHangulLast) {
      if (!HangulWeight(cp, key)) ThrowNoWeight(cp, c);
      ++weighted;
      continue;
    }
    if (cp == kParenthesizedJu) {
      HangulWeight(kJu, key);
      accents.resize(weighted, kPlainAccent);
      accents.push_back(kParenthesizedExtra);
      ++weighted;
      continue;
    }
    if (cp > 0xFF) ThrowNoWeight(cp, c);
    const CharCode& code = kLatin1[cp];
    switch (code.kind) {
      case kNone:
        break;
      case kWeight:
        key.push_back(code.w1);
        if (code.w2) key.push_back(code.w2);
        ++weighted;
        break;
      case kAccent:
        key.push_back(code.w1);
        accents.resize(weighted, kPlainAccent);
        accents.push_back(code.accent);
        ++weighted;
        break;
      case kAbsent: {
        uint32_t at = 0x8000u | (7u + 4u * weighted);
        if (at > 0xFFFF) ThrowNoWeight(cp, c);
        absent.push_back(static_cast<uint8_t>(at >> 8));
        absent.push_back(static_cast<uint8_t>(at));
        absent.push_back(0x06);
        absent.push_back(code.w1);
        break;
      }
    }
  }
  key.push_back(kTextEnd);
  while (!accents.empty() && accents.back() <= kPlainAccent) accents.pop_back();
  key.insert(key.end(), accents.begin(), accents.end());
  if (!absent.empty()) {
    key.push_back(kTextEnd);
    key.push_back(kTextEnd);
    key.push_back(kTextEnd);
    key.insert(key.end(), absent.begin(), absent.end());
  }
  key.push_back(kTextTerminator);
}

}  // namespace

bool SortOrderSupported(uint16_t lcid, uint8_t version) {
  return (lcid == kSortGeneral || lcid == 0) && version == 0;
}

void AppendKeySegment(const ColumnDef& c, bool ascending, const ado::Value& value, std::vector<uint8_t>& key) {
  if (c.type == kColBool) {
    bool yes = !ado::IsNull(value) && AsInt(value) != 0;
    key.push_back((yes == ascending) ? 0x00 : 0xFF);
    return;
  }
  if (ado::IsNull(value)) {
    key.push_back(ascending ? kNullAsc : kNullDesc);
    return;
  }
  key.push_back(ascending ? kFlagAsc : kFlagDesc);
  size_t start = key.size();
  switch (c.type) {
    case kColByte:
      key.push_back(static_cast<uint8_t>(AsInt(value)));
      break;
    case kColInt:
      AppendBigEndian(static_cast<uint16_t>(AsInt(value)) ^ 0x8000u, 2, key);
      break;
    case kColLong:
      AppendBigEndian(static_cast<uint32_t>(AsInt(value)) ^ 0x80000000u, 4, key);
      break;
    case kColMoney: {
      int64_t scaled = 0;
      if (auto p = std::get_if<ado::Currency>(&value)) scaled = p->scaled;
      else ThrowTypeMismatch();
      AppendBigEndian(static_cast<uint64_t>(scaled) ^ (uint64_t{1} << 63), 8, key);
      break;
    }
    case kColFloat:
      AppendFloating(std::bit_cast<uint32_t>(static_cast<float>(AsDouble(value))), 4, key);
      break;
    case kColDouble:
    case kColDateTime:
      AppendFloating(std::bit_cast<uint64_t>(AsDouble(value)), 8, key);
      break;
    case kColText: {
      const auto* s = std::get_if<std::string>(&value);
      if (!s) ThrowTypeMismatch();
      // The empty string's key is not one we could confirm; refuse it like an
      // unknown character rather than guess.
      if (s->empty()) ThrowNoWeight(0, c);
      // Trailing spaces do not count in a key; leading ones do.
      size_t used = s->find_last_not_of(' ');
      if (used == std::string::npos) ThrowNoWeight(' ', c);
      AppendTextKey(std::string_view(s->data(), used + 1), c, key);
      if (!ascending) {
        // A descending text segment is inverted up to and including its
        // terminator, then closed by a plain 0x00 so that a shorter text
        // still sorts after a longer one sharing its start.
        for (size_t i = start; i < key.size(); ++i) key[i] = static_cast<uint8_t>(~key[i]);
        key.push_back(kTextTerminator);
      }
      return;
    }
    default:
      throw BrenvoError(kErrNotCapable, "Cannot write an index key for column '" + c.name + "' of this type.",
                        kJetSource);
  }
  if (!ascending)
    for (size_t i = start; i < key.size(); ++i) key[i] = static_cast<uint8_t>(~key[i]);
}

}  // namespace brenvo::jet
