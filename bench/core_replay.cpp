// Replays a workload written by bench/compare.py through the search core, without
// Python: the same node and edge tables and the same queries that find_path gets.
// Prints one JSON object: per query the outcome (for the cost check) and the time of
// each round, and what the searches allocated (through the counting allocator).
//
// Usage: walkmesh_core_replay WORKLOAD [--rounds N] [--check] [--memory]
//
// WORKLOAD, native byte order: "WMREPLAY", then node count, edge count and query
// count as unsigned 64-bit integers, the node records (16 bytes each), the edge
// records (28 bytes each), and per query its start and target as unsigned 32-bit.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "search_stats.hpp"
#include "walkmesh/search.hpp"
#include "counting_allocator.hpp"

namespace walkmesh::bench {
namespace {

constexpr char kMagic[8] = {'W', 'M', 'R', 'E', 'P', 'L', 'A', 'Y'};

struct Query {
    std::uint32_t start;
    std::uint32_t target;
};

struct Workload {
    std::vector<std::byte> nodes;
    std::vector<std::byte> edges;
    std::vector<Query> queries;

    std::size_t node_count() const { return nodes.size() / node_record_size; }
    Graph graph() const {
        return Graph(nodes.data(), node_count(), edges.data(), edges.size() / edge_record_size);
    }
};

class Reader {
public:
    explicit Reader(const std::string& path) : in_(path, std::ios::binary) {
        if (!in_) {
            throw std::runtime_error("cannot open " + path);
        }
    }
    void bytes(void* into, std::size_t size) {
        if (!in_.read(static_cast<char*>(into), static_cast<std::streamsize>(size))) {
            throw std::runtime_error("workload file ends early");
        }
    }
    std::uint64_t u64() {
        std::uint64_t value = 0;
        bytes(&value, sizeof value);
        return value;
    }

private:
    std::ifstream in_;
};

Workload read_workload(const std::string& path) {
    Reader reader(path);
    char magic[sizeof kMagic];
    reader.bytes(magic, sizeof magic);
    if (std::memcmp(magic, kMagic, sizeof kMagic) != 0) {
        throw std::runtime_error("not a workload file: " + path);
    }
    const std::uint64_t node_count = reader.u64();
    const std::uint64_t edge_count = reader.u64();
    const std::uint64_t query_count = reader.u64();
    Workload workload;
    workload.nodes.resize(node_count * node_record_size);
    workload.edges.resize(edge_count * edge_record_size);
    workload.queries.resize(query_count);
    reader.bytes(workload.nodes.data(), workload.nodes.size());
    reader.bytes(workload.edges.data(), workload.edges.size());
    for (Query& query : workload.queries) {
        std::uint32_t pair[2];
        reader.bytes(pair, sizeof pair);
        query = {pair[0], pair[1]};
    }
    return workload;
}

// Per query: reached, best cost of the target, cost summed along the route, nodes
// expanded, portal points.
void print_checks(const Workload& workload) {
    const Graph graph = workload.graph();
    std::printf("\"checks\": [");
    const char* separator = "";
    for (const Query& query : workload.queries) {
        SearchStats stats;
        const auto points = search_path_with_stats(graph, query.start, query.target, stats);
        std::printf("%s[%d, %u, %llu, %llu, %zu]", separator, points ? 1 : 0, stats.target_cost,
                    static_cast<unsigned long long>(stats.route_cost),
                    static_cast<unsigned long long>(stats.expansions), points ? points->size() : 0);
        separator = ", ";
    }
    std::printf("],\n");
}

// CPU time of this thread, the clock that compare.py reads too: time the machine
// gives to other processes does not count.
double thread_cpu_microseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Keeps the timed results observable.
volatile std::size_t result_sink = 0;

void print_times(const Workload& workload, int rounds) {
    const Graph graph = workload.graph();
    const std::size_t count = workload.queries.size();
    std::vector<double> microseconds(count * static_cast<std::size_t>(rounds));
    std::size_t points = 0;
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < count; ++i) {
            const Query query = workload.queries[i];
            const double began = thread_cpu_microseconds();
            const auto route = search_path(graph, query.start, query.target);
            const double ended = thread_cpu_microseconds();
            points += route ? route->size() : 0;
            microseconds[i * static_cast<std::size_t>(rounds) + static_cast<std::size_t>(round)] = ended - began;
        }
    }
    result_sink = points;
    std::printf("\"microseconds\": [");
    for (std::size_t i = 0; i < count; ++i) {
        std::printf("%s[", i == 0 ? "" : ", ");
        for (int round = 0; round < rounds; ++round) {
            std::printf("%s%.3f", round == 0 ? "" : ", ",
                        microseconds[i * static_cast<std::size_t>(rounds) + static_cast<std::size_t>(round)]);
        }
        std::printf("]");
    }
    std::printf("],\n");
}

// Per query what one search allocates: the per-node tables, the growths of the open
// queue and the point list, the queue's final capacity and the peak held at once.
void print_memory(const Workload& workload) {
    const Graph graph = workload.graph();
    std::printf("\"memory\": [");
    const char* separator = "";
    for (const Query& query : workload.queries) {
        open_allocation_count();
        const auto route = search_path(graph, query.start, query.target);
        const AllocationCount count = close_allocation_count();
        result_sink = route ? route->size() : 0;
        std::printf("%s[%llu, %llu, %llu, %llu, %llu, %llu]", separator,
                    static_cast<unsigned long long>(count.fixed_blocks),
                    static_cast<unsigned long long>(count.fixed_bytes),
                    static_cast<unsigned long long>(count.growths),
                    static_cast<unsigned long long>(count.growth_bytes),
                    static_cast<unsigned long long>(count.largest_growth),
                    static_cast<unsigned long long>(count.peak_live_bytes));
        separator = ", ";
    }
    std::printf("],\n");
}

int run(int argc, char** argv) {
    std::string path;
    int rounds = 0;
    bool check = false;
    bool memory = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(0, std::atoi(argv[++i]));
        } else if (arg == "--check") {
            check = true;
        } else if (arg == "--memory") {
            memory = true;
        } else {
            path = arg;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "usage: walkmesh_core_replay WORKLOAD [--rounds N] [--check] [--memory]\n");
        return 2;
    }
    const Workload workload = read_workload(path);
    std::printf("{\n");
    if (check) {
        print_checks(workload);
    }
    if (rounds > 0) {
        print_times(workload, rounds);
    }
    if (memory) {
        print_memory(workload);
    }
    std::printf("\"node_count\": %zu, \"query_count\": %zu\n}\n", workload.node_count(),
                workload.queries.size());
    return 0;
}

}  // namespace
}  // namespace walkmesh::bench

int main(int argc, char** argv) {
    try {
        return walkmesh::bench::run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "walkmesh_core_replay: %s\n", error.what());
        return 2;
    }
}
