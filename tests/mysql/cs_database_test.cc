// The test helpers' CS databases: the project's own schema must be the
// fixture schema's equal, so tests mean the same with or without fixtures.
#include <gtest/gtest.h>

#include "mariadb_test_db.h"
#include "support/test_support.h"

namespace brenvo::test {
namespace {

std::vector<std::vector<std::string>> Columns(const MariaServer& s, const std::string& db) {
  return RootQuery(s, "SELECT TABLE_NAME, ORDINAL_POSITION, COLUMN_NAME, COLUMN_TYPE, IS_NULLABLE, COLUMN_KEY, "
                      "CHARACTER_SET_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = '" + db +
                      "' ORDER BY TABLE_NAME, ORDINAL_POSITION");
}

std::vector<std::vector<std::string>> Indexes(const MariaServer& s, const std::string& db) {
  return RootQuery(s, "SELECT TABLE_NAME, INDEX_NAME, NON_UNIQUE, SEQ_IN_INDEX, COLUMN_NAME FROM "
                      "information_schema.STATISTICS WHERE TABLE_SCHEMA = '" + db +
                      "' ORDER BY TABLE_NAME, INDEX_NAME, SEQ_IN_INDEX");
}

TEST(CsDatabase, OwnSchemaEqualsTheFixtureSchemaInEveryCharacterSet) {
  REQUIRE_TEST_ENV("CS_HOST");
  REQUIRE_FIXTURES();
  const MariaServer s = CsServer();
  for (const char* cs : {"utf8mb4", "euckr"}) {
    SCOPED_TRACE(cs);
    const std::string a = UniqueName("csfix"), b = UniqueName("csown");
    ASSERT_TRUE(CreateCsDatabase(s, a, cs, CsSchemaSource::Fixtures));
    ScopedDatabase da(s, a);
    ASSERT_TRUE(CreateCsDatabase(s, b, cs, CsSchemaSource::Own));
    ScopedDatabase db(s, b);
    auto ca = Columns(s, a);
    EXPECT_EQ(ca.size(), 122u);
    EXPECT_EQ(ca, Columns(s, b));
    EXPECT_EQ(Indexes(s, a), Indexes(s, b));
    for (const auto& row : ca)
      if (row[6] != "\\N") EXPECT_EQ(row[6], cs) << row[0] << "." << row[2];
    EXPECT_EQ(RootQuery(s, "SELECT dbid, ver FROM `" + b + "`.dbversion"),
              (std::vector<std::vector<std::string>>{{"main", "12"}}));
  }
}

}  // namespace
}  // namespace brenvo::test
