// ODBC (unixODBC with MariaDB Connector/ODBC) behind the record-set interface.
#pragma once

#include <memory>

#include "db/ado/recordset.h"

namespace brenvo::odbc {
std::unique_ptr<ado::Connection> MakeOdbcConnection();
}
