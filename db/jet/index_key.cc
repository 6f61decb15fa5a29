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

// General-order weights of the lower-case Latin letters; upper case shares
// them and adds nothing to the extra section.
constexpr uint8_t kLetterWeight[26] = {
    0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59, 0x5B, 0x5C, 0x5E, 0x60,
    0x62, 0x64, 0x66, 0x68, 0x69, 0x6B, 0x6D, 0x6F, 0x71, 0x73, 0x75, 0x76, 0x78,
};

// Hangul syllables (U+AC00..U+D7A3) weigh two bytes. Within the block of
// one initial consonant (21 vowels x 28 finals = 588 syllables, in code
// order) the weights run consecutively; between blocks the order leaves
// room for other letters. A weight is a sequence number s written as
// (s - 2) / 254 and 2 + (s - 2) % 254: its low byte runs 0x02..0xFF.
// The block starts below were measured on General-order files; 0 marks
// the blocks of ㄸ ㅃ ㅉ, not measured, refused.
constexpr uint32_t kHangulBlockStart[19] = {
    32769, 32770, 32774, 32784, 0, 32788, 32811, 32821, 0, 32842,
    32853, 32929, 32948, 0,     32955, 32958, 32959, 32960, 32963,
};
constexpr uint32_t kHangulFirst = 0xAC00;
constexpr uint32_t kHangulLast = 0xD7A3;
constexpr uint32_t kHangulBlock = 588;
// ㈜ weighs as 주 and records itself in the extra section.
constexpr uint32_t kParenthesizedJu = 0x321C;
constexpr uint32_t kJu = 0xC8FC;
constexpr uint8_t kParenthesizedExtra = 0x0A;

bool HangulWeight(uint32_t cp, std::vector<uint8_t>& key) {
  if (cp < kHangulFirst || cp > kHangulLast) return false;
  uint32_t idx = cp - kHangulFirst;
  uint32_t start = kHangulBlockStart[idx / kHangulBlock];
  if (start == 0) return false;
  uint32_t s = start + idx;
  key.push_back(static_cast<uint8_t>((s - 2) / 254));
  key.push_back(static_cast<uint8_t>(2 + (s - 2) % 254));
  return true;
}

uint8_t TextWeight(uint32_t cp) {
  if (cp >= '0' && cp <= '9') return static_cast<uint8_t>(0x36 + 2 * (cp - '0'));
  if (cp >= 'a' && cp <= 'z') return kLetterWeight[cp - 'a'];
  if (cp >= 'A' && cp <= 'Z') return kLetterWeight[cp - 'A'];
  switch (cp) {
    case ' ': return 0x07;
    case '(': return 0x14;
    case ')': return 0x16;
    case '\\': return 0x29;
    default: return 0;
  }
}

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
      std::string_view text(s->data(), used + 1);
      // Characters that sort as if absent (hyphen, apostrophe) leave no
      // weight; each is recorded after the weights as a 4-byte code: 0x8000 |
      // (7 + 4 * its position in the text) big-endian, 0x06, its own code. That
      // section follows three 0x01 marks (ending the weights, the empty
      // accent section and the empty section before it).
      std::vector<uint8_t> absent, extra;
      size_t position = 0;
      for (size_t i = 0; i < text.size(); ++position) {
        uint32_t cp = NextCodePoint(text, i);
        if (cp >= kHangulFirst && cp <= kHangulLast) {
          if (!HangulWeight(cp, key)) ThrowNoWeight(cp, c);
          continue;
        }
        // Only seen first in a text; elsewhere its extra byte would need the
        // placeholders of the characters before it, which are not known.
        if (cp == kParenthesizedJu && position == 0) {
          HangulWeight(kJu, key);
          extra.push_back(kParenthesizedExtra);
          continue;
        }
        if (cp == '-' || cp == '\'') {
          uint32_t at = 0x8000u | (7u + 4u * static_cast<uint32_t>(position));
          if (at > 0xFFFF) ThrowNoWeight(cp, c);
          absent.push_back(static_cast<uint8_t>(at >> 8));
          absent.push_back(static_cast<uint8_t>(at));
          absent.push_back(0x06);
          absent.push_back(cp == '-' ? 0x82 : 0x80);
          continue;
        }
        uint8_t w = TextWeight(cp);
        if (w == 0) ThrowNoWeight(cp, c);
        key.push_back(w);
      }
      key.push_back(kTextEnd);
      key.insert(key.end(), extra.begin(), extra.end());
      if (!absent.empty() && !extra.empty()) ThrowNoWeight(kParenthesizedJu, c);
      if (!absent.empty()) {
        key.push_back(kTextEnd);
        key.push_back(kTextEnd);
        key.push_back(kTextEnd);
        key.insert(key.end(), absent.begin(), absent.end());
      }
      key.push_back(kTextTerminator);
      break;
    }
    default:
      throw BrenvoError(kErrNotCapable, "Cannot write an index key for column '" + c.name + "' of this type.",
                        kJetSource);
  }
  if (!ascending)
    for (size_t i = start; i < key.size(); ++i) key[i] = static_cast<uint8_t>(~key[i]);
}

}  // namespace brenvo::jet
