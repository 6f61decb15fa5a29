// The ODBC record sets: a table or query read in slices (odbc_reader.h)
// and a table appended to in batches (odbc_appender.h), both living on one
// connection's session (odbc_session.h).
#pragma once

#include "db/odbc/odbc_appender.h"
#include "db/odbc/odbc_reader.h"
#include "db/odbc/odbc_session.h"
