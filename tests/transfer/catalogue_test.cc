#include <gtest/gtest.h>

#include "transfer/catalogue.h"

namespace brenvo {
namespace {

TEST(Catalogue, TwentyTablesInCopyOrder) {
  TableCatalogue c;
  c.Build();
  ASSERT_EQ(c.Count(), 20);
  EXPECT_EQ(c.at(0).table, "dbversion");
  EXPECT_EQ(c.at(4).table, "customer");
  EXPECT_EQ(c.at(6).table, "product_m");
  EXPECT_EQ(c.at(16).table, "sale_d");
  EXPECT_EQ(c.at(19).table, "taxlist_d");
  for (const auto& e : c.entries()) {
    EXPECT_FALSE(e.marked);
    EXPECT_EQ(e.expectedRows, 0);
  }
}

TEST(Catalogue, UnmarkAroundTheCurrentEntry) {
  TableCatalogue c;
  c.Build();
  c.MarkAll(true);
  c.UnmarkAbove(-1);
  EXPECT_EQ(c.MarkedCount(), 20);
  c.UnmarkBelow(-1);
  EXPECT_EQ(c.MarkedCount(), 0);

  c.MarkAll(true);
  c.UnmarkAbove(5);
  EXPECT_EQ(c.MarkedCount(), 15);
  EXPECT_TRUE(c.at(5).marked);
  EXPECT_FALSE(c.at(4).marked);
  c.UnmarkBelow(5);
  EXPECT_EQ(c.MarkedCount(), 1);
  EXPECT_TRUE(c.at(5).marked);
}

}  // namespace
}  // namespace brenvo
