// libFuzzer entry: any text as a statement for the Jet engine's parser.
// It must parse or end in a BrenvoError; nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "db/jet/sql.h"
#include "util/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    auto st = brenvo::jet::sql::Parse(std::string(reinterpret_cast<const char*>(data), size));
    if (auto* s = std::get_if<brenvo::jet::sql::SelectStatement>(&st))
      for (const auto& item : s->items)
        if (item.expr) brenvo::jet::sql::HasAggregate(*item.expr);
  } catch (const brenvo::BrenvoError&) {
  }
  return 0;
}
