// Column descriptions of an ODBC result and their ADO type codes, as the
// MySQL ODBC 3.51 driver reported them through ADO. That driver was an ANSI
// driver, so text columns came as adVarChar (200), adLongVarChar (201) and
// adChar (129), never as the wide codes; MariaDB's Unicode driver reports
// SQL_WVARCHAR and friends, which map to the same narrow codes here. The
// Access side reports its text as adVarWChar (202), and the copy run and the
// field check tell the two sides apart by exactly this.
#pragma once

#include <string>
#include <vector>

#include "db/ado/recordset.h"
#include "db/odbc/odbc_util.h"

namespace brenvo::odbc {

struct Column {
  ado::FieldInfo info;
  SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
  SQLULEN columnSize = 0;
  SQLSMALLINT decimalDigits = 0;
};

ado::DataType AdoTypeOf(SQLSMALLINT sqlType, bool isUnsigned);
// ADO's DefinedSize: the column size for text and binary columns, the
// value's width in bytes for the fixed-size types.
long DefinedSizeOf(ado::DataType type, SQLULEN columnSize);

// The result columns of an executed (or prepared) statement.
std::vector<Column> DescribeColumns(SQLHSTMT stmt);

// The current row's value of column i (0-based) by the column's type.
ado::Value ReadValue(SQLHSTMT stmt, int i, const Column& col);

// "YYYY-MM-DD[ HH:MM:SS[.ffffff]]" or "HH:MM:SS" as a DateTime; the zero
// date "0000-00-00" reads as year, month and day 0.
ado::DateTime ParseDateTimeText(const std::string& text);

}  // namespace brenvo::odbc
