// The open queue: the order entries leave in, and its growth.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "core/open_queue.hpp"

namespace walkmesh {
namespace {

constexpr Site test_site = Site::route;

TEST(OpenQueue, SmallerFFirstThenHigherNode) {
    OpenQueue queue;
    for (OpenEntry entry : {OpenEntry{7, 1}, OpenEntry{3, 3}, OpenEntry{3, 5}, OpenEntry{0, 0},
                            OpenEntry{3, 4294967295u}, OpenEntry{4294967295u, 9}}) {
        queue.insert(entry, test_site);
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> order;
    while (!queue.empty()) {
        const OpenEntry entry = queue.take_first();
        order.emplace_back(entry.f, entry.node);
    }
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
        {0, 0}, {3, 4294967295u}, {3, 5}, {3, 3}, {7, 1}, {4294967295u, 9}};
    EXPECT_EQ(order, expected);
}

TEST(OpenQueue, InterleavedInsertsAndTakesFollowTheOrder) {
    // A sorted set with the same order is the reference.
    const auto before = [](OpenEntry a, OpenEntry b) { return goes_before(a, b); };
    std::set<OpenEntry, decltype(before)> reference(before);
    OpenQueue queue;
    std::mt19937 random(20261207);
    for (int round = 0; round < 20000; ++round) {
        if (random() % 3 != 0 || reference.empty()) {
            const OpenEntry entry{static_cast<std::uint32_t>(random() % 64),
                                  static_cast<std::uint32_t>(random() % 64)};
            if (reference.insert(entry).second) {
                queue.insert(entry, test_site);
            }
        } else {
            const OpenEntry expected = *reference.begin();
            reference.erase(reference.begin());
            const OpenEntry taken = queue.take_first();
            ASSERT_EQ(taken.f, expected.f) << "round " << round;
            ASSERT_EQ(taken.node, expected.node) << "round " << round;
        }
        ASSERT_EQ(queue.size(), reference.size());
    }
}

TEST(OpenQueue, RefillingOrRemovingTheFirstEntryKeepsTheOrder) {
    // The search's pattern: look at the front, then queue what its expansion finds
    // (nothing, one entry or several, some of which may go before the front) through
    // a FrontRefill, or remove it as superseded; a sorted set is the reference.
    const auto before = [](OpenEntry a, OpenEntry b) { return goes_before(a, b); };
    std::set<OpenEntry, decltype(before)> reference(before);
    OpenQueue queue;
    std::mt19937 random(7);
    const auto draw = [&] {
        return OpenEntry{static_cast<std::uint32_t>(random() % 48), static_cast<std::uint32_t>(random() % 48)};
    };
    for (int round = 0; round < 20000; ++round) {
        const unsigned operation = reference.empty() ? 0 : random() % 4;
        if (operation == 0) {
            const OpenEntry entry = draw();
            if (reference.insert(entry).second) {
                queue.insert(entry, test_site);
            }
        } else {
            const OpenEntry front = queue.first();
            ASSERT_EQ(front.f, reference.begin()->f) << "round " << round;
            ASSERT_EQ(front.node, reference.begin()->node) << "round " << round;
            reference.erase(reference.begin());
            if (operation == 1) {
                queue.remove_first();
            } else {
                FrontRefill refill(queue, front, test_site);
                for (unsigned count = random() % 4; count > 0; --count) {
                    const OpenEntry entry = draw();
                    if (!(entry.f == front.f && entry.node == front.node) && reference.insert(entry).second) {
                        refill.add(entry);
                    }
                }
                refill.finish();
            }
        }
        ASSERT_EQ(queue.size(), reference.size());
    }
    // Replacing never grows the storage.
    const std::size_t capacity = queue.capacity();
    queue.replace_first({0, 0});
    EXPECT_EQ(queue.capacity(), capacity);
}

TEST(OpenQueue, RefillGrowsWhenTakingOutThenInsertingWould) {
    // Taking the front out first and then inserting k entries checks the sizes
    // S-1 .. S+k-2 against the capacity; a refill inserts k-1 of them at S .. S+k-2.
    // Both grow at the same moments, since S never exceeds the capacity.
    std::mt19937 random(11);
    OpenQueue refilled;
    OpenQueue plain;
    std::uint32_t next_node = 0;
    for (int round = 0; round < 2000; ++round) {
        const OpenEntry front = refilled.empty() ? OpenEntry{} : refilled.first();
        const unsigned count = refilled.empty() ? 1 : random() % 4;
        if (refilled.empty()) {
            refilled.insert({0, next_node}, test_site);
            plain.insert({0, next_node++}, test_site);
            continue;
        }
        FrontRefill refill(refilled, front, test_site);
        plain.remove_first();
        for (unsigned i = 0; i < count; ++i) {
            const OpenEntry entry{front.f + 1 + static_cast<std::uint32_t>(random() % 8), next_node++};
            refill.add(entry);
            plain.insert(entry, test_site);
        }
        refill.finish();
        ASSERT_EQ(refilled.size(), plain.size()) << "round " << round;
        ASSERT_EQ(refilled.capacity(), plain.capacity()) << "round " << round;
    }
}

TEST(OpenQueue, GrowsFromNothingToFourThenDoubles) {
    OpenQueue queue;
    EXPECT_EQ(queue.capacity(), 0u);
    std::vector<std::size_t> capacities;
    for (std::uint32_t i = 0; i < 17; ++i) {
        queue.insert({i, i}, test_site);
        capacities.push_back(queue.capacity());
    }
    const std::vector<std::size_t> expected{4,  4,  4,  4,  8,  8,  8,  8, 16,
                                            16, 16, 16, 16, 16, 16, 16, 32};
    EXPECT_EQ(capacities, expected);
    // Taking out never shrinks it.
    while (!queue.empty()) {
        queue.take_first();
    }
    EXPECT_EQ(queue.capacity(), 32u);
}

}  // namespace
}  // namespace walkmesh
