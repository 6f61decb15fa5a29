#include <algorithm>
#include <cctype>

#include "db/ado/recordset.h"
#include "db/jet/jet_connection.h"
#include "db/odbc/odbc_connection.h"
#include "util/error.h"

namespace brenvo::ado {

std::unique_ptr<Connection> CreateConnection(const std::string& connectionString) {
  auto provider = ConnectionStringValue(connectionString, "Provider");
  if (provider) {
    std::string p = *provider;
    std::transform(p.begin(), p.end(), p.begin(), [](unsigned char c) { return std::tolower(c); });
    if (p.rfind("microsoft.jet.oledb.4.0", 0) == 0) return jet::MakeJetConnection();
    throw BrenvoError(3706, "Provider cannot be found. It may not be properly installed.", "ADODB.Connection");
  }
  return odbc::MakeOdbcConnection();
}

}  // namespace brenvo::ado
