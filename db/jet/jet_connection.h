// The Jet 4 engine behind the record-set interface.
#pragma once

#include <memory>

#include "db/ado/recordset.h"

namespace brenvo::jet {
std::unique_ptr<ado::Connection> MakeJetConnection();
}
