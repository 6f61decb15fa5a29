// Binding typed values to statement parameters. Text goes as UTF-16, dates,
// decimals and currency as their plain text (which the server converts into
// the column's type, zero dates included), numbers in their binary form so
// that doubles arrive bit for bit.
#pragma once

#include <string>

#include "db/odbc/odbc_columns.h"

namespace brenvo::odbc {

// The storage one bound parameter points into; it must stay put (and
// unchanged) until the statement has run.
struct ParamBuffer {
  std::u16string wide;
  std::string narrow;
  ado::Bytes bytes;
  int64_t i64 = 0;
  double f64 = 0;
  float f32 = 0;
  unsigned char bit = 0;
  SQLLEN indicator = 0;
};

// Binds v as parameter number (1-based) for a column described by target.
void BindValue(SQLHSTMT stmt, SQLUSMALLINT number, const ado::Value& v, const Column& target, ParamBuffer& buf);

// The text a value is sent as where a text form is used (dates by the
// target column's type: a DATE column gets the date alone).
std::string DateTimeText(const ado::DateTime& dt, ado::DataType target);

// The text BindValue sends for a value bound as text (strings, dates,
// currency, decimals, GUIDs); false for the other kinds.
bool TextForm(const ado::Value& v, const Column& target, std::string& out);

}  // namespace brenvo::odbc
