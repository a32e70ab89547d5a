// The navigation graph as the search sees it: the node and edge record tables, read
// in place at any alignment. No index is built and nothing is validated in advance;
// the only check here is that a node's run lies within the edge table.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>

#include "core/geometry.hpp"

namespace walkmesh {

inline constexpr std::size_t node_record_size = 16;
inline constexpr std::size_t edge_record_size = 28;

namespace record {

// A field of type T wherever it lies, aligned or not.
template <class T>
T read(const std::byte* field) noexcept {
    T value;
    std::memcpy(&value, field, sizeof value);
    return value;
}

inline std::uint32_t read_u32(const std::byte* field) noexcept { return read<std::uint32_t>(field); }

inline PointValue read_point(const std::byte* field) noexcept {
    float xy[2];
    std::memcpy(xy, field, sizeof xy);
    return {xy[0], xy[1]};
}

}  // namespace record

// The fields of one node record.
struct NodeRecord {
    PointValue centroid;
    std::uint32_t edge_start;
    std::uint32_t edge_count;
};

// One edge record, read field by field where it lies.
class EdgeRef {
public:
    explicit EdgeRef(const std::byte* record) noexcept : record_(record) {}
    std::uint32_t to() const noexcept { return record::read_u32(record_ + 0); }
    std::uint32_t cost() const noexcept { return record::read_u32(record_ + 4); }
    PointValue left() const noexcept { return record::read_point(record_ + 8); }
    PointValue right() const noexcept { return record::read_point(record_ + 16); }
    const std::byte* record() const noexcept { return record_; }

private:
    const std::byte* record_;
};

// A node's outgoing edges: a contiguous run of the edge table, in table order.
class EdgeRun {
public:
    class iterator {
    public:
        using value_type = EdgeRef;
        using difference_type = std::ptrdiff_t;
        iterator() noexcept = default;
        explicit iterator(const std::byte* record) noexcept : record_(record) {}
        EdgeRef operator*() const noexcept { return EdgeRef(record_); }
        iterator& operator++() noexcept {
            record_ += edge_record_size;
            return *this;
        }
        iterator operator++(int) noexcept {
            iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const iterator&) const noexcept = default;

    private:
        const std::byte* record_ = nullptr;
    };

    EdgeRun(const std::byte* first, std::uint32_t count) noexcept : first_(first), count_(count) {}
    std::uint32_t size() const noexcept { return count_; }
    EdgeRef operator[](std::uint32_t k) const noexcept {
        return EdgeRef(first_ + std::size_t{k} * edge_record_size);
    }
    iterator begin() const noexcept { return iterator(first_); }
    iterator end() const noexcept {
        return iterator(first_ + std::size_t{count_} * edge_record_size);
    }

    // The first edge in table order that leads to `to`.
    std::optional<EdgeRef> first_to(std::uint32_t to) const noexcept {
        for (const EdgeRef edge : *this) {
            if (edge.to() == to) {
                return edge;
            }
        }
        return std::nullopt;
    }

private:
    const std::byte* first_;
    std::uint32_t count_;
};

// Read-only view of the two record tables, borrowed for one search.
class Graph {
public:
    Graph(const std::byte* node_data, std::size_t node_count, const std::byte* edge_data,
          std::size_t edge_count) noexcept
        : nodes_(node_data), node_count_(node_count), edges_(edge_data), edge_count_(edge_count) {}

    std::size_t node_count() const noexcept { return node_count_; }
    std::size_t edge_count() const noexcept { return edge_count_; }

    // Node lookup; the caller has tested i against node_count().
    NodeRecord node(std::uint32_t i) const noexcept {
        const std::byte* fields = node_record(i);
        return {record::read_point(fields + 0), record::read_u32(fields + 8),
                record::read_u32(fields + 12)};
    }
    PointValue centroid(std::uint32_t i) const noexcept {
        return record::read_point(node_record(i));
    }

    // The run of node `i` (tested against node_count() by the caller). A run that
    // does not lie within the edge table is handed to `on_bad_run(start, wrapped
    // end)`, which must not return; a run of length 0 is tested too.
    template <class OnBadRun>
    EdgeRun edges_of(std::uint32_t i, OnBadRun&& on_bad_run) const {
        const NodeRecord fields = node(i);
        const std::uint32_t start = fields.edge_start;
        const std::uint32_t end = start + fields.edge_count;
        if (end < start || end > edge_count_) {
            on_bad_run(start, end);
            __builtin_unreachable();
        }
        return EdgeRun(edges_ + std::size_t{start} * edge_record_size, end - start);
    }

    // The index in the edge table of a record of this table.
    std::size_t edge_index(EdgeRef edge) const noexcept {
        return static_cast<std::size_t>(edge.record() - edges_) / edge_record_size;
    }

    // Asks the cache for node i's record (i tested by the caller).
    [[gnu::always_inline]] void prefetch_node(std::uint32_t i) const noexcept {
        __builtin_prefetch(node_record(i));
    }

    // Asks the cache for the start of node i's run (i tested by the caller): a node
    // that enters the queue is usually expanded later. Always inlined, because GCC
    // takes a function that only prefetches for pure and drops its calls.
    [[gnu::always_inline]] void prefetch_edges_of(std::uint32_t i) const noexcept {
        const std::size_t start = record::read_u32(node_record(i) + 8);
        if (start < edge_count_) {
            const std::size_t first = start * edge_record_size;
            const std::size_t table_end = edge_count_ * edge_record_size;
            // A run of two or three records may reach into the next cache line.
            __builtin_prefetch(edges_ + first);
            __builtin_prefetch(edges_ + std::min(first + 63, table_end - 1));
        }
    }

private:
    const std::byte* node_record(std::uint32_t i) const noexcept {
        return nodes_ + std::size_t{i} * node_record_size;
    }

    const std::byte* nodes_;
    std::size_t node_count_;
    const std::byte* edges_;
    std::size_t edge_count_;
};

}  // namespace walkmesh
