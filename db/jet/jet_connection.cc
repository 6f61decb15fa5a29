#include "db/jet/jet_connection.h"

#include "util/error.h"

namespace brenvo::jet {
std::unique_ptr<ado::Connection> MakeJetConnection() {
  throw BrenvoError(3706, "The Jet engine is not built yet", "Microsoft JET Database Engine");
}
}  // namespace brenvo::jet
