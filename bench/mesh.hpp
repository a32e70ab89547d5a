// Real navigation meshes for the benchmark: reading the mesh and scenario files,
// turning polygons into node and edge record tables (as bench/README.md states),
// locating points, and the two query workloads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/geometry.hpp"
#include "core/graph.hpp"

namespace walkmesh::bench {

struct Vertex {
    double x;
    double y;
};

// A convex, counter-clockwise polygon; neighbours[j] lies across the side from
// vertex j-1 (wrapping) to vertex j, -1 where there is none.
struct Polygon {
    std::vector<std::int32_t> vertices;
    std::vector<std::int32_t> neighbours;
};

struct Mesh {
    std::vector<Vertex> vertices;
    std::vector<Polygon> polygons;
};

// Throws std::runtime_error on a file that does not follow the format.
Mesh read_mesh(const std::string& path);

// Node and edge records as the arrays handed to find_path hold them.
struct NavTables {
    std::vector<std::byte> nodes;
    std::vector<std::byte> edges;

    std::size_t node_count() const { return nodes.size() / node_record_size; }
    std::size_t edge_count() const { return edges.size() / edge_record_size; }
    Graph graph() const { return Graph(nodes.data(), node_count(), edges.data(), edge_count()); }
};

NavTables build_tables(const Mesh& mesh);

// Finds the lowest-index polygon containing a point, boundary included, through a
// uniform grid of buckets over the polygons' bounding boxes.
class PointLocator {
public:
    explicit PointLocator(const Mesh& mesh);
    // The polygon index, or -1 when no polygon contains the point.
    std::int64_t locate(Vertex point) const;

private:
    bool contains(const Polygon& polygon, Vertex point) const;
    std::size_t bucket_column(double x) const;
    std::size_t bucket_row(double y) const;

    const Mesh& mesh_;
    double min_x_ = 0, min_y_ = 0, max_x_ = 0, max_y_ = 0;
    double bucket_size_ = 1;
    std::size_t columns_ = 1, rows_ = 1;
    // Polygon indices per bucket, ascending.
    std::vector<std::vector<std::uint32_t>> buckets_;
};

struct Query {
    std::uint32_t start;
    std::uint32_t target;
    PointValue target_point;
};

struct Workload {
    std::vector<Query> queries;
    std::size_t skipped = 0;
};

// Every scenario line: start point to goal point; lines with a point in no polygon
// are skipped (and counted).
Workload scenario_workload(const Mesh& mesh, const std::string& scen_path);

// `count` pairs of nodes drawn from splitmix64 seeded with `seed`.
Workload random_pairs_workload(const NavTables& tables, std::size_t count, std::uint64_t seed);

}  // namespace walkmesh::bench
