#include "db/jet/index_key.h"

#include <bit>
#include <cstring>

#include "db/jet/jet_errors.h"
#include "db/jet/stored_keys.h"
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
// Hangul compatibility jamo (U+3131..U+318E), two weight bytes each. A
// consonant weighs just below the first syllable it begins (ㄱ below 가),
// the vowels sit together inside the ㅇ block.
constexpr uint32_t kJamoFirst = 0x3131;
constexpr uint32_t kJamoLast = 0x318E;
constexpr uint16_t kJamoWeight[kJamoLast - kJamoFirst + 1] = {
    0x8102, 0x8353, 0x85A5, 0x85A7, 0x87FE, 0x8802, 0x8803, 0x8A55,  // U+3131
    0x8CA7, 0x8EF8, 0x8EFE, 0x8F03, 0x8F07, 0x8F0A, 0x8F0B, 0x8F0D,  // U+3139
    0x8F10, 0x916A, 0x93BF, 0x9612, 0x961F, 0x9879, 0x9AD5, 0x9D7B,  // U+3141
    0x9FCE, 0xA224, 0xA479, 0xA6CA, 0xA91D, 0xAB70, 0x9AD6, 0x9AD7,  // U+3149
    0x9AD8, 0x9AD9, 0x9ADA, 0x9ADB, 0x9ADC, 0x9ADD, 0x9ADE, 0x9ADF,  // U+3151
    0x9AE0, 0x9AE1, 0x9AE2, 0x9AE3, 0x9AE4, 0x9AE5, 0x9AE6, 0x9AE7,  // U+3159
    0x9AE8, 0x9AE9, 0x9AEA, 0xADC8, 0x87F8, 0x87FA, 0x87FC, 0x87FD,  // U+3161
    0x8EF9, 0x8EFB, 0x8F04, 0x8F09, 0x8F0F, 0x9163, 0x9164, 0x9166,  // U+3169
    0x9169, 0x93BB, 0x93BD, 0x9613, 0x9614, 0x9618, 0x961A, 0x961D,  // U+3171
    0x961E, 0x9872, 0x9873, 0x9874, 0x9877, 0x9ACD, 0x9AD4, 0x9D6B,  // U+3179
    0x9D7A, 0x9D72, 0x9D74, 0xAB6F, 0xADC1, 0xADC2, 0x9AF9, 0x9AFA,  // U+3181
    0x9AFD, 0x9B08, 0x9B09, 0x9B0B, 0x9B14, 0x9B18,  // U+3189
};

// Parenthesized (U+3200..U+321B) and circled (U+3260..U+327B) Hangul weigh
// as the letter or syllable inside and record their form in the accent
// section: the 14 basic consonants first, then those consonants with ㅏ.
// ㈜ (U+321C) weighs as 주 the same way.
constexpr uint32_t kParenthesizedFirst = 0x3200;
constexpr uint32_t kCircledFirst = 0x3260;
constexpr uint32_t kEnclosedCount = 28;
constexpr uint8_t kParenthesizedExtra = 0x0A;
constexpr uint8_t kCircledExtra = 0x0C;
constexpr uint32_t kParenthesizedJu = 0x321C;
constexpr uint32_t kJu = 0xC8FC;
// Initial-consonant numbers (0..18) of ㄱ ㄴ ㄷ ㄹ ㅁ ㅂ ㅅ ㅇ ㅈ ㅊ ㅋ ㅌ ㅍ ㅎ.
constexpr uint8_t kBasicInitials[14] = {0, 2, 3, 5, 6, 7, 9, 11, 12, 14, 15, 16, 17, 18};
constexpr uint32_t kInitialJamo[19] = {0x3131, 0x3132, 0x3134, 0x3137, 0x3138, 0x3139, 0x3141,
                                       0x3142, 0x3143, 0x3145, 0x3146, 0x3147, 0x3148, 0x3149,
                                       0x314A, 0x314B, 0x314C, 0x314D, 0x314E};
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
//   kNone    U+0000 contributes nothing at all; in the other tables the
//            entries left out, which are refused
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

// General punctuation U+2010..U+2046: dashes sort as absent like the
// hyphen, typographic quotes, daggers, bullets, ellipsis, per mille, ※ and
// the primes weigh. U+2028..U+202F (line and paragraph separators, bidi
// controls) are left out (kNone here) and refused.
constexpr uint32_t kPunctFirst = 0x2010;
constexpr uint32_t kPunctLast = 0x2046;
constexpr CharCode kGeneralPunctuation[kPunctLast - kPunctFirst + 1] = {
    {kAbsent, 0x84, 0, 0}, {kAbsent, 0x85, 0, 0}, {kAbsent, 0x88, 0, 0}, {kAbsent, 0x89, 0, 0},  // U+2010
    {kAbsent, 0x8B, 0, 0}, {kAbsent, 0x8C, 0, 0}, {kWeight, 0x2B, 0x35, 0}, {kWeight, 0x2B, 0x36, 0},  // U+2014
    {kWeight, 0x2B, 0x37, 0}, {kWeight, 0x2B, 0x38, 0}, {kWeight, 0x2B, 0x39, 0}, {kWeight, 0x2B, 0x3A, 0},  // U+2018
    {kWeight, 0x2B, 0x3B, 0}, {kWeight, 0x2B, 0x3C, 0}, {kWeight, 0x2B, 0x3D, 0}, {kWeight, 0x2B, 0x3E, 0},  // U+201C
    {kWeight, 0x34, 0xB3, 0}, {kWeight, 0x34, 0xB4, 0}, {kWeight, 0x34, 0xB5, 0}, {kWeight, 0x34, 0xB6, 0},  // U+2020
    {kWeight, 0x34, 0xB7, 0}, {kWeight, 0x34, 0xB8, 0}, {kWeight, 0x34, 0xB9, 0}, {kAbsent, 0x86, 0, 0},  // U+2024
    {kNone, 0, 0, 0}, {kNone, 0, 0, 0}, {kNone, 0, 0, 0}, {kNone, 0, 0, 0},  // U+2028
    {kNone, 0, 0, 0}, {kNone, 0, 0, 0}, {kNone, 0, 0, 0}, {kNone, 0, 0, 0},  // U+202C
    {kWeight, 0x34, 0xBA, 0}, {kWeight, 0x34, 0xBB, 0}, {kWeight, 0x2B, 0x3F, 0}, {kWeight, 0x2B, 0x40, 0},  // U+2030
    {kWeight, 0x2B, 0x41, 0}, {kWeight, 0x2B, 0x42, 0}, {kWeight, 0x2B, 0x43, 0}, {kWeight, 0x2B, 0x44, 0},  // U+2034
    {kWeight, 0x2B, 0x45, 0}, {kWeight, 0x2B, 0x46, 0}, {kWeight, 0x2B, 0x47, 0}, {kWeight, 0x34, 0xBC, 0},  // U+2038
    {kWeight, 0x2B, 0x48, 0}, {kWeight, 0x2B, 0x49, 0}, {kWeight, 0x2B, 0x4A, 0}, {kWeight, 0x2B, 0x4B, 0},  // U+203C
    {kWeight, 0x34, 0xBD, 0}, {kWeight, 0x34, 0xBE, 0}, {kWeight, 0x34, 0xBF, 0}, {kAbsent, 0x87, 0, 0},  // U+2040
    {kWeight, 0x2D, 0x05, 0}, {kAccent, 0x27, 0, 0x1C}, {kAccent, 0x2A, 0, 0x1C},  // U+2044
};
// Currency signs U+20A0..U+20AC (₩ among them) weigh 0x34 0xC0 upwards in
// code order; the euro sign, added last, weighs 0x35 0xA1.
constexpr uint32_t kCurrencyFirst = 0x20A0;
constexpr uint32_t kEuro = 0x20AC;

CharCode CurrencyCode(uint32_t cp) {
  if (cp == kEuro) return {kWeight, 0x35, 0xA1, 0};
  return {kWeight, 0x34, static_cast<uint8_t>(0xC0 + (cp - kCurrencyFirst)), 0};
}

// CJK symbols U+3001..U+301F: the ideographic comma and full stop, ditto
// mark, the corner, angle, lenticular and tortoise-shell brackets; the wave
// dash sorts as absent. U+3000 (ideographic space, which would weigh as a
// space but is not trimmed as one), 々 〆 〇 are left out (kNone) and refused.
constexpr uint32_t kCjkSymbolsFirst = 0x3000;
constexpr uint32_t kCjkSymbolsLast = 0x301F;
constexpr CharCode kCjkSymbols[kCjkSymbolsLast - kCjkSymbolsFirst + 1] = {
    {kNone, 0, 0, 0}, {kWeight, 0x1B, 0x03, 0}, {kWeight, 0x1D, 0x02, 0}, {kWeight, 0x2B, 0x97, 0},  // U+3000
    {kWeight, 0x34, 0xD1, 0}, {kNone, 0, 0, 0}, {kNone, 0, 0, 0}, {kNone, 0, 0, 0},  // U+3004
    {kWeight, 0x2B, 0x51, 0}, {kWeight, 0x2B, 0x53, 0}, {kWeight, 0x2B, 0x55, 0}, {kWeight, 0x2B, 0x57, 0},  // U+3008
    {kWeight, 0x2B, 0x59, 0}, {kWeight, 0x2B, 0x5B, 0}, {kWeight, 0x2B, 0x5D, 0}, {kWeight, 0x2B, 0x5F, 0},  // U+300C
    {kWeight, 0x2B, 0x61, 0}, {kWeight, 0x2B, 0x63, 0}, {kWeight, 0x34, 0xCC, 0}, {kWeight, 0x34, 0xCD, 0},  // U+3010
    {kWeight, 0x2B, 0x66, 0}, {kWeight, 0x2B, 0x69, 0}, {kWeight, 0x2B, 0x6B, 0}, {kWeight, 0x2B, 0x6C, 0},  // U+3014
    {kWeight, 0x2B, 0x6D, 0}, {kWeight, 0x2B, 0x6E, 0}, {kWeight, 0x2B, 0x6F, 0}, {kWeight, 0x2B, 0x70, 0},  // U+3018
    {kAbsent, 0x8D, 0, 0}, {kWeight, 0x2B, 0x71, 0}, {kWeight, 0x2B, 0x72, 0}, {kWeight, 0x2B, 0x73, 0},  // U+301C
};

// Full-width ASCII (U+FF01..U+FF5E) carries exactly the codes of the ASCII
// character it copies (（ weighs as (, ～ as ~); the full-width signs
// ￠ ￡ ￢ ￣ ￤ ￥ those of their Latin-1 counterparts, ￦ that of ₩.
constexpr uint32_t kFullWidthFirst = 0xFF01;
constexpr uint32_t kFullWidthLast = 0xFF5E;
constexpr uint32_t kFullWidthOffset = 0xFEE0;
constexpr uint32_t kFullWidthSignsFirst = 0xFFE0;
constexpr uint32_t kFullWidthWon = 0xFFE6;
constexpr uint32_t kWon = 0x20A9;
constexpr uint8_t kFullWidthSignLatin1[6] = {0xA2, 0xA3, 0xAC, 0xAF, 0xA6, 0xA5};

void JamoWeight(uint32_t cp, std::vector<uint8_t>& key) {
  uint16_t w = kJamoWeight[cp - kJamoFirst];
  key.push_back(static_cast<uint8_t>(w >> 8));
  key.push_back(static_cast<uint8_t>(w));
}

// The weight of an enclosed Hangul form, or false when cp is none.
bool EnclosedHangulWeight(uint32_t cp, std::vector<uint8_t>& key, uint8_t& extra) {
  uint32_t n;
  if (cp >= kParenthesizedFirst && cp < kParenthesizedFirst + kEnclosedCount) {
    n = cp - kParenthesizedFirst;
    extra = kParenthesizedExtra;
  } else if (cp >= kCircledFirst && cp < kCircledFirst + kEnclosedCount) {
    n = cp - kCircledFirst;
    extra = kCircledExtra;
  } else if (cp == kParenthesizedJu) {
    HangulWeight(kJu, key);
    extra = kParenthesizedExtra;
    return true;
  } else {
    return false;
  }
  uint32_t initial = kBasicInitials[n % 14];
  if (n < 14) JamoWeight(kInitialJamo[initial], key);
  else HangulWeight(kHangulFirst + initial * kHangulBlock, key);
  return true;
}

uint32_t NextCodePoint(std::string_view s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i++]);
  if (c < 0x80) return c;
  int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
  uint32_t cp = c & (0x3F >> extra);
  for (int k = 0; k < extra && i < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  return cp;
}

constexpr uint32_t kAllWeighed = 0xFFFFFFFFu;

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

[[noreturn]] void ThrowNoWeight(uint32_t cp, const ColumnDef& c) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "U+%04X", cp);
  std::string what;
  if (cp == 0) {
    what = "the empty text";
  } else {
    what = "the character ";
    // Control characters are named by their code alone.
    if (cp >= 0x20 && cp != 0x7F && !(cp >= 0x80 && cp < 0xA0)) {
      what += '\'';
      AppendUtf8(cp, what);
      what += "' (";
      what += hex;
      what += ')';
    } else {
      what += hex;
    }
  }
  throw BrenvoError(kErrNotCapable,
                    "Cannot write an index key for " + what + " in column '" + c.name +
                        "': the engine has no weight for it in the " + TextOrderName(c.sortLcid) + " sort order.",
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
// A character that sorts as absent (a control character) leaves no weight;
// its place goes after the text's weights as 80 00 | 7 + 4 x (weights before
// it), 06, its code. False when the place no longer fits in two bytes.
bool PushAbsent(std::vector<uint8_t>& absent, uint32_t weighted, uint8_t code) {
  uint32_t at = 0x8000u | (7u + 4u * weighted);
  if (at > 0xFFFF) return false;
  absent.push_back(static_cast<uint8_t>(at >> 8));
  absent.push_back(static_cast<uint8_t>(at));
  absent.push_back(0x06);
  absent.push_back(code);
  return true;
}

// Closes a text segment: the section of absent characters, if any, behind
// three end marks, then the terminator.
void CloseText(std::vector<uint8_t>& key, const std::vector<uint8_t>& absent) {
  if (!absent.empty()) {
    key.push_back(kTextEnd);
    key.push_back(kTextEnd);
    key.push_back(kTextEnd);
    key.insert(key.end(), absent.begin(), absent.end());
  }
  key.push_back(kTextTerminator);
}

uint32_t AppendGeneralText(std::string_view text, std::vector<uint8_t>& key) {
  std::vector<uint8_t> accents, absent;
  uint32_t weighted = 0;
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = NextCodePoint(text, i);
    if (cp >= kHangulFirst && cp <= kHangulLast) {
      HangulWeight(cp, key);
      ++weighted;
      continue;
    }
    if (cp >= kJamoFirst && cp <= kJamoLast) {
      JamoWeight(cp, key);
      ++weighted;
      continue;
    }
    uint8_t enclosed = 0;
    if (EnclosedHangulWeight(cp, key, enclosed)) {
      accents.resize(weighted, kPlainAccent);
      accents.push_back(enclosed);
      ++weighted;
      continue;
    }
    CharCode code;
    if (cp <= 0xFF) code = kLatin1[cp];
    else if (cp >= kPunctFirst && cp <= kPunctLast) code = kGeneralPunctuation[cp - kPunctFirst];
    else if (cp >= kCurrencyFirst && cp <= kEuro) code = CurrencyCode(cp);
    else if (cp >= kCjkSymbolsFirst && cp <= kCjkSymbolsLast) code = kCjkSymbols[cp - kCjkSymbolsFirst];
    else if (cp >= kFullWidthFirst && cp <= kFullWidthLast) code = kLatin1[cp - kFullWidthOffset];
    else if (cp >= kFullWidthSignsFirst && cp < kFullWidthWon) code = kLatin1[kFullWidthSignLatin1[cp - kFullWidthSignsFirst]];
    else if (cp == kFullWidthWon) code = CurrencyCode(kWon);
    else return cp;
    // Entries left out of a table above.
    if (code.kind == kNone && cp != 0) return cp;
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
      case kAbsent:
        if (!PushAbsent(absent, weighted, code.w1)) return cp;
        break;
    }
  }
  key.push_back(kTextEnd);
  while (!accents.empty() && accents.back() <= kPlainAccent) accents.pop_back();
  key.insert(key.end(), accents.begin(), accents.end());
  CloseText(key, absent);
  return kAllWeighed;
}


// The Korean sort order (LCID 1042, version 0), as the index entries of the
// Korean-made Access files show it: the layout of General (weights, 0x01,
// the section of characters that sort as absent, 0x00), with
//   digits, ':' and '_'  their General weights
//   ASCII letters        their General one-byte weight + 0x72 (A-Z 0xBC-0xEA),
//                        either case, and no accent section: "ABC" and "abc"
//                        are one key
//   Hangul syllables     their General two-byte weight with 0x37 taken from
//                        the first byte, so Hangul sorts after the digits and
//                        before the Latin letters
//   U+0003               sorts as absent with its General code (0x05)
//   the empty text       7F 01 00
// Observed: every digit, every letter (in one case or both), '_', U+0003, the
// empty text, and four syllables (카 드 번 호), one in each of four
// initial-consonant blocks. Not observed, inferred: ':' (given as General by
// those who read the files, absent from the samples we hold), the other
// syllables (the General table's layout, moved down as those four are) and
// the compatibility jamo U+3131..U+318E (moved down by the same 0x37).
// Every other character (the space, punctuation, Hanja, Latin-1 letters,
// symbols, other control characters) has weights no file shows: refused.
constexpr uint8_t kKoreanLetterShift = 0x72;
constexpr uint8_t kKoreanHangulShift = 0x37;
constexpr uint32_t kKoreanAbsent = 0x03;

uint32_t AppendKoreanText(std::string_view text, std::vector<uint8_t>& key) {
  std::vector<uint8_t> absent;
  uint32_t weighted = 0;
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = NextCodePoint(text, i);
    if ((cp >= '0' && cp <= '9') || cp == ':' || cp == '_') {
      key.push_back(kLatin1[cp].w1);
      if (kLatin1[cp].w2) key.push_back(kLatin1[cp].w2);
    } else if ((cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z')) {
      key.push_back(static_cast<uint8_t>(kLatin1[cp].w1 + kKoreanLetterShift));
    } else if (cp >= kHangulFirst && cp <= kHangulLast) {
      HangulWeight(cp, key);
      key[key.size() - 2] = static_cast<uint8_t>(key[key.size() - 2] - kKoreanHangulShift);
    } else if (cp >= kJamoFirst && cp <= kJamoLast) {
      JamoWeight(cp, key);
      key[key.size() - 2] = static_cast<uint8_t>(key[key.size() - 2] - kKoreanHangulShift);
    } else if (cp == kKoreanAbsent) {
      if (!PushAbsent(absent, weighted, kLatin1[cp].w1)) return cp;
      continue;
    } else {
      return cp;
    }
    ++weighted;
  }
  key.push_back(kTextEnd);
  CloseText(key, absent);
  return kAllWeighed;
}

// The value bytes of a text segment (no flag, not inverted); the refused
// character or kAllWeighed.
uint32_t AppendTextValue(TextOrder order, std::string_view s, std::vector<uint8_t>& key) {
  if (order == TextOrder::Korean) return AppendKoreanText(s, key);
  if (order != TextOrder::General) return s.empty() ? 0 : static_cast<unsigned char>(s[0]);
  // The empty text: no weights, 0x01, 0x00, as the Korean and Chinese files
  // store it (no General file holds one; the layout is the one all orders
  // share). An all-space text, which would trim to it, stays refused.
  if (s.empty()) {
    key.push_back(kTextEnd);
    key.push_back(kTextTerminator);
    return kAllWeighed;
  }
  // Trailing spaces do not count in a key; leading ones do.
  size_t used = s.find_last_not_of(' ');
  if (used == std::string::npos) return ' ';
  return AppendGeneralText(s.substr(0, used + 1), key);
}

}  // namespace

TextOrder TextOrderOf(uint16_t lcid, uint8_t version) {
  if (version != 0) return TextOrder::Unsupported;
  if (lcid == kSortGeneral || lcid == 0) return TextOrder::General;
  if (lcid == kSortKorean) return TextOrder::Korean;
  return TextOrder::Unsupported;
}

TextOrder ColumnTextOrder(const ColumnDef& c) {
  return TextOrderOf(c.sortLcid, static_cast<uint8_t>(c.codePage & 0xFF));
}

bool SortOrderSupported(uint16_t lcid, uint8_t version) {
  return TextOrderOf(lcid, version) != TextOrder::Unsupported;
}

std::string TextOrderName(uint16_t lcid) {
  if (lcid == kSortGeneral || lcid == 0) return "General";
  if (lcid == kSortKorean) return "Korean";
  return "LCID " + std::to_string(lcid);
}

bool TextKeySegment(TextOrder order, bool ascending, std::string_view text, std::vector<uint8_t>& out,
                    uint32_t* refused) {
  size_t start = out.size();
  out.push_back(ascending ? kFlagAsc : kFlagDesc);
  uint32_t r = AppendTextValue(order, text, out);
  if (r != kAllWeighed) {
    out.resize(start);
    if (refused) *refused = r;
    return false;
  }
  if (!ascending) {
    // A descending text segment is inverted up to and including its
    // terminator, then closed by a plain 0x00 so that a shorter text still
    // sorts after a longer one sharing its start.
    for (size_t i = start + 1; i < out.size(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
    out.push_back(kTextTerminator);
  }
  return true;
}

void AppendKeySegment(const ColumnDef& c, bool ascending, const ado::Value& value, std::vector<uint8_t>& key,
                      const StoredKeys* stored) {
  if (c.type == kColBool) {
    bool yes = !ado::IsNull(value) && AsInt(value) != 0;
    key.push_back((yes == ascending) ? 0x00 : 0xFF);
    return;
  }
  if (ado::IsNull(value)) {
    key.push_back(ascending ? kNullAsc : kNullDesc);
    return;
  }
  if (c.type == kColText) {
    const auto* s = std::get_if<std::string>(&value);
    if (!s) ThrowTypeMismatch();
    TextOrder order = ColumnTextOrder(c);
    if (stored && stored->Find(order, ascending, *s, key)) return;
    if (order == TextOrder::Unsupported)
      throw BrenvoError(kErrNotCapable,
                        "Cannot write an index key for column '" + c.name + "': its sort order (" +
                            TextOrderName(c.sortLcid) + ") is not one the engine writes.",
                        kJetSource);
    uint32_t refused = 0;
    if (!TextKeySegment(order, ascending, *s, key, &refused)) ThrowNoWeight(refused, c);
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
    default:
      throw BrenvoError(kErrNotCapable, "Cannot write an index key for column '" + c.name + "' of this type.",
                        kJetSource);
  }
  if (!ascending)
    for (size_t i = start; i < key.size(); ++i) key[i] = static_cast<uint8_t>(~key[i]);
}

}  // namespace brenvo::jet
