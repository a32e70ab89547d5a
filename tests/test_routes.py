"""walkmesh_tools.corridor and straight_path: the corridor is the route find_path walks,
bit for bit, and the straight path the shortest polyline through its portals, checked
against references computed another way; bad input gives ordinary exceptions."""
import math
from pathlib import Path

import numpy as np
import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import reference
import walkmesh_tools as tools
from graphs import RegistryClient, chain, make_edges, make_nodes, pythonpath_with_tests, random_strip, strip, view_in_place_as
import workloads
from test_find_path import Changing
from test_find_path_differential import graphs
from walkmesh import Point, find_path

NAVMESHES = Path(__file__).resolve().parent.parent.parent / "shared" / "navmeshes"


def portals_of(nodes, edges, route):
    """(left, right) of the first edge of each node's run that leads to the next node."""
    portals = []
    for a, b in zip(route[:-1], route[1:]):
        run = edges[nodes[a]["edge_start"]:][:nodes[a]["edge_count"]]
        edge = run[np.flatnonzero(run["to"] == b)[0]]
        portals.append((tuple(map(float, edge["left"])), tuple(map(float, edge["right"]))))
    return portals


def midpoints(portals):
    with np.errstate(over="ignore", invalid="ignore"):
        return [(np.float32(np.float32(a[0] + b[0]) * 0.5), np.float32(np.float32(a[1] + b[1]) * 0.5))
                for a, b in portals]


def assert_corridor_is_find_paths_route(nodes, edges, start, target, target_point=(0.0, 0.0)):
    route = tools.corridor(nodes, edges, start, target)
    found = [(p.x, p.y) for p in find_path(nodes, edges, start, target, Point(*target_point))]
    assert route.dtype == np.uint32
    if len(route) == 0:
        assert len(found) == 1
    else:
        assert route[0] == start and route[-1] == target
        np.testing.assert_array_equal(np.array(midpoints(portals_of(nodes, edges, route)), np.float32).reshape(-1, 2),
                                      np.array(found[:-1], np.float32).reshape(-1, 2))
    return route


def shared_tables(name):
    path = NAVMESHES / name
    if not path.exists():
        pytest.skip(f"{path} is not here")
    mesh = tools.NavMesh.load(path)
    return mesh.nodes, mesh.edges


@pytest.mark.long
@settings(max_examples=300, deadline=None)
@given(graphs(), st.one_of(st.none(), st.integers(0, 12)), st.booleans())
def test_random_graphs_match_the_reference_route(graph, budget, partial):
    nodes, edges, start, target, _ = graph
    tables = reference.Tables(nodes, edges)
    try:
        reference.search(tables, start, target)
    except reference.ReferenceFailure:
        pass
    else:
        assert_corridor_is_find_paths_route(nodes, edges, start, target)
    try:
        expected, _, _ = reference.route(tables, start, target, budget, partial)
    except (reference.ReferenceFailure, IndexError):
        # Whatever find_path panics on, the companion refuses with an ordinary exception.
        with pytest.raises((IndexError, ValueError)):
            tools.corridor(nodes, edges, start, target, max_expansions=budget, partial=partial)
        return
    found = tools.corridor(nodes, edges, start, target, max_expansions=budget, partial=partial)
    assert found.tolist() == expected


@pytest.mark.parametrize("name", ["arena.mesh", "aurora.mesh", "Berlin_0_1024.mesh"])
def test_real_meshes_corridor_midpoints_are_find_paths_points(name):
    nodes, edges = shared_tables(name)
    for query in workloads.random_node_queries(nodes, count=25, seed=11):
        assert_corridor_is_find_paths_route(nodes, edges, query.start, query.target, query.target_point)


def test_budget_reaches_the_target_exactly_when_it_suffices():
    nodes, edges = chain(6)
    _, reached, needed = reference.route(reference.Tables(nodes, edges), 0, 6)
    assert reached and needed == 6
    assert tools.corridor(nodes, edges, 0, 6, max_expansions=needed).tolist() == list(range(7))
    assert len(tools.corridor(nodes, edges, 0, 6, max_expansions=needed - 1)) == 0
    # Nodes 0 to 4 were expanded; 5 was reached but not expanded.
    assert tools.corridor(nodes, edges, 0, 6, max_expansions=needed - 1, partial=True).tolist() == list(range(5))
    assert tools.corridor(nodes, edges, 0, 6, max_expansions=0, partial=True).tolist() == [0]
    assert tools.corridor(nodes, edges, 3, 3, max_expansions=0).tolist() == [3]
    path = tools.straight_path(nodes, edges, 0, 6, (0, 1), (6, 1), max_expansions=2, partial=True)
    assert path[-1].tolist() == list(nodes[1]["centroid"].tolist())
    assert tools.straight_path(nodes, edges, 0, 6, (0, 1), (6, 1), max_expansions=2).shape == (0, 2)


# ---- straight paths ----

def polyline_length(points):
    points = np.asarray(points, np.float64)
    return float(np.hypot(*np.diff(points, axis=0).T).sum())


def check_shape_of_path(path, start_point, end_point, portals):
    assert path.dtype == np.float32 and path.ndim == 2 and path.shape[1] == 2
    assert np.isfinite(path).all()
    assert tuple(path[0]) == tuple(np.float32(start_point)) and tuple(path[-1]) == tuple(np.float32(end_point))
    ends = {tuple(np.float32(point)) for portal in portals for point in portal}
    assert all(tuple(row) in ends for row in path[1:-1]), "a corner that is not a portal end"
    assert not any((path[1:-1] == path[:-2]).all(axis=1)), "a repeated corner"
    before, corner, after = (path[i:len(path) - 2 + i].astype(np.float64) for i in range(3))
    u, v = corner - before, after - corner
    straight = (u[:, 0] * v[:, 1] == u[:, 1] * v[:, 0]) & ((u * v).sum(axis=1) >= 0)
    assert not straight.any(), "a corner on the line between its neighbours"


def check_against_reference(nodes, edges, start, target, start_point, end_point):
    path = tools.straight_path(nodes, edges, start, target, start_point, end_point)
    portals = portals_of(nodes, edges, tools.corridor(nodes, edges, start, target))
    check_shape_of_path(path, start_point, end_point, portals)
    start_point, end_point = tuple(map(float, np.float32(start_point))), tuple(map(float, np.float32(end_point)))
    expected, _ = reference.shortest_through_portals(start_point, portals, end_point)
    assert polyline_length(path) == pytest.approx(expected, rel=1e-9, abs=1e-9)
    assert polyline_length(path) <= polyline_length([start_point, *midpoints(portals), end_point]) + 1e-9
    return path


def point_in_triangle(rng, corners, where):
    """Inside the triangle, or on its side towards the next triangle (its middle or an
    end), where points on grid maps often lie; exactly on it for integer corners."""
    corners = np.array(corners, np.float64)
    if where == "inside":
        return rng.dirichlet([1, 1, 1]) @ corners
    return corners[1] if where == "vertex" else (corners[1] + corners[2]) / 2


@settings(max_examples=200, deadline=None)
# A portal end on the straight line from a corner to the end point.
@example(796945847, 14, 0.5, "inside", "portal")
@given(st.integers(0, 2**32 - 1), st.integers(1, 16), st.sampled_from([0.0, 0.5, 2.0]),
       st.sampled_from(["inside", "inside", "portal", "vertex"]), st.sampled_from(["inside", "portal", "vertex"]))
def test_random_strips_match_the_shortest_polyline(seed, count, turn, start_at, end_at):
    rng = np.random.default_rng(seed)
    vertices = random_strip(rng, count, turn, grid=start_at != "inside" or end_at != "inside")
    nodes, edges = strip(vertices)
    start_point = point_in_triangle(rng, vertices[:3], start_at)
    end_point = point_in_triangle(rng, vertices[-1:-4:-1], end_at)
    path = check_against_reference(nodes, edges, 0, count - 1, start_point, end_point)

    # Either naming of the portal ends, and y pointing the other way, give the same path.
    swapped = edges.copy()
    swapped["left"], swapped["right"] = edges["right"], edges["left"]
    np.testing.assert_array_equal(tools.straight_path(nodes, swapped, 0, count - 1, start_point, end_point), path)
    mirrored_nodes, mirrored_edges = nodes.copy(), edges.copy()
    for field in (mirrored_nodes["centroid"], mirrored_edges["left"], mirrored_edges["right"]):
        field["y"] = -field["y"]
    mirrored = tools.straight_path(mirrored_nodes, mirrored_edges, 0, count - 1,
                                   start_point * [1, -1], end_point * [1, -1])
    np.testing.assert_array_equal(mirrored, path * np.float32([1, -1]))


@pytest.mark.parametrize("name", ["arena.mesh", pytest.param("aurora.mesh", marks=pytest.mark.long),
                                  "Berlin_0_1024.mesh"])
def test_real_queries_match_the_shortest_polyline(name):
    mesh_path = NAVMESHES / name
    if not mesh_path.exists():
        pytest.skip(f"{mesh_path} is not here")
    mesh = tools.NavMesh.load(mesh_path)
    nodes, edges = mesh.nodes, mesh.edges
    rng = np.random.default_rng(5)
    low, high = np.min(mesh.vertices, axis=0), np.max(mesh.vertices, axis=0)
    checked = 0
    while checked < 24:
        start_point, end_point = rng.uniform(low, high), rng.uniform(low, high)
        if checked % 2:
            # Grid maps put scenario points on integer coordinates, often on portals.
            start_point, end_point = np.round(start_point), np.round(end_point)
        start, target = mesh.locate(start_point), mesh.locate(end_point)
        if start < 0 or target < 0 or not 0 < len(tools.corridor(nodes, edges, start, target)) <= 40:
            continue
        check_against_reference(nodes, edges, start, target, start_point, end_point)
        checked += 1


def test_degenerate_inputs_give_defined_paths():
    # Portals of zero length, corners collinear with the path, points outside their
    # nodes and equal end points: finite rows, no repeats, corners on portal ends only.
    nodes = make_nodes([((0.5, 0.5), 0, 1), ((1.5, 0.5), 1, 2), ((2.5, 0.5), 3, 2), ((3.5, 0.5), 5, 0)])
    edges = make_edges([(1, 1, (1, 0), (1, 1)), (0, 1, (1, 1), (1, 0)), (2, 1, (2, 1), (2, 1)),
                        (1, 1, (2, 1), (2, 1)), (3, 1, (3, 0), (3, 2))])
    portals = portals_of(nodes, edges, [0, 1, 2, 3])
    for start_point, end_point in [((0.5, 0.5), (3.5, 0.5)), ((0, 1), (4, 1)), ((-9, 40), (30, -2)),
                                   ((2, 1), (2, 1)), ((1, 1), (3, 1))]:
        check_shape_of_path(tools.straight_path(nodes, edges, 0, 3, start_point, end_point),
                            start_point, end_point, portals)
    same = tools.straight_path(nodes, edges, 2, 2, (2.5, 0.5), (2.5, 0.5))
    assert same.tolist() == [[2.5, 0.5], [2.5, 0.5]]
    assert tools.straight_path(nodes, edges, 3, 0, (3.5, 0.5), (0.5, 0.5)).shape == (0, 2)
    # Collinear portal ends on the way give one straight segment's length.
    line_nodes, line_edges = chain(5)
    flat = tools.straight_path(line_nodes, line_edges, 0, 5, (0, 0), (5, 0))
    assert polyline_length(flat) == pytest.approx(5.0)


# ---- bad input ----

POINT = (0.0, 0.0)


def bad_calls():
    nodes, edges = chain(3)
    broken_edges = edges.copy()
    broken_edges[1]["to"] = 17
    broken_nodes = nodes.copy()
    broken_nodes[1]["edge_start"] = 9
    return nodes, edges, [
        ((list(nodes), edges, 0, 1), TypeError, "argument 'nodes': expected a numpy.ndarray of node records, got list"),
        ((np.stack([nodes, nodes]), edges, 0, 1), ValueError, "argument 'nodes': expected a one-dimensional array"),
        ((nodes, nodes, 0, 1), TypeError, "argument 'edges': dtype"),
        ((nodes, np.repeat(edges, 2)[::2], 0, 1), ValueError, "argument 'edges': the array is not contiguous"),
        ((nodes, edges, 4, 1), tools.QueryError, "start node 4 is outside the node table (4 nodes)"),
        ((nodes, edges, 0, -1), tools.QueryError, "target node -1 is outside the node table"),
        ((nodes, edges, 1.0, 1), TypeError, "argument 'start': 'float' object cannot be interpreted as an integer"),
        ((nodes, broken_edges, 0, 3), tools.QueryError, "edge 1 of node 1 leads to node 17, outside the node table (4 nodes)"),
        ((broken_nodes, edges, 0, 3), tools.QueryError, "node 1 has edge_start 9 and edge_count 1, a run outside the edge table (3 edges)"),
    ]


@pytest.mark.parametrize("function", ["corridor", "straight_path"])
def test_bad_input_raises_ordinary_exceptions_and_releases_the_arrays(function, capfd):
    nodes, edges, calls = bad_calls()
    registry = RegistryClient()
    extra = (POINT, POINT) if function == "straight_path" else ()
    for arguments, exception, message in calls:
        with pytest.raises(exception) as caught:
            getattr(tools, function)(*arguments, *extra)
        assert str(caught.value).startswith(message)
        for array in arguments[:2]:
            if isinstance(array, np.ndarray):
                assert registry.can_borrow_exclusively(array)
    assert registry.acquire_exclusive(nodes) == 0
    try:
        with pytest.raises(ValueError, match="argument 'nodes': the array is borrowed for writing by other code"):
            getattr(tools, function)(nodes, edges, 0, 1, *extra)
    finally:
        registry.release_exclusive(nodes)
    assert registry.can_borrow_exclusively(nodes) and registry.can_borrow_exclusively(edges)
    with pytest.raises(ValueError, match="argument 'max_expansions': must be None or at least 0, got -1"):
        getattr(tools, function)(nodes, edges, 0, 1, *extra, max_expansions=-1)
    assert capfd.readouterr().err == ""


@pytest.mark.parametrize("point, exception, message", [
    ("ab", TypeError, "argument 'start_point': expected a walkmesh.Point or a pair of numbers, got str"),
    ((1, 2, 3), ValueError, "argument 'start_point': expected a pair of numbers, got 3 items"),
    ((1, "x"), TypeError, "argument 'start_point': must be real number, not str"),
    ((math.nan, 0), ValueError, "argument 'start_point': coordinates must be finite"),
])
def test_points_are_checked(point, exception, message):
    nodes, edges = chain(2)
    with pytest.raises(exception) as caught:
        tools.straight_path(nodes, edges, 0, 2, point, POINT)
    assert str(caught.value).startswith(message)


def test_points_convert_as_point_does():
    nodes, edges = chain(2)
    value = 0.1 + 2**-30
    for point in [Point(value, 1), (value, 1), np.array([value, 1.0]), [np.float64(value), 1]]:
        path = tools.straight_path(nodes, edges, 0, 2, point, POINT)
        assert tuple(path[0]) == (Point(value, 1).x, 1.0)


@pytest.mark.parametrize("which", ["nodes", "edges"])
def test_array_changed_in_place_during_a_call_is_refused_and_released(which):
    nodes, edges = chain(3)
    array = {"nodes": nodes, "edges": edges}[which]

    def alter():
        view_in_place_as(array, np.uint8)

    registry = RegistryClient()
    with pytest.raises(ValueError, match=f"argument '{which}': the array was changed in place during the call"):
        tools.corridor(nodes, edges, 0, Changing(1, alter))
    assert registry.can_borrow_exclusively(nodes) and registry.can_borrow_exclusively(edges)


def test_either_module_releases_what_the_other_installed(python_run):
    # The registry is shared: whichever module installs it, find_path still releases an
    # array that Python code changed in place during the call.
    result = python_run(
        """
        import numpy as np
        import walkmesh, walkmesh_tools as tools
        from graphs import RegistryClient, chain, view_in_place_as

        nodes, edges = chain(3)
        tools.corridor(nodes, edges, 0, 1)

        class Changing:
            def __index__(self):
                view_in_place_as(edges, np.uint8)
                return 0

        try:
            walkmesh.find_path(nodes, edges, Changing(), 1, walkmesh.Point(0, 0))
        except BaseException as error:
            print(type(error).__name__, error)
        registry = RegistryClient()
        print(registry.can_borrow_exclusively(nodes), registry.can_borrow_exclusively(edges))
        """,
        env={"PYTHONPATH": pythonpath_with_tests()})
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["PanicException array changed in place while find_path held it",
                                          "True True"]
