// Typed values as they cross the record-set layer. Both databases hand out
// and take the same Value, so the copy run never parses text it did not have to.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace brenvo::ado {

// ADO's DataTypeEnum codes, as the providers report them.
enum DataType : int {
  adEmpty = 0,
  adSmallInt = 2,
  adInteger = 3,
  adSingle = 4,
  adDouble = 5,
  adCurrency = 6,
  adDate = 7,
  adBSTR = 8,  // the text fields of cMySQL's in-memory row sets
  adBoolean = 11,
  adDecimal = 14,
  adTinyInt = 16,
  adUnsignedTinyInt = 17,
  adUnsignedSmallInt = 18,
  adUnsignedInt = 19,
  adBigInt = 20,
  adUnsignedBigInt = 21,
  adGUID = 72,
  adBinary = 128,
  adChar = 129,
  adWChar = 130,
  adNumeric = 131,
  adDBDate = 133,
  adDBTime = 134,
  adDBTimeStamp = 135,
  adVarChar = 200,
  adLongVarChar = 201,
  adVarWChar = 202,
  adLongVarWChar = 203,
  adVarBinary = 204,
  adLongVarBinary = 205,
};

// ADO's ObjectStateEnum.
enum ObjectState : int { adStateClosed = 0, adStateOpen = 1 };

struct Null {
  bool operator==(const Null&) const = default;
};

// A calendar date and time of day, whole seconds plus microseconds.
// Year 0 with month 0 and day 0 is MySQL's zero date.
struct DateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  int microsecond = 0;
  bool operator==(const DateTime&) const = default;
  bool IsZeroDate() const { return year == 0 && month == 0 && day == 0; }
};

// Jet / OLE dates: days since 1899-12-30, the time as the fraction of the day
// (for dates before 1899-12-30 the fraction counts forward from the day).
DateTime DateTimeFromOle(double ole);
double OleFromDateTime(const DateTime& dt);
// "YYYY-MM-DD HH:MM:SS" (and ".ffffff" when microseconds are set).
std::string FormatDateTime(const DateTime& dt);

// Currency: a 64-bit integer scaled by 10,000.
struct Currency {
  int64_t scaled = 0;
  bool operator==(const Currency&) const = default;
};

// Decimal/Numeric: the plain decimal text ("-12.340"), scale digits after the point.
struct Decimal {
  std::string text;
  bool operator==(const Decimal&) const = default;
};

struct Guid {
  std::array<uint8_t, 16> bytes{};  // in Jet's on-disk (little-endian Data1..3) order
  bool operator==(const Guid&) const = default;
};

using Bytes = std::vector<uint8_t>;

// Text is UTF-8. Integers of every width travel as int64_t, Single as float.
using Value = std::variant<Null, bool, int64_t, double, float, std::string, DateTime, Currency, Decimal, Guid, Bytes>;

inline bool IsNull(const Value& v) { return std::holds_alternative<Null>(v); }

}  // namespace brenvo::ado
