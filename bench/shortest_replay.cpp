// Replays shortest-path workloads without Python: a mesh description and located
// queries, as bench/shortest.py --dump writes them, through ShortestPathFinder.
// Prints per workload the mean thread CPU time per query (fastest of the rounds),
// the search nodes generated, pushed and popped (mean, median, max) and the sum of the
// lengths; --lengths FILE writes every query's length, --check FILE compares them
// with such a file (relative 1e-12), for changes of the search that must keep them;
// --paths FILE writes every query's path and length as bytes, to compare two builds'
// with cmp where a change must keep every path bit for bit.
//
// Usage: walkmesh_shortest_replay WORKLOAD [--rounds N] [--lengths FILE] [--check FILE]
//        [--paths FILE] [--only QUERY] [--every K]  (one query, or every K-th)
//
// WORKLOAD, native byte order: "WMSHORTS", the vertex, polygon, corner and query
// counts as unsigned 64-bit integers, the vertices (x, y float64), the polygon
// offsets, corners and neighbours (int64), then per query its start polygon (int64),
// start point (2 float64), target polygon and target point.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/fault.hpp"
#include "core/mesh.hpp"
#include "core/shortest_path.hpp"

namespace walkmesh {
// The replay meets no table fault; storage that cannot be had ends it.
void raise_fault(const Fault& fault) {
    std::fprintf(stderr, "fault %d\n", static_cast<int>(fault.kind));
    std::abort();
}
}  // namespace walkmesh

namespace walkmesh::bench {
namespace {

struct Query {
    std::int64_t start_polygon;
    XY start;
    std::int64_t target_polygon;
    XY target;
};

struct Workload {
    std::vector<double> vertices;
    std::vector<std::int64_t> offsets, corners, neighbours;
    std::vector<Query> queries;
};

template <class T>
void read_into(std::ifstream& in, std::vector<T>& into, std::uint64_t count) {
    into.resize(count);
    if (!in.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(count * sizeof(T)))) {
        throw std::runtime_error("workload file ends early");
    }
}

Workload read_workload(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[8];
    std::uint64_t counts[4];
    if (!in.read(magic, 8) || std::memcmp(magic, "WMSHORTS", 8) != 0 ||
        !in.read(reinterpret_cast<char*>(counts), sizeof counts)) {
        throw std::runtime_error("not a workload file: " + path);
    }
    Workload w;
    read_into(in, w.vertices, 2 * counts[0]);
    read_into(in, w.offsets, counts[1] + 1);
    read_into(in, w.corners, counts[2]);
    read_into(in, w.neighbours, counts[2]);
    static_assert(sizeof(Query) == 48);
    read_into(in, w.queries, counts[3]);
    return w;
}

double thread_cpu_microseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

struct Summary {
    double mean, median, max;
};

Summary summary(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    double total = 0;
    for (const double v : values) total += v;
    return {total / static_cast<double>(values.size()), values[values.size() / 2], values.back()};
}

}  // namespace
}  // namespace walkmesh::bench

int main(int argc, char** argv) {
    using namespace walkmesh;
    using namespace walkmesh::bench;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s WORKLOAD [--rounds N] [--lengths FILE] [--check FILE]\n", argv[0]);
        return 2;
    }
    int rounds = 3;
    std::string lengths_out, check_in, paths_out;
    long only = -1, every = 1;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--rounds") rounds = std::atoi(argv[i + 1]);
        else if (option == "--lengths") lengths_out = argv[i + 1];
        else if (option == "--check") check_in = argv[i + 1];
        else if (option == "--paths") paths_out = argv[i + 1];
        else if (option == "--only") only = std::atol(argv[i + 1]);
        else if (option == "--every") every = std::atol(argv[i + 1]);
    }
    Workload w = read_workload(argv[1]);
    if (only >= 0) w.queries = {w.queries[static_cast<std::size_t>(only)]};
    if (every > 1) {
        std::vector<Query> kept;
        for (std::size_t i = 0; i < w.queries.size(); i += static_cast<std::size_t>(every)) kept.push_back(w.queries[i]);
        w.queries = kept;
    }
    const MeshIndex mesh(MeshView{w.vertices, w.offsets, w.corners, w.neighbours});
    ShortestPathFinder finder;
    const std::size_t count = w.queries.size();
    std::vector<double> best(count, INFINITY), lengths(count), generated(count), pushed(count), popped(count);
    // Per query: the point count (uint64), the points (x, y float64) and the length.
    std::vector<char> paths;
    const auto put = [&paths](const void* bytes, std::size_t size) {
        paths.insert(paths.end(), static_cast<const char*>(bytes), static_cast<const char*>(bytes) + size);
    };
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < count; ++i) {
            const Query& q = w.queries[i];
            const double began = thread_cpu_microseconds();
            finder.find(mesh, q.start_polygon, q.start, q.target_polygon, q.target);
            best[i] = std::min(best[i], thread_cpu_microseconds() - began);
            lengths[i] = finder.length();
            generated[i] = static_cast<double>(finder.counts().generated);
            pushed[i] = static_cast<double>(finder.counts().pushed);
            popped[i] = static_cast<double>(finder.counts().popped);
            if (!paths_out.empty() && round == 0) {
                const std::uint64_t points = finder.path().size();
                put(&points, sizeof points);
                put(finder.path().data(), points * sizeof(XY));
                put(&lengths[i], sizeof(double));
            }
        }
    }
    double total_length = 0;
    for (const double l : lengths) total_length += l;
    const Summary time = summary(best), g = summary(generated), pu = summary(pushed), po = summary(popped);
    std::printf("%zu queries: %.1f us per query (median %.1f, max %.0f); generated %.0f / %.0f / %.0f, pushed %.0f / "
                "%.0f / %.0f, popped %.0f / %.0f / %.0f (mean / median / max); lengths %.6f\n",
                count, time.mean, time.median, time.max, g.mean, g.median, g.max, pu.mean, pu.median, pu.max, po.mean,
                po.median, po.max, total_length);
    if (!lengths_out.empty()) {
        std::ofstream out(lengths_out, std::ios::binary);
        out.write(reinterpret_cast<const char*>(lengths.data()), static_cast<std::streamsize>(count * sizeof(double)));
    }
    if (!paths_out.empty()) {
        std::ofstream out(paths_out, std::ios::binary);
        out.write(paths.data(), static_cast<std::streamsize>(paths.size()));
    }
    if (!check_in.empty()) {
        std::ifstream in(check_in, std::ios::binary);
        std::vector<double> expected(count);
        in.read(reinterpret_cast<char*>(expected.data()), static_cast<std::streamsize>(count * sizeof(double)));
        int wrong = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (!(std::fabs(lengths[i] - expected[i]) <= 1e-12 * std::max(1.0, expected[i]))) {
                if (wrong++ < 10) std::printf("query %zu: %.17g, expected %.17g\n", i, lengths[i], expected[i]);
            }
        }
        std::printf("check: %d of %zu lengths differ\n", wrong, count);
        return wrong == 0 ? 0 : 1;
    }
    return 0;
}
