// The size limits in the figures of 32-bit ARM (armhf), where size_t is 4 bytes and
// PTRDIFF_MAX is 2147483647. From Python no node table can get this large there (its
// 16-byte records would not fit in the address space), so these checks live here.
// Where size_t is 64 bits wide the figures lie far below the limit: skipped there.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "core/route.hpp"
#include "core/memory.hpp"
#include "core_testing.hpp"

namespace walkmesh {
namespace {

using testing_support::expect_fault;

constexpr Site test_site = Site::route;
constexpr bool sizes_are_32_bits = sizeof(std::size_t) == 4;
constexpr const char* skip_reason = "size_t is 64 bits wide here; these are the figures of armhf";

TEST(ThirtyTwoBitSizes, OneAllocationSpansAtMost2147483644Bytes) {
    if (!sizes_are_32_bits) {
        GTEST_SKIP() << skip_reason;
    }
    EXPECT_EQ(PTRDIFF_MAX, 2147483647);
    EXPECT_EQ(max_allocation_bytes(4), 2147483644u);
    EXPECT_EQ(checked_byte_size(536870911, 4, 4, test_site), 2147483644u);
    EXPECT_EQ(checked_byte_size(268435455, 8, 4, test_site), 2147483640u);
}

TEST(ThirtyTwoBitSizes, ByteSizesPastTheLimitOrWrappingAreACapacityOverflow) {
    if (!sizes_are_32_bits) {
        GTEST_SKIP() << skip_reason;
    }
    // 2^31 bytes, just past the limit; then products that wrap to 0 in 32 bits.
    for (auto [count, size] : {std::pair<std::size_t, std::size_t>{536870912, 4},
                               {268435456, 8},
                               {536870912, 8},
                               {1073741824, 4}}) {
        const Fault fault = expect_fault([&] { checked_byte_size(count, size, 4, test_site); });
        EXPECT_TRUE(fault.kind == Fault::Kind::too_large && fault.site == test_site)
            << count << " x " << size;
    }
}

TEST(ThirtyTwoBitSizes, NodeCountsWhoseTablesCannotBeSizedFailTheRouteFinder) {
    if (!sizes_are_32_bits) {
        GTEST_SKIP() << skip_reason;
    }
    // The finder's tables need 16 bytes a node: 134217728 nodes reach 2^31 bytes.
    for (std::size_t node_count : {std::size_t{134217728}, std::size_t{268435456}, std::size_t{4294967295}}) {
        RouteFinder finder;
        const Fault fault = expect_fault([&] { finder.bind(Graph(nullptr, node_count, nullptr, 0)); });
        EXPECT_TRUE(fault.kind == Fault::Kind::too_large && fault.site == Site::route) << node_count;
    }
}

}  // namespace
}  // namespace walkmesh
