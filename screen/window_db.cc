#include "screen/window_db.h"

#include "db/mysql/direct_db.h"

namespace brenvo {

mysql::DirectDb& WindowDb(Console& console) {
  if (!console.directDb)
    console.directDb = std::make_shared<mysql::DirectDb>(
        console.prompter(), [&console](const std::string& line) { console.AppendLogFile(line); });
  return *console.directDb;
}

}  // namespace brenvo
