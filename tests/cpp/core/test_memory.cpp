// Allocation helpers: the capacity limit, tables and the growable array.
#include <gtest/gtest.h>

#include <vector>

#include "core/memory.hpp"
#include "core_testing.hpp"
#include "core/geometry.hpp"

namespace walkmesh {
namespace {

using testing_support::expect_fault;

constexpr Site test_site = Site::route;

TEST(CapacityCheck, AcceptsUpToTheLimit) {
    const std::size_t limit = max_allocation_bytes(4);
    if constexpr (sizeof(std::size_t) == 4) {
        EXPECT_EQ(limit, 2147483644u);
    }
    EXPECT_EQ(checked_byte_size(0, 8, 4, test_site), 0u);
    EXPECT_EQ(checked_byte_size(limit / 4, 4, 4, test_site), limit);
    EXPECT_EQ(checked_byte_size(limit / 8, 8, 4, test_site), limit / 8 * 8);
}

TEST(CapacityCheck, RejectsPastTheLimitAndOnOverflow) {
    const std::size_t limit = max_allocation_bytes(4);
    for (auto [count, size] :
         {std::pair{limit / 4 + 1, std::size_t{4}}, std::pair{limit / 8 + 1, std::size_t{8}},
          std::pair{SIZE_MAX / 8 + 1, std::size_t{8}}, std::pair{SIZE_MAX, std::size_t{2}}}) {
        const Fault fault = expect_fault([&] { checked_byte_size(count, size, 4, test_site); });
        EXPECT_TRUE(fault.kind == Fault::Kind::too_large && fault.site == test_site)
            << count << " x " << size;
    }
}

TEST(Table, FilledAndZeroed) {
    const auto costs = Table<std::uint32_t>::filled(5, 4294967295u, test_site);
    ASSERT_EQ(costs.size(), 5u);
    for (std::uint32_t cost : costs.span()) {
        EXPECT_EQ(cost, 4294967295u);
    }
    const auto points = Table<PointValue>::zeroed(1000, test_site);
    for (PointValue point : points.span()) {
        EXPECT_EQ(point.x, 0.0f);
        EXPECT_EQ(point.y, 0.0f);
    }
    EXPECT_EQ(Table<PointValue>::zeroed(0, test_site).data(), nullptr);
}

TEST(GrowableArray, NoStorageThenFourThenDoubling) {
    GrowableArray<PointValue> points;
    EXPECT_EQ(points.capacity(), 0u);
    EXPECT_EQ(points.data(), nullptr);
    std::vector<std::size_t> capacities;
    for (int i = 0; i < 9; ++i) {
        points.push_back({static_cast<float>(i), 0}, test_site);
        capacities.push_back(points.capacity());
    }
    EXPECT_EQ(capacities, (std::vector<std::size_t>{4, 4, 4, 4, 8, 8, 8, 8, 16}));
    // Entries survive every growth.
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(points[static_cast<std::size_t>(i)].x, static_cast<float>(i));
    }
}

TEST(GrowableArray, ReverseInPlace) {
    for (int size : {0, 1, 2, 5, 8}) {
        GrowableArray<PointValue> points;
        for (int i = 0; i < size; ++i) {
            points.push_back({static_cast<float>(i), static_cast<float>(-i)}, test_site);
        }
        points.reverse();
        std::vector<float> xs;
        for (PointValue point : points) {
            xs.push_back(point.x);
        }
        std::vector<float> expected;
        for (int i = size - 1; i >= 0; --i) {
            expected.push_back(static_cast<float>(i));
        }
        EXPECT_EQ(xs, expected) << "size " << size;
    }
}

}  // namespace
}  // namespace walkmesh
