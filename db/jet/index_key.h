// Index keys: the bytes an index entry sorts by. A key is the concatenation
// of one segment per index column:
//
//   flag byte   0x7F ascending, 0x80 descending; NULL is 0x00 ascending,
//               0xFF descending and carries no value bytes
//   value       integers big-endian with the sign bit flipped (Byte as is);
//               Currency the same over its 64-bit integer; Double, Single and
//               Date/Time big-endian IEEE with the sign bit flipped when the
//               value is positive and every bit flipped when it is negative;
//               Yes/No has no value bytes, the flag says it all (0x00 Yes,
//               0xFF No, swapped when descending);
//               text in the General sort order: one or two weight bytes
//               per character, 0x01, the accent section, then (only when
//               some character sorts as absent) 0x01 0x01 0x01 and the
//               positions of those characters, then 0x00
//   descending  every value byte is inverted; a text segment, inverted
//               up to its terminator, is closed by one more 0x00
//
// Comparing keys as unsigned byte strings gives the index order.
//
// Text weights are produced, in the General order, for the first 256 code
// points (Latin-1 letters, digits, punctuation, control characters), the
// Hangul syllables and ㈜; in the Korean order for the characters its files
// show (see AppendKoreanText). Anything else is refused rather than given a
// wrong key, since a wrong key is a corrupt index for the host application.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/ado/value.h"
#include "db/jet/table_def.h"

namespace brenvo::jet {

// The sort orders keys can be written for: General (LCID 1033) as Jet 4 files
// made for Access 2000 carry it (sort version 0 in the header), and Korean
// (LCID 1042, version 0), the order Access on Korean Windows gives new files.
inline constexpr uint16_t kSortGeneral = 1033;
inline constexpr uint16_t kSortKorean = 1042;

enum class TextOrder : uint8_t { General, Korean, Unsupported };

// The order of an LCID and sort-order version (a column's byte after its
// LCID, the header's byte 0x71). Version 0 is the order of Access 2000-2007;
// later versions of "General" weigh characters differently. LCID 0 is
// General.
TextOrder TextOrderOf(uint16_t lcid, uint8_t version);
// The order of a text column's keys.
TextOrder ColumnTextOrder(const ColumnDef& column);
// True when the engine can write keys for text in this sort order.
bool SortOrderSupported(uint16_t lcid, uint8_t version);
// "General", "Korean" or the LCID, for messages.
std::string TextOrderName(uint16_t lcid);

// Key segments Access already wrote, by sort order and text (see
// stored_keys.h); consulted before the engine's own weights.
class StoredKeys;

// Appends the key segment of one column value. value must already be of the
// column's stored type (after conversion); Null for NULL. A text value that
// stored holds takes that segment. Throws BrenvoError when a text value
// holds a character the engine has no weight for.
void AppendKeySegment(const ColumnDef& column, bool ascending, const ado::Value& value,
                      std::vector<uint8_t>& key, const StoredKeys* stored = nullptr);

// The segment of a text value in the given order (flag byte included), or
// false with the first character that has no weight in *refused (0 for the
// empty or all-space text where the order refuses it). Throws nothing.
bool TextKeySegment(TextOrder order, bool ascending, std::string_view text, std::vector<uint8_t>& out,
                    uint32_t* refused);

}  // namespace brenvo::jet
