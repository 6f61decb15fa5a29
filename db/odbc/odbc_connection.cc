#include "db/odbc/odbc_connection.h"

#include "util/error.h"

namespace brenvo::odbc {
std::unique_ptr<ado::Connection> MakeOdbcConnection() {
  throw BrenvoError(3706, "The ODBC side is not built yet", "Microsoft OLE DB Provider for ODBC Drivers");
}
}  // namespace brenvo::odbc
