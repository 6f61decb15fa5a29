// The main window's one direct MySQL connection (DBConnect .. DBClose),
// made on first use; its trap lines go to the window's log file.
#pragma once

#include "db/mysql/direct_db.h"
#include "screen/console.h"

namespace brenvo {

mysql::DirectDb& WindowDb(Console& console);

}  // namespace brenvo
