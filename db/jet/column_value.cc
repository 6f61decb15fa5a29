#include "db/jet/column_value.h"

#include <algorithm>
#include <cmath>

#include "db/jet/long_value.h"
#include "db/jet/text.h"

namespace brenvo::jet {
namespace {

void NeedSize(ByteView b, size_t n, const ColumnDef& c) {
  if (b.size < n) ThrowCorrupt("value of column '" + c.name + "' too short");
}

}  // namespace

std::string DecimalText(const uint8_t* p, int scale) {
  unsigned __int128 v = 0;
  for (int w = 0; w < 4; ++w) v = (v << 32) | Get32(p + 1 + 4 * w);
  std::string digits;
  do {
    digits.push_back(static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  if (scale > 38) scale = 38;
  while (static_cast<int>(digits.size()) <= scale) digits.push_back('0');
  std::reverse(digits.begin(), digits.end());
  if (scale > 0) digits.insert(digits.end() - scale, '.');
  bool zero = std::all_of(digits.begin(), digits.end(), [](char ch) { return ch == '0' || ch == '.'; });
  if ((p[0] & 0x80) && !zero) digits.insert(digits.begin(), '-');
  return digits;
}

ado::Value DecodeValue(const PageFile& file, const RowReader& row, const ColumnDef& c,
                       std::vector<uint8_t>& scratch) {
  if (c.type == kColBool) return row.HasValue(c);
  if (!row.HasValue(c)) return ado::Null{};
  ByteView b = row.Bytes(c);
  switch (c.type) {
    case kColByte:
      NeedSize(b, 1, c);
      return static_cast<int64_t>(b.data[0]);
    case kColInt:
      NeedSize(b, 2, c);
      return static_cast<int64_t>(static_cast<int16_t>(Get16(b.data)));
    case kColLong:
      NeedSize(b, 4, c);
      return static_cast<int64_t>(static_cast<int32_t>(Get32(b.data)));
    case kColMoney:
      NeedSize(b, 8, c);
      return ado::Currency{static_cast<int64_t>(Get64(b.data))};
    case kColFloat:
      NeedSize(b, 4, c);
      return GetFloat(b.data);
    case kColDouble:
      NeedSize(b, 8, c);
      return GetDouble(b.data);
    case kColDateTime: {
      NeedSize(b, 8, c);
      double d = GetDouble(b.data);
      // Jet's range is the years 100 to 9999.
      if (!std::isfinite(d) || d < -657434.0 || d > 2958466.0)
        ThrowCorrupt("date value of column '" + c.name + "' out of range");
      return ado::DateTimeFromOle(d);
    }
    case kColGuid: {
      NeedSize(b, 16, c);
      ado::Guid g;
      std::copy(b.data, b.data + 16, g.bytes.begin());
      return g;
    }
    case kColNumeric:
      NeedSize(b, 17, c);
      return ado::Decimal{DecimalText(b.data, c.scale)};
    case kColText: {
      std::string s;
      DecodeStoredText(file.Text(), b.data, b.size, s);
      return s;
    }
    case kColMemo: {
      ReadLongValue(file, b, scratch);
      std::string s;
      DecodeStoredText(file.Text(), scratch.data(), scratch.size(), s);
      return s;
    }
    case kColOle:
      ReadLongValue(file, b, scratch);
      return ado::Bytes(scratch.begin(), scratch.end());
    default:
      return ado::Bytes(b.data, b.data + b.size);
  }
}

ado::DataType AdoType(const ColumnDef& c) {
  switch (c.type) {
    case kColBool: return ado::adBoolean;
    case kColByte: return ado::adUnsignedTinyInt;
    case kColInt: return ado::adSmallInt;
    case kColLong: return ado::adInteger;
    case kColMoney: return ado::adCurrency;
    case kColFloat: return ado::adSingle;
    case kColDouble: return ado::adDouble;
    case kColDateTime: return ado::adDate;
    case kColBinary: return c.IsFixed() ? ado::adBinary : ado::adVarBinary;
    case kColText: return c.IsFixed() ? ado::adWChar : ado::adVarWChar;
    case kColOle: return ado::adLongVarBinary;
    case kColMemo: return ado::adLongVarWChar;
    case kColGuid: return ado::adGUID;
    case kColNumeric: return ado::adNumeric;
    default: return ado::adVarBinary;
  }
}

long AdoDefinedSize(const ColumnDef& c) {
  switch (c.type) {
    case kColBool: return 2;  // a VARIANT_BOOL
    case kColText: return c.length / c.bytesPerChar;
    case kColMemo: return 536870910;
    case kColOle: return 1073741823;
    case kColNumeric: return 19;
    default: return c.length;
  }
}

const char* TypeName(uint8_t type) {
  switch (type) {
    case kColBool: return "BOOLEAN";
    case kColByte: return "BYTE";
    case kColInt: return "INT";
    case kColLong: return "LONG";
    case kColMoney: return "MONEY";
    case kColFloat: return "FLOAT";
    case kColDouble: return "DOUBLE";
    case kColDateTime: return "SHORT_DATE_TIME";
    case kColBinary: return "BINARY";
    case kColText: return "TEXT";
    case kColOle: return "OLE";
    case kColMemo: return "MEMO";
    case kColGuid: return "GUID";
    case kColNumeric: return "NUMERIC";
    case kColComplex: return "COMPLEX_TYPE";
    default: return "UNKNOWN";
  }
}

}  // namespace brenvo::jet
