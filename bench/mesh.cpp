// Mesh and scenario files to record tables and query workloads (see mesh.hpp).
#include "mesh.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace walkmesh::bench {
namespace {

class TokenReader {
public:
    explicit TokenReader(const std::string& path) : path_(path), in_(path) {
        if (!in_) {
            throw std::runtime_error("cannot open " + path);
        }
    }

    template <class T>
    T next() {
        T value;
        if (!(in_ >> value)) {
            throw std::runtime_error("malformed file " + path_);
        }
        return value;
    }

private:
    std::string path_;
    std::ifstream in_;
};

template <class Field>
void append_field(std::vector<std::byte>& table, Field field) {
    static_assert(sizeof(Field) == 4);
    const std::size_t at = table.size();
    table.resize(at + sizeof(Field));
    std::memcpy(table.data() + at, &field, sizeof(Field));
}

PointValue as_point(const Vertex& vertex) {
    return {static_cast<float>(vertex.x), static_cast<float>(vertex.y)};
}

PointValue centroid_of(const Mesh& mesh, const Polygon& polygon) {
    double sum_x = 0;
    double sum_y = 0;
    for (const std::int32_t v : polygon.vertices) {
        sum_x += mesh.vertices[static_cast<std::size_t>(v)].x;
        sum_y += mesh.vertices[static_cast<std::size_t>(v)].y;
    }
    const auto n = static_cast<double>(polygon.vertices.size());
    return {static_cast<float>(sum_x / n), static_cast<float>(sum_y / n)};
}

// Never below the distance, so the straight-line estimate never overestimates.
std::uint32_t crossing_cost(PointValue from, PointValue to) {
    const double dx = static_cast<double>(to.x) - static_cast<double>(from.x);
    const double dy = static_cast<double>(to.y) - static_cast<double>(from.y);
    return static_cast<std::uint32_t>(std::ceil(std::sqrt(dx * dx + dy * dy)));
}

std::uint64_t splitmix64(std::uint64_t& state) {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

Mesh read_mesh(const std::string& path) {
    TokenReader reader(path);
    if (reader.next<std::string>() != "mesh" || reader.next<int>() != 2) {
        throw std::runtime_error("not a version 2 mesh: " + path);
    }
    Mesh mesh;
    const auto vertex_count = reader.next<std::size_t>();
    const auto polygon_count = reader.next<std::size_t>();
    mesh.vertices.reserve(vertex_count);
    for (std::size_t i = 0; i < vertex_count; ++i) {
        const auto x = reader.next<double>();
        const auto y = reader.next<double>();
        const auto around = reader.next<std::size_t>();
        for (std::size_t k = 0; k < around; ++k) {
            reader.next<std::int32_t>();
        }
        mesh.vertices.push_back({x, y});
    }
    mesh.polygons.resize(polygon_count);
    for (Polygon& polygon : mesh.polygons) {
        const auto n = reader.next<std::size_t>();
        polygon.vertices.resize(n);
        polygon.neighbours.resize(n);
        for (auto& v : polygon.vertices) {
            v = reader.next<std::int32_t>();
            if (v < 0 || static_cast<std::size_t>(v) >= vertex_count) {
                throw std::runtime_error("vertex index out of range in " + path);
            }
        }
        for (auto& p : polygon.neighbours) {
            p = reader.next<std::int32_t>();
            if (p < -1 || p >= static_cast<std::int64_t>(polygon_count)) {
                throw std::runtime_error("neighbour index out of range in " + path);
            }
        }
    }
    return mesh;
}

NavTables build_tables(const Mesh& mesh) {
    std::vector<PointValue> centroids;
    centroids.reserve(mesh.polygons.size());
    for (const Polygon& polygon : mesh.polygons) {
        centroids.push_back(centroid_of(mesh, polygon));
    }
    NavTables tables;
    std::uint32_t edge_start = 0;
    for (std::size_t i = 0; i < mesh.polygons.size(); ++i) {
        const Polygon& polygon = mesh.polygons[i];
        std::uint32_t edge_count = 0;
        const std::size_t n = polygon.vertices.size();
        for (std::size_t j = 0; j < n; ++j) {
            const std::int32_t neighbour = polygon.neighbours[j];
            if (neighbour == -1) {
                continue;
            }
            const auto to = static_cast<std::uint32_t>(neighbour);
            const Vertex& left =
                mesh.vertices[static_cast<std::size_t>(polygon.vertices[(j + n - 1) % n])];
            const Vertex& right = mesh.vertices[static_cast<std::size_t>(polygon.vertices[j])];
            append_field(tables.edges, to);
            append_field(tables.edges, crossing_cost(centroids[i], centroids[to]));
            append_field(tables.edges, as_point(left).x);
            append_field(tables.edges, as_point(left).y);
            append_field(tables.edges, as_point(right).x);
            append_field(tables.edges, as_point(right).y);
            append_field(tables.edges, std::uint32_t{0});
            ++edge_count;
        }
        append_field(tables.nodes, centroids[i].x);
        append_field(tables.nodes, centroids[i].y);
        append_field(tables.nodes, edge_start);
        append_field(tables.nodes, edge_count);
        edge_start += edge_count;
    }
    return tables;
}

PointLocator::PointLocator(const Mesh& mesh) : mesh_(mesh) {
    if (mesh.vertices.empty()) {
        return;
    }
    min_x_ = max_x_ = mesh.vertices[0].x;
    min_y_ = max_y_ = mesh.vertices[0].y;
    for (const Vertex& v : mesh.vertices) {
        min_x_ = std::min(min_x_, v.x);
        max_x_ = std::max(max_x_, v.x);
        min_y_ = std::min(min_y_, v.y);
        max_y_ = std::max(max_y_, v.y);
    }
    // About one polygon per bucket.
    const double area = std::max(1.0, (max_x_ - min_x_) * (max_y_ - min_y_));
    bucket_size_ = std::max(
        1.0, std::sqrt(area / static_cast<double>(std::max<std::size_t>(1, mesh.polygons.size()))));
    columns_ = static_cast<std::size_t>((max_x_ - min_x_) / bucket_size_) + 1;
    rows_ = static_cast<std::size_t>((max_y_ - min_y_) / bucket_size_) + 1;
    buckets_.resize(columns_ * rows_);
    for (std::size_t i = 0; i < mesh.polygons.size(); ++i) {
        double lo_x = max_x_, hi_x = min_x_, lo_y = max_y_, hi_y = min_y_;
        for (const std::int32_t v : mesh.polygons[i].vertices) {
            const Vertex& p = mesh.vertices[static_cast<std::size_t>(v)];
            lo_x = std::min(lo_x, p.x);
            hi_x = std::max(hi_x, p.x);
            lo_y = std::min(lo_y, p.y);
            hi_y = std::max(hi_y, p.y);
        }
        for (std::size_t row = bucket_row(lo_y); row <= bucket_row(hi_y); ++row) {
            for (std::size_t column = bucket_column(lo_x); column <= bucket_column(hi_x);
                 ++column) {
                buckets_[row * columns_ + column].push_back(static_cast<std::uint32_t>(i));
            }
        }
    }
}

std::size_t PointLocator::bucket_column(double x) const {
    return std::min(columns_ - 1, static_cast<std::size_t>((x - min_x_) / bucket_size_));
}

std::size_t PointLocator::bucket_row(double y) const {
    return std::min(rows_ - 1, static_cast<std::size_t>((y - min_y_) / bucket_size_));
}

std::int64_t PointLocator::locate(Vertex point) const {
    if (buckets_.empty() || point.x < min_x_ || point.x > max_x_ || point.y < min_y_ ||
        point.y > max_y_) {
        return -1;
    }
    for (const std::uint32_t i :
         buckets_[bucket_row(point.y) * columns_ + bucket_column(point.x)]) {
        if (contains(mesh_.polygons[i], point)) {
            return i;
        }
    }
    return -1;
}

// Left of or on every side of a counter-clockwise convex polygon.
bool PointLocator::contains(const Polygon& polygon, Vertex point) const {
    const std::size_t n = polygon.vertices.size();
    for (std::size_t j = 0; j < n; ++j) {
        const Vertex& a =
            mesh_.vertices[static_cast<std::size_t>(polygon.vertices[(j + n - 1) % n])];
        const Vertex& b = mesh_.vertices[static_cast<std::size_t>(polygon.vertices[j])];
        const double cross = (b.x - a.x) * (point.y - a.y) - (b.y - a.y) * (point.x - a.x);
        if (cross < 0) {
            return false;
        }
    }
    return true;
}

Workload scenario_workload(const Mesh& mesh, const std::string& scen_path) {
    std::ifstream in(scen_path);
    if (!in) {
        throw std::runtime_error("cannot open " + scen_path);
    }
    const PointLocator locator(mesh);
    Workload workload;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        std::istringstream fields(line);
        std::string bucket, map;
        double width = 0, height = 0, start_x = 0, start_y = 0, goal_x = 0, goal_y = 0;
        if (!(fields >> bucket >> map >> width >> height >> start_x >> start_y >> goal_x >>
              goal_y)) {
            throw std::runtime_error("malformed scenario line in " + scen_path + ": " + line);
        }
        const std::int64_t start = locator.locate({start_x, start_y});
        const std::int64_t target = locator.locate({goal_x, goal_y});
        if (start < 0 || target < 0) {
            ++workload.skipped;
            continue;
        }
        workload.queries.push_back({static_cast<std::uint32_t>(start),
                                    static_cast<std::uint32_t>(target),
                                    {static_cast<float>(goal_x), static_cast<float>(goal_y)}});
    }
    return workload;
}

Workload random_pairs_workload(const NavTables& tables, std::size_t count, std::uint64_t seed) {
    const Graph graph = tables.graph();
    const std::uint64_t n = tables.node_count();
    std::uint64_t state = seed;
    Workload workload;
    for (std::size_t i = 0; i < count; ++i) {
        const auto start = static_cast<std::uint32_t>(splitmix64(state) % n);
        const auto target = static_cast<std::uint32_t>(splitmix64(state) % n);
        workload.queries.push_back({start, target, graph.centroid(target)});
    }
    return workload;
}

}  // namespace walkmesh::bench
