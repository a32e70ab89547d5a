// Writes the node and edge tables that the benchmark's mesh reader builds, so that a
// test can compare them byte for byte with walkmesh_tools' (tests/test_tables.py).
//   walkmesh_mesh_dump MESH OUT
// OUT receives the 8 bytes WMTABLES, the node and edge counts as unsigned 64-bit
// integers, the node records and the edge records, in native byte order.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>

#include "mesh.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MESH OUT\n", argv[0]);
        return 2;
    }
    try {
        const walkmesh::bench::NavTables tables = walkmesh::bench::build_tables(walkmesh::bench::read_mesh(argv[1]));
        std::ofstream out(argv[2], std::ios::binary);
        const std::uint64_t counts[2] = {tables.node_count(), tables.edge_count()};
        out.write("WMTABLES", 8);
        out.write(reinterpret_cast<const char*>(counts), sizeof counts);
        out.write(reinterpret_cast<const char*>(tables.nodes.data()), static_cast<std::streamsize>(tables.nodes.size()));
        out.write(reinterpret_cast<const char*>(tables.edges.data()), static_cast<std::streamsize>(tables.edges.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
            return 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
