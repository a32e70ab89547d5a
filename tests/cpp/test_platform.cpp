// The size limits in the figures of 32-bit ARM (armhf), where size_t is 4 bytes and
// PTRDIFF_MAX is 2147483647. From Python no node table can get this large there (its
// 16-byte records would not fit in the address space), so these checks live here.
// Where size_t is 64 bits wide the figures lie far below the limit: skipped there.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "astar.hpp"
#include "boundary/memory.hpp"
#include "core_testing.hpp"

namespace walkmesh {
namespace {

using testing_support::expect_internal_failure;
using testing_support::failed_with;

constexpr SourceLocation test_site{"tests/cpp/test_platform", 3, 5};
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
        const InternalFailure failure =
            expect_internal_failure([&] { checked_byte_size(count, size, 4, test_site); });
        EXPECT_TRUE(failed_with(failure, "capacity overflow", "tests/cpp/test_platform", 3, 5))
            << count << " x " << size;
    }
}

TEST(ThirtyTwoBitSizes, NodeCountsWhoseTablesCannotBeSizedFailTheSearch) {
    if (!sizes_are_32_bits) {
        GTEST_SKIP() << skip_reason;
    }
    // No buffer lies behind these counts: the tables are sized before any record is read.
    // 268435456 nodes need 2^31 bytes of predecessors; 536870912 wrap to 0 bytes.
    for (std::size_t node_count : {std::size_t{268435456}, std::size_t{536870912}, std::size_t{4294967295}}) {
        const Graph huge(nullptr, node_count, nullptr, 0);
        const InternalFailure failure = expect_internal_failure([&] { search_path(huge, 0, 1); });
        EXPECT_TRUE(failed_with(failure, "capacity overflow", "src/astar", 30, 25)) << node_count;
    }
}

}  // namespace
}  // namespace walkmesh
