// Helpers for the tests of the core and of find_path's search: byte-exact record
// tables, graphs sketched node by node, routes read back from point lists, and the
// faults the core raises.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/fault.hpp"
#include "core/geometry.hpp"
#include "core/graph.hpp"

namespace walkmesh::testing_support {

// Node and edge records laid out byte for byte as the arrays hold them.
class RecordTables {
public:
    std::uint32_t add_node(PointValue centroid, std::uint32_t edge_start,
                           std::uint32_t edge_count) {
        append(nodes_, centroid.x, centroid.y, edge_start, edge_count);
        return static_cast<std::uint32_t>(node_count() - 1);
    }

    std::uint32_t add_edge(std::uint32_t to, std::uint32_t cost, PointValue left, PointValue right,
                           std::uint32_t padding = 0) {
        append(edges_, to, cost, left.x, left.y, right.x, right.y, padding);
        return static_cast<std::uint32_t>(edge_count() - 1);
    }

    std::size_t node_count() const { return nodes_.size() / node_record_size; }
    std::size_t edge_count() const { return edges_.size() / edge_record_size; }

    // A view whose tables start `offset` bytes into fresh buffers, so that records
    // can be put at odd addresses.
    Graph graph(std::size_t offset = 0) {
        shifted_nodes_ = shifted(nodes_, offset);
        shifted_edges_ = shifted(edges_, offset);
        return Graph(shifted_nodes_.data() + offset, node_count(), shifted_edges_.data() + offset,
                     edge_count());
    }

    const std::vector<std::byte>& node_bytes() const { return nodes_; }
    const std::vector<std::byte>& edge_bytes() const { return edges_; }

private:
    template <class... Fields>
    static void append(std::vector<std::byte>& table, Fields... fields) {
        (append_field(table, fields), ...);
    }

    template <class Field>
    static void append_field(std::vector<std::byte>& table, Field field) {
        static_assert(sizeof(Field) == 4);
        const std::size_t at = table.size();
        table.resize(at + sizeof(Field));
        std::memcpy(table.data() + at, &field, sizeof(Field));
    }

    static std::vector<std::byte> shifted(const std::vector<std::byte>& table, std::size_t offset) {
        std::vector<std::byte> copy(offset + table.size() + 1, std::byte{0xAB});
        std::copy(table.begin(), table.end(), copy.begin() + static_cast<std::ptrdiff_t>(offset));
        return copy;
    }

    std::vector<std::byte> nodes_;
    std::vector<std::byte> edges_;
    std::vector<std::byte> shifted_nodes_;
    std::vector<std::byte> shifted_edges_;
};

// The portal numbered k runs from (k, 0) to (k, 2); its midpoint is (k, 1), so a
// route reads back as the numbers of the portals it crossed.
inline PointValue portal_left(std::uint32_t k) { return {static_cast<float>(k), 0.0f}; }
inline PointValue portal_right(std::uint32_t k) { return {static_cast<float>(k), 2.0f}; }

// A graph given as nodes with their out-edges; each node's run is laid out
// contiguously in node order, edges in the order given.
class GraphSketch {
public:
    struct Step {
        std::uint32_t to;
        std::uint32_t cost;
        std::uint32_t portal;
    };

    std::uint32_t node(PointValue centroid = {0.0f, 0.0f}) {
        centroids_.push_back(centroid);
        out_.emplace_back();
        return static_cast<std::uint32_t>(centroids_.size() - 1);
    }

    void edge(std::uint32_t from, std::uint32_t to, std::uint32_t cost, std::uint32_t portal) {
        out_.at(from).push_back({to, cost, portal});
    }

    RecordTables tables() const {
        RecordTables tables;
        std::uint32_t next_edge = 0;
        for (std::size_t i = 0; i < centroids_.size(); ++i) {
            const auto count = static_cast<std::uint32_t>(out_[i].size());
            tables.add_node(centroids_[i], next_edge, count);
            next_edge += count;
        }
        for (const auto& steps : out_) {
            for (const Step& step : steps) {
                tables.add_edge(step.to, step.cost, portal_left(step.portal),
                                portal_right(step.portal));
            }
        }
        return tables;
    }

private:
    std::vector<PointValue> centroids_;
    std::vector<std::vector<Step>> out_;
};

// Portal numbers of a route, or an error text when a point is no portal midpoint.
template <class Points>
std::vector<std::uint32_t> portals_of(const Points& points) {
    std::vector<std::uint32_t> portals;
    for (const PointValue point : points) {
        EXPECT_EQ(point.y, 1.0f) << "not a portal midpoint";
        portals.push_back(static_cast<std::uint32_t>(point.x));
    }
    return portals;
}

template <class Points>
std::vector<std::pair<float, float>> coordinates_of(const Points& points) {
    std::vector<std::pair<float, float>> coordinates;
    for (const PointValue point : points) {
        coordinates.emplace_back(point.x, point.y);
    }
    return coordinates;
}

}  // namespace walkmesh::testing_support

namespace walkmesh::testing_support {

// Runs `body`, which must raise a fault, and returns the fault.
template <class Body>
Fault expect_fault(Body&& body) {
    try {
        std::forward<Body>(body)();
    } catch (const Fault& fault) {
        return fault;
    }
    ADD_FAILURE() << "expected a fault";
    return Fault{Fault::Kind::out_of_memory};
}

}  // namespace walkmesh::testing_support
