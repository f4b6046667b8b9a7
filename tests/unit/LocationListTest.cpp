#include <gtest/gtest.h>

#include "ffu/LocationList.h"

namespace {
TEST(LocationList, HoldsOneOrManyPlacesAndCopiesThemDeeply) {
  for (size_t count : {0u, 1u, 2u, 5u}) {
    LocationList list;
    list.assign(count, TargetLocation{7, 2});
    ASSERT_EQ(list.size(), count);
    for (size_t i = 0; i < count; ++i) list[i].blockIndex = static_cast<uint32_t>(i);

    LocationList copy = list;
    for (TargetLocation& location : list) location.blockIndex += 100;
    ASSERT_EQ(copy.size(), count);
    size_t i = 0;
    for (const TargetLocation& location : copy) {
      EXPECT_EQ(location.blockIndex, i);
      EXPECT_EQ(location.origin, 2u);
      ++i;
    }
    EXPECT_EQ(i, count);
  }
}

TEST(LocationList, ReassigningToFewerPlacesDropsTheRest) {
  LocationList list;
  list.assign(4, TargetLocation{1, 0});
  list.assign(1, TargetLocation{9, 2});
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].blockIndex, 9u);
  EXPECT_EQ(list[0].origin, 2u);
}
}  // namespace
