// Memo and OLE values ("long values"). The row holds a 12-byte field:
//
//   0  3  length of the value in bytes
//   3  1  form: 0x80 inline, 0x40 one other row, 0x00 a chain of rows
//   4  4  row pointer of the (first) row holding the value
//   8  4  unused
//   12    inline form only: the value itself
//
// Single-row form: the named row (on a long-value data page, "LVAL" in bytes
// 4-7) is the value. Chain form: each row begins with the 4-byte pointer to
// the next row (0 at the end), the rest of the row is the next piece.
#pragma once

#include <cstdint>
#include <vector>

#include "db/jet/data_page.h"

namespace brenvo::jet {

inline constexpr uint8_t kLvalInline = 0x80;
inline constexpr uint8_t kLvalSingle = 0x40;
inline constexpr uint8_t kLvalChain = 0x00;
inline constexpr size_t kLvalHeader = 12;

// Gathers the bytes of a long value into out (cleared first). Throws on a
// damaged field, a pointer out of range or a chain that loops.
void ReadLongValue(const PageFile& file, ByteView field, std::vector<uint8_t>& out);

}  // namespace brenvo::jet
