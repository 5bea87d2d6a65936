#include "util/growarray.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

GrowArray filled(int n) {
  GrowArray a;
  growarray_init(&a, sizeof(int));
  for (int i = 0; i < n; i++) growarray_append(&a, &i);
  return a;
}

}  // namespace

TEST(GrowArray, CapacityFollowsTheQuarterGrowthSequence) {
  GrowArray a;
  growarray_init(&a, sizeof(int));
  std::vector<uint32_t> seen{a.capacity};
  for (int i = 0; i < 200; i++) {
    EXPECT_EQ(growarray_append(&a, &i), uint32_t(i));
    if (a.capacity != seen.back()) seen.push_back(a.capacity);
  }
  std::vector<uint32_t> expected{1, 2, 3, 4, 6, 8, 11, 14, 18, 23, 29, 37, 47, 59, 74, 93, 117, 147, 184, 231};
  EXPECT_EQ(seen, expected);
  for (int i = 0; i < 200; i++) EXPECT_EQ(*growarray_at<int>(&a, i), i);
}

TEST(GrowArray, BoundVariableFollowsEveryResize) {
  GrowArray a;
  growarray_init(&a, sizeof(int));
  void* bound = nullptr;
  EXPECT_EQ(growarray_set_alias(&a, &bound), nullptr);
  EXPECT_EQ(bound, a.data);
  for (int i = 0; i < 20; i++) {
    growarray_append(&a, &i);
    EXPECT_EQ(bound, a.data);
  }
  while (a.count) {
    growarray_remove_at(&a, 0);
    EXPECT_EQ(bound, a.data);
  }
  void* other = nullptr;
  EXPECT_EQ(growarray_set_alias(&a, &other), &bound);
  EXPECT_EQ(other, a.data);
}

TEST(GrowArray, ShrinksAtSixtyPercentToAQuarterAboveTheCount) {
  GrowArray a = filled(5);  // capacity 6 after five appends
  ASSERT_EQ(a.capacity, 6u);
  int x = 5, y = 6, z = 7;
  growarray_append(&a, &x);
  growarray_append(&a, &y);  // capacity 8, count 7
  growarray_append(&a, &z);
  ASSERT_EQ(a.capacity, 8u);
  growarray_remove_at(&a, 7);
  growarray_remove_at(&a, 6);
  growarray_remove_at(&a, 5);  // 5 of 8: 0.625, no shrink
  EXPECT_EQ(a.capacity, 8u);
  growarray_remove_at(&a, 4);  // 4 of 8: 0.5, shrinks to floor(1.25 * 4) = 5
  EXPECT_EQ(a.capacity, 5u);
  growarray_remove_at(&a, 3);  // 3 of 5: exactly 0.6 shrinks too, to 3
  EXPECT_EQ(a.capacity, 3u);
  while (a.count) growarray_remove_at(&a, 0);
  EXPECT_EQ(a.capacity, 1u);  // never below the creation capacity
}

TEST(GrowArray, RemovalMovesTheLastElementIntoTheGap) {
  GrowArray a = filled(4);
  growarray_remove_at(&a, 1);
  EXPECT_EQ(a.count, 3u);
  EXPECT_EQ(*growarray_at<int>(&a, 0), 0);
  EXPECT_EQ(*growarray_at<int>(&a, 1), 3);
  EXPECT_EQ(*growarray_at<int>(&a, 2), 2);
  growarray_remove_at(&a, 2);  // the last: nothing moves
  EXPECT_EQ(*growarray_at<int>(&a, 1), 3);
  growarray_remove_at(&a, 9);  // beyond the end: nothing happens
  EXPECT_EQ(a.count, 2u);
  GrowArray empty;
  growarray_init(&empty, sizeof(int));
  growarray_remove_at(&empty, 0);
  EXPECT_EQ(empty.count, 0u);
}

TEST(GrowArray, FindReturnsTheHighestMatchAndRemoveUsesIt) {
  GrowArray a;
  growarray_init(&a, sizeof(int));
  int values[] = {7, 3, 7, 5};
  for (int v : values) growarray_append(&a, &v);
  int seven = 7, nine = 9;
  EXPECT_EQ(growarray_find(&a, &seven), 2);
  EXPECT_EQ(growarray_find(&a, &nine), -1);
  growarray_remove(&a, &nine);
  EXPECT_EQ(a.count, 4u);
  growarray_remove(&a, &seven);
  EXPECT_EQ(a.count, 3u);
  EXPECT_EQ(*growarray_at<int>(&a, 2), 5);
  EXPECT_EQ(growarray_find(&a, &seven), 0);
}
