// walkmesh_tools._native: the companion's native functions. Each binds its arguments
// by position or keyword (the Python layer adds the keyword-only defaults and the
// documentation), holds the tables for the call, runs the shared search and returns
// new arrays.
#include <array>

#include "python/arguments.hpp"
#include "python/array_api.hpp"
#include "core/route.hpp"
#include "tools/batch.hpp"
#include "tools/failures.hpp"
#include "tools/intake.hpp"
#include "tools/mesh.hpp"
#include "tools/results.hpp"

namespace walkmesh::tools {
namespace {

// The calling thread's finder, kept between calls: its tables are reset, not
// reallocated. Uses on one thread never overlap: no Python code runs between binding
// it to a graph and reading the route.
RouteFinder& thread_finder(const Graph& graph) {
    thread_local RouteFinder finder;
    finder.bind(graph);
    return finder;
}

constexpr std::array<const char*, 6> kCorridorParameters = {"nodes", "edges", "start", "target",
                                                           "max_expansions", "partial"};
constexpr Signature kCorridorSignature{"corridor()", kCorridorParameters};

OwnedRef corridor(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 6> slots{};
    bind_fastcall(kCorridorSignature, arguments, positional_count, keyword_names, slots);
    HeldTables tables(slots[0], slots[1]);
    const std::uint32_t start = node_argument("start", slots[2], tables.node_count());
    const std::uint32_t target = node_argument("target", slots[3], tables.node_count());
    const RouteOptions options = route_options(slots[4], slots[5]);

    RouteFinder& finder = thread_finder(tables.graph());
    const RouteEnd end = finder.find(start, target, options);
    return node_array(end == RouteEnd::none ? std::span<const std::uint32_t>() : finder.nodes());
}

constexpr std::array<const char*, 8> kStraightPathParameters = {
    "nodes", "edges", "start", "target", "start_point", "target_point", "max_expansions", "partial"};
constexpr Signature kStraightPathSignature{"straight_path()", kStraightPathParameters};

OwnedRef straight_path(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 8> slots{};
    bind_fastcall(kStraightPathSignature, arguments, positional_count, keyword_names, slots);
    HeldTables tables(slots[0], slots[1]);
    const std::uint32_t start = node_argument("start", slots[2], tables.node_count());
    const std::uint32_t target = node_argument("target", slots[3], tables.node_count());
    const PointValue start_point = point_argument("start_point", slots[4]);
    const PointValue target_point = point_argument("target_point", slots[5]);
    const RouteOptions options = route_options(slots[6], slots[7]);

    RouteFinder& finder = thread_finder(tables.graph());
    const RouteEnd end = finder.find(start, target, options);
    GrowableArray<PointValue> points;
    if (end == RouteEnd::target) {
        finder.append_straight_path(start_point, target_point, points);
    } else if (end == RouteEnd::partial) {
        finder.append_straight_path(start_point, finder.centroid(finder.nodes().back()), points);
    }
    return point_rows({points.data(), points.size()});
}

template <OwnedRef (*Function)(PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* entry(PyObject*, PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    return call_boundary([&] { return Function(arguments, positional_count, keyword_names); });
}

PyCFunction fastcall(PyObject* (*function)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef methods[] = {
    {"corridor", fastcall(entry<corridor>), METH_FASTCALL | METH_KEYWORDS,
     "corridor(nodes, edges, start, target, max_expansions, partial)\n--\n\n"},
    {"straight_path", fastcall(entry<straight_path>), METH_FASTCALL | METH_KEYWORDS,
     "straight_path(nodes, edges, start, target, start_point, target_point, max_expansions, partial)\n--\n\n"},
    {"find_paths", fastcall(entry<find_paths>), METH_FASTCALL | METH_KEYWORDS,
     "find_paths(nodes, edges, starts, targets, target_points, start_points, straight, threads, "
     "max_expansions, partial, progress)\n--\n\n"},
    {"mesh", fastcall(entry<mesh>), METH_FASTCALL | METH_KEYWORDS,
     "mesh(vertices, polygon_offsets, polygon_corners, neighbours)\n--\n\n"},
    {"layered_mesh", fastcall(entry<layered_mesh>), METH_FASTCALL | METH_KEYWORDS,
     "layered_mesh(vertices, polygon_offsets, polygon_corners, neighbours, heights)\n--\n\n"},
    {"shortest_path", fastcall(entry<shortest_path>), METH_FASTCALL | METH_KEYWORDS,
     "shortest_path(mesh, start_polygon, start, target_polygon, target)\n--\n\n"},
    {"shortest_paths", fastcall(entry<shortest_paths>), METH_FASTCALL | METH_KEYWORDS,
     "shortest_paths(mesh, start_polygons, starts, target_polygons, targets, threads, progress)\n--\n\n"},
    {"locate", fastcall(entry<locate>), METH_FASTCALL | METH_KEYWORDS,
     "locate(mesh, points, heights, max_climb)\n--\n\n"},
    {"nearest", fastcall(entry<nearest>), METH_FASTCALL | METH_KEYWORDS,
     "nearest(mesh, points, max_distance, heights, max_climb)\n--\n\n"},
    {"levels", fastcall(entry<levels>), METH_FASTCALL | METH_KEYWORDS, "levels(mesh, point)\n--\n\n"},
    {"stacked", fastcall(entry<stacked>), METH_FASTCALL | METH_KEYWORDS, "stacked(mesh, agent_height)\n--\n\n"},
    {"lift", fastcall(entry<lift>), METH_FASTCALL | METH_KEYWORDS,
     "lift(mesh, offsets, points, polygons, starts, lasts)\n--\n\n"},
    {"place", fastcall(entry<place>), METH_FASTCALL | METH_KEYWORDS, "place(mesh, point)\n--\n\n"},
    {"first_overlap", fastcall(entry<first_overlap>), METH_FASTCALL | METH_KEYWORDS,
     "first_overlap(mesh, tolerance, agent_height)\n--\n\n"},
    {"locator_bytes", fastcall(entry<locator_bytes>), METH_FASTCALL | METH_KEYWORDS, "locator_bytes(mesh)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "walkmesh_tools._native", "The native part of walkmesh_tools.", -1, methods,
    nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace walkmesh::tools

WALKMESH_MODULE_INIT PyInit__native() {
    PyObject* module = PyModule_Create(&walkmesh::tools::module_definition);
    // What a worker's route finder holds per node of the graph, for the benchmarks.
    if (module != nullptr &&
        PyModule_AddIntConstant(module, "route_finder_bytes_per_node",
                                static_cast<long>(walkmesh::route_finder_bytes_per_node)) == -1) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
