#include "support/jet_relabel.h"

#include <gtest/gtest.h>

#include <vector>

#include "db/jet/database.h"
#include "db/jet/header.h"
#include "db/jet/table_def.h"
#include "support/test_support.h"

namespace brenvo::test {

void RelabelSortOrder(const std::string& path, const std::string& password, uint16_t lcid) {
  std::string bytes = ReadFile(path);
  std::vector<uint8_t> page0(bytes.begin(), bytes.begin() + 4096);
  jet::ToggleHeaderMask(page0);
  page0[0x6E] = static_cast<uint8_t>(lcid);
  page0[0x6F] = static_cast<uint8_t>(lcid >> 8);
  jet::ToggleHeaderMask(page0);
  std::copy(page0.begin(), page0.end(), bytes.begin());
  auto db = jet::Database::Open(path, password);
  for (const auto& name : db->UserTables()) {
    const auto& t = db->Table(name);
    for (const auto& c : t.columns) {
      if (c.type != jet::kColText && c.type != jet::kColMemo) continue;
      // Column entries lie on the definition's first page in these files.
      ASSERT_LT(c.defOffset + 13, 4096u);
      size_t at = static_cast<size_t>(t.page) * 4096 + c.defOffset + 11;
      bytes[at] = static_cast<char>(lcid);
      bytes[at + 1] = static_cast<char>(lcid >> 8);
    }
  }
  WriteFile(path, bytes);
}

}  // namespace brenvo::test
