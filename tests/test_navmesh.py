"""NavMesh from polygons: what it refuses and why, how it orients and joins
polygons, that every way of building one checks the polygons once, point location
against a brute-force twin, and paths between points."""
import importlib
import pickle

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import walkmesh
import walkmesh_tools as tools
from walkmesh_tools import _native
import workloads

SQUARE = [(0, 0), (1, 0), (1, 1), (0, 1)]
STAR = [(np.cos(a), np.sin(a)) for a in np.pi / 2 + np.arange(5) * 4 * np.pi / 5]

BAD_POLYGONS = [
    ("two corners", SQUARE, [(0, 1, 2), (0, 1)], "polygon 1 has 2 corners; a polygon needs at least 3"),
    ("vertex outside", SQUARE, [(0, 1, 9)], "polygon 0 refers to vertex 9, but there are 4 vertices"),
    ("negative vertex", SQUARE, [(0, 1, 2), (0, 2, -1)], "polygon 1 refers to vertex -1"),
    ("not a number", [(0, 0), (1, np.nan), (1, 1)], [(0, 1, 2)], "polygon 0 has a corner at a non-finite point"),
    ("vertex twice", SQUARE, [(0, 1, 2, 1)], "polygon 0 uses vertex 1 twice"),
    ("same point twice", SQUARE + [(1, 0)], [(0, 1, 4, 2)], "polygon 0 has two corners at the same point (1.0, 0.0)"),
    ("collinear", [(0, 0), (1, 1), (2, 2)], [(0, 1, 2)], "polygon 0 has no area"),
    ("dart", [(0, 0), (4, 0), (2, 1), (2, 4)], [(0, 1, 2, 3)],
     "polygon 0 is not convex: it turns the other way at corner 2"),
    ("spike", [(0, 0), (4, 0), (2, 2), (3, 1), (0, 4)], [(0, 1, 2, 3, 4)],
     "polygon 0 folds back on itself at corner 2 (vertex 2)"),
    ("pentagram", STAR, [(0, 1, 2, 3, 4)], "polygon 0 is not simple: it is self-intersecting"),
    ("bow tie", SQUARE, [(0, 2, 1, 3)], "polygon 0 is not simple: it is self-intersecting (its sides 1 and 3 meet)"),
    ("overlap", SQUARE, [(0, 1, 2), (0, 1, 3)], "polygons 0 and 1 overlap"),
    ("three on a side", SQUARE + [(0.5, -1), (0.5, 2)], [(0, 1, 2), (1, 0, 4), (0, 1, 5)],
     "polygons 0 and 2 overlap"),
    ("inside another", SQUARE + [(0.2, 0.2), (0.8, 0.2), (0.5, 0.8)], [(0, 1, 2, 3), (4, 5, 6)],
     "polygons 0 and 1 overlap"),

    ("float indices", SQUARE, [(0, 1, 2.5)], "vertex indices"),
    ("zero-length portal", [(1, 0), (1 + 1e-9, 0), (1.5, 1), (1.5, -1)], [(0, 1, 2), (1, 0, 3)],
     "zero-length portal"),
    # What rounding to float32 does to tables that are sound in doubles.
    ("estimate above the cost", [(0, 0), (3e8, 0), (3e8, 2e8), (0, 2e8)], [(0, 1, 2), (0, 2, 3)],
     "edge 0 from node 0 to node 1 costs 120185044, below the straight-line estimate 120185048"),
    ("centroid beyond float32", [(0, 0), (2e39, 0), (0, 2e39)], [(0, 1, 2)], "node 0's centroid (inf, inf) is not finite"),
    ("four coordinates", [(0, 0, 0, 0), (1, 0, 0, 0), (1, 1, 0, 0)], [(0, 1, 2)], "vertices must have shape (V, 2)"),
]


@pytest.mark.parametrize("vertices, polygons, words", [case[1:] for case in BAD_POLYGONS],
                         ids=[case[0] for case in BAD_POLYGONS])
def test_bad_geometry_is_a_value_error_naming_it(vertices, polygons, words):
    with pytest.raises(ValueError) as raised:
        tools.NavMesh.from_polygons(vertices, polygons)
    assert words in str(raised.value)


def test_clockwise_polygons_are_turned_and_shared_sides_joined():
    vertices = SQUARE + [(2, 0), (2, 1)]
    mesh = tools.NavMesh.from_polygons(vertices, [(0, 3, 2, 1), np.array([1, 4, 5, 2])])
    assert [p.tolist() for p in mesh.polygons] == [[0, 1, 2, 3], [1, 4, 5, 2]]
    # Side j ends at corner j: polygon 0's side from 1 to 2, polygon 1's from 2 to 1.
    assert mesh.neighbours.tolist() == [-1, -1, 1, -1, 0, -1, -1, -1]
    assert mesh.nodes["edge_count"].tolist() == [1, 1]
    assert tuple(mesh.edges[0]["left"]) == (1, 0) and tuple(mesh.edges[0]["right"]) == (1, 1)
    with pytest.raises(ValueError, match="read-only"):
        mesh.vertices[0, 0] = 5
    # The same polygons as rows of an array.
    rows = tools.NavMesh.from_polygons(vertices, np.array([[0, 1, 2, 3], [1, 4, 5, 2]]))
    assert rows.edges.tobytes() == mesh.edges.tobytes()


def count_calls(monkeypatch, calls, module, name):
    function = getattr(module, name)

    def counted(*arguments, **keywords):
        calls.append(name)
        return function(*arguments, **keywords)

    monkeypatch.setattr(module, name, counted)


BUILDS = {
    "from_polygons": lambda folder: tools.NavMesh.from_polygons(SMALL.vertices, SMALL.polygons),
    "text file": lambda folder: tools.NavMesh.load(folder / "small.mesh"),
    "npz file": lambda folder: tools.NavMesh.load(folder / "small.npz"),
    "triangle file": lambda folder: tools.NavMesh.load(folder / "small.obj"),
    "merged triangle file": lambda folder: tools.NavMesh.load(folder / "small.obj", merge=True),
    "from_shapes": lambda folder: tools.NavMesh.from_shapes([(0, 0), (9, 0), (9, 9), (0, 9)], [[(3, 3), (5, 3), (4, 5)]]),
    "from_shapes, triangles": lambda folder: tools.NavMesh.from_shapes([(0, 0), (9, 0), (9, 9), (0, 9)],
                                                                       [[(3, 3), (5, 3), (4, 5)]], merge=False),
}


@pytest.mark.parametrize("build", BUILDS, ids=list(BUILDS))
def test_every_build_checks_the_polygons_once(build, tmp_path, monkeypatch):
    if "triangle" in build:
        pytest.importorskip("trimesh")
        SMALL.save(tmp_path / "small.obj")
    if "shapes" in build:
        shapely = pytest.importorskip("shapely")
        if not hasattr(shapely, "constrained_delaunay_triangles"):
            pytest.skip("from_shapes needs shapely 2.1 or later")
    SMALL.save(tmp_path / "small.mesh")
    SMALL.save(tmp_path / "small.npz")
    navmesh, polygons, tables, validate = (importlib.import_module(f"walkmesh_tools.{name}")
                                           for name in ("navmesh", "polygons", "tables", "validate"))
    calls = []
    for module in (navmesh, polygons):
        count_calls(monkeypatch, calls, module, "orient_and_check")
        count_calls(monkeypatch, calls, module, "side_twins")
    count_calls(monkeypatch, calls, validate, "validate")
    count_calls(monkeypatch, calls, tables, "rounding_problems")
    mesh = BUILDS[build](tmp_path)
    assert sorted(calls) == ["orient_and_check", "rounding_problems", "side_twins"]
    # Built without a second look, and the same as built through every check.
    again = tools.NavMesh.from_polygons(mesh.vertices, mesh.polygons)
    assert again.neighbours.tolist() == mesh.neighbours.tolist()
    assert again.nodes.tobytes() == mesh.nodes.tobytes() and again.edges.tobytes() == mesh.edges.tobytes()


def test_a_mesh_without_polygons():
    mesh = tools.NavMesh.from_polygons([(0, 0), (1, 0), (0, 1)], [])
    assert len(mesh) == 0 and list(mesh.polygons) == [] and len(mesh.nodes) == len(mesh.edges) == 0
    assert mesh.locate((0.2, 0.2)) == -1 and mesh.locate(np.zeros((3, 2))).tolist() == [-1] * 3


def brute_force_locate(mesh, x, y):
    for index, corners in enumerate(mesh.polygons):
        points = mesh.vertices[corners].tolist()
        if all((bx - ax) * (y - ay) - (by - ay) * (x - ax) >= 0
               for (ax, ay), (bx, by) in zip(points[-1:] + points[:-1], points)):
            return index
    return -1


SMALL = tools.NavMesh.load(workloads.small_mesh_path())
# Sides at all angles, and polygons with shared corners met by many integer points.
FAN = tools.NavMesh.from_polygons(
    [(0, 0)] + [(7 * np.cos(a), 5 * np.sin(a)) for a in np.linspace(0, 2 * np.pi, 13)[:-1]],
    [(0, i, i % 12 + 1) for i in range(1, 13)])


@settings(max_examples=300, deadline=None)
@given(st.sampled_from([SMALL, FAN]),
       st.one_of(st.floats(-8, 13), st.integers(-8, 13).map(float)),
       st.one_of(st.floats(-6, 9), st.integers(-6, 9).map(float)))
def test_locate_finds_the_lowest_index_polygon(mesh, x, y):
    assert mesh.locate((x, y)) == brute_force_locate(mesh, x, y)


def test_locate_keeps_the_shape_of_its_input():
    points = np.array([[[1, 1], [11, 7]], [[-5, 0], [np.nan, 1]]])
    assert SMALL.locate(points).tolist() == [[0, 18], [-1, -1]]
    assert isinstance(SMALL.locate((1, 1)), int) and SMALL.locate(walkmesh.Point(11, 7)) == 18
    assert SMALL.locate(np.zeros((0, 2))).shape == (0,)
    for bad in [1.0, (1, 2, 3)]:
        with pytest.raises(ValueError, match="2 coordinates"):
            SMALL.locate(bad)


def test_find_path_locates_both_points():
    path = SMALL.find_path((1, 1), walkmesh.Point(11, 7))
    start, target = SMALL.locate([(1, 1), (11, 7)]).tolist()
    expected = walkmesh.find_path(SMALL.nodes, SMALL.edges, start, target, walkmesh.Point(11, 7))
    assert [(p.x, p.y) for p in path] == [(p.x, p.y) for p in expected] and len(path) > 2
    with pytest.raises(ValueError, match=r"the start point \(-1.0, 1.0\) lies in no polygon"):
        SMALL.find_path((-1, 1), (11, 7))
    with pytest.raises(ValueError, match=r"the target point \(11.0, 9.5\) lies in no polygon"):
        SMALL.find_path((1, 1), (11, 9.5))


def test_straight_paths_and_batches_locate_their_points():
    straight = SMALL.straight_path((1, 1), (11, 7))
    start, target = SMALL.locate([(1, 1), (11, 7)]).tolist()
    assert straight.tolist() == tools.straight_path(SMALL.nodes, SMALL.edges, start, target, (1, 1), (11, 7)).tolist()
    starts, targets = [(1, 1), (11, 7), (1, 7)], [(11, 7), (1, 1), (11, 1)]
    for straight_paths in (False, True):
        batch = SMALL.find_paths(starts, targets, straight=straight_paths, threads=1)
        for i, (p, q) in enumerate(zip(starts, targets)):
            one = SMALL.straight_path(p, q) if straight_paths else [(r.x, r.y) for r in SMALL.find_path(p, q)]
            assert batch[i].tolist() == np.asarray(one, dtype=np.float32).tolist()
    with pytest.raises(ValueError, match=r"the target point \(13.0, 1.0\) lies in no polygon"):
        SMALL.straight_path((1, 1), (13, 1))
    with pytest.raises(ValueError, match=r"start point 2 \(-1.0, 0.0\) lies in no polygon"):
        SMALL.find_paths([(1, 1), (2, 2), (-1, 0)], [(1, 1)] * 3)
    with pytest.raises(ValueError, match="3 start points but 2 target points"):
        SMALL.find_paths(starts, targets[:2])


# Polygons as level editors export them: corners repeated per polygon, T-junctions.
def shared_length(mesh, i, j):
    shapely = pytest.importorskip("shapely")
    first, second = (shapely.Polygon(mesh.vertices[mesh.polygons[k]]) for k in (i, j))
    return first.boundary.intersection(second.boundary).length


def test_repeated_corners_and_t_junctions_join_polygons():
    # A wide rectangle below two squares, each polygon with corners of its own.
    vertices = [(0, 0), (2, 0), (2, 1), (0, 1),
                (0, 1), (1, 1), (1, 2), (0, 2),
                (1, 1), (2, 1), (2, 2), (1, 2)]
    mesh = tools.NavMesh.from_polygons(vertices, [(0, 1, 2, 3), (4, 5, 6, 7), (8, 9, 10, 11)])
    # The rectangle's top side is split at (1, 1): a straight corner, vertex 5.
    assert mesh.polygons[0].tolist() == [0, 1, 2, 5, 3]
    assert sorted(mesh.neighbours[mesh.polygon_offsets[0]:mesh.polygon_offsets[1]].tolist()) == [-1, -1, -1, 1, 2]
    assert {(int(e["to"])) for e in mesh.edges} == {0, 1, 2}
    path = mesh.straight_path((0.5, 1.5), (1.5, 1.5))
    assert len(path) == 2 and mesh.find_path((0.2, 0.2), (1.8, 1.8)) != []
    # Near corners join only within the tolerance.
    nudged = np.array(vertices, dtype=float)
    nudged[4:] += 1e-9
    apart = tools.NavMesh.from_polygons(nudged, [(0, 1, 2, 3), (4, 5, 6, 7), (8, 9, 10, 11)])
    assert apart.nodes["edge_count"].tolist() == [0, 1, 1]
    near = tools.NavMesh.from_polygons(nudged, [(0, 1, 2, 3), (4, 5, 6, 7), (8, 9, 10, 11)], tolerance=1e-6)
    assert near.nodes["edge_count"].tolist() == [2, 2, 2]
    with pytest.raises(ValueError, match="polygon 0 has two corners within the tolerance of each other, at vertex 2"):
        tools.NavMesh.from_polygons([(0, 0), (1, 0), (1, 1), (1 - 1e-9, 1), (0, 1)], [(0, 1, 2, 3, 4)],
                                    tolerance=1e-6)
    with pytest.raises(ValueError, match="tolerance must be finite and not negative"):
        tools.NavMesh.from_polygons(vertices, [(0, 1, 2, 3)], tolerance=-1)


@settings(max_examples=60, deadline=None)
@given(st.lists(st.tuples(st.integers(0, 6), st.integers(1, 3)), min_size=2, max_size=6, unique_by=lambda c: c[0]))
def test_rows_of_strips_are_neighbours_where_they_share_a_side(cuts):
    # Two rows of rectangles cut at independent places: every pair that shares a
    # piece of side of positive length (by shapely) is joined, and no other.
    shapely = pytest.importorskip("shapely")
    low = sorted({0, 8} | {x for x, _ in cuts})
    high = sorted({0, 8} | {x + w for x, w in cuts if x + w < 8})
    vertices, polygons = [], []
    for row, xs in ((0, low), (1, high)):
        for x0, x1 in zip(xs, xs[1:]):
            base = len(vertices)
            vertices += [(x0, row), (x1, row), (x1, row + 1), (x0, row + 1)]
            polygons.append((base, base + 1, base + 2, base + 3))
    mesh = tools.NavMesh.from_polygons(vertices, polygons)
    joined = {(int(i), int(j)) for i in range(len(mesh)) for j in mesh.neighbours[
        mesh.polygon_offsets[i]:mesh.polygon_offsets[i + 1]] if j >= 0}
    expected = {(i, j) for i in range(len(mesh)) for j in range(len(mesh))
                if i != j and shared_length(mesh, i, j) > 0}
    assert joined == expected
    assert not tools.validate(mesh.nodes, mesh.edges)
    assert abs(shapely.area([shapely.Polygon(mesh.vertices[p]) for p in mesh.polygons]).sum() - 16) < 1e-12
    # Through portals between straight corners, the straight path stays in the mesh.
    path = mesh.straight_path((0.25, 0.25), (7.75, 1.75))
    assert path[0].tolist() == [0.25, 0.25] and path[-1].tolist() == [7.75, 1.75]
    assert shapely.box(0, 0, 8, 2).covers(shapely.LineString(path.astype(np.float64)))


@settings(max_examples=80, deadline=None)
@given(st.lists(st.tuples(st.integers(0, 9), st.integers(0, 9), st.integers(1, 4), st.integers(1, 4)),
                min_size=2, max_size=5))
def test_overlapping_polygons_are_named(boxes):
    shapely = pytest.importorskip("shapely")
    vertices = [p for x, y, w, h in boxes for p in [(x, y), (x + w, y), (x + w, y + h), (x, y + h)]]
    polygons = [tuple(range(4 * i, 4 * i + 4)) for i in range(len(boxes))]
    shapes = [shapely.box(x, y, x + w, y + h) for x, y, w, h in boxes]
    overlapping = [(i, j) for j in range(len(boxes)) for i in range(j) if shapes[i].intersection(shapes[j]).area > 0]
    if not overlapping:
        tools.NavMesh.from_polygons(vertices, polygons)
        return
    first = min(overlapping)
    with pytest.raises(ValueError, match=f"polygons {first[0]} and {first[1]} overlap"):
        tools.NavMesh.from_polygons(vertices, polygons)


def test_nearest_agrees_with_shapely():
    shapely = pytest.importorskip("shapely")
    union = shapely.union_all([shapely.Polygon(SMALL.vertices[p]) for p in SMALL.polygons])
    points = np.random.default_rng(3).uniform(-6, 18, (3000, 2))
    where, polygon, distance = SMALL.nearest(points)
    expected = shapely.distance(union, shapely.points(points))
    assert np.allclose(distance, expected, atol=1e-12)
    assert np.array_equal(polygon[distance == 0], SMALL.locate(points[distance == 0]))
    outside = distance > 0
    sides = [shapely.Polygon(SMALL.vertices[SMALL.polygons[i]]).boundary for i in polygon[outside]]
    assert np.all(shapely.distance(sides, shapely.points(where[outside])) < 1e-12)
    assert np.allclose(np.hypot(*(where - points).T), distance, atol=1e-12)
    # Beyond max_distance: -1, NaN, inf; one point gives scalars.
    limited = SMALL.nearest(points, max_distance=1.0)
    far = expected > 1.0
    assert np.all(limited[1][far] == -1) and np.all(np.isnan(limited[0][far])) and np.all(limited[2][far] == np.inf)
    assert np.array_equal(limited[1][~far], polygon[~far])
    point, index, gap = SMALL.nearest((-1, 1))
    assert point.tolist() == [0.0, 1.0] and index == 0 and gap == 1.0
    with pytest.raises(ValueError, match="max_distance must not be negative"):
        SMALL.nearest((0, 0), max_distance=-1)


def test_queries_snap_points_near_the_mesh():
    assert SMALL.locate((-0.5, 1)) == -1
    snapped = SMALL.straight_path((-0.5, 1), (11, 7), snap=1.0)
    assert snapped[0].tolist() == [0.0, 1.0] and snapped[-1].tolist() == [11.0, 7.0]
    route = SMALL.find_path((1, 1), (-0.5, 1), snap=0.5)
    assert [(p.x, p.y) for p in route] == [(0.0, 1.0)]
    batch = SMALL.find_paths([(-0.5, 1), (1, 1)], [(11, 7), (11, 7)], straight=True, snap=1.0)
    assert batch[0].tolist() == snapped.tolist()
    shortest = SMALL.shortest_path(walkmesh.Point(-0.5, 1), (11, 7), snap=1.0)
    assert shortest[0].tolist() == [0.0, 1.0] and shortest.tolist() == SMALL.shortest_path((0, 1), (11, 7)).tolist()
    assert SMALL.shortest_paths([(-0.5, 1)], [(11, 7)], snap=1.0)[0].tolist() == shortest.tolist()
    with pytest.raises(ValueError, match=r"start point 0 \(-0.5, 1.0\) lies in no polygon of the mesh: it is 0.5"):
        SMALL.shortest_paths([(-0.5, 1)], [(11, 7)])
    for call in (lambda: SMALL.find_path((-0.5, 1), (11, 7), snap=0.25),
                 lambda: SMALL.straight_path((-0.5, 1), (11, 7))):
        with pytest.raises(ValueError, match=r"the start point \(-0.5, 1.0\) lies in no polygon of the mesh: "
                                             r"it is 0.5 from the mesh"):
            call()
    with pytest.raises(ValueError, match=r"target point 1 \(11.0, 9.5\) .* 1.5 from the mesh, farther than snap=0.1"):
        SMALL.find_paths([(1, 1), (1, 1)], [(1, 1), (11, 9.5)], snap=0.1)
    with pytest.raises(ValueError, match="snap must not be negative"):
        SMALL.find_path((1, 1), (1, 1), snap=-1)


def test_find_path_tells_unreachable_from_the_same_polygon():
    # Two squares that touch only at a corner: neither reaches the other.
    mesh = tools.NavMesh.from_polygons([(0, 0), (1, 0), (1, 1), (0, 1), (2, 1), (2, 2), (1, 2)],
                                       [(0, 1, 2, 3), (2, 4, 5, 6)])
    assert mesh.find_path((0.5, 0.5), (1.5, 1.5)) == []
    assert len(mesh.straight_path((0.5, 0.5), (1.5, 1.5))) == 0
    same = mesh.find_path((0.2, 0.2), walkmesh.Point(0.7, 0.9))
    assert [(p.x, p.y) for p in same] == [(np.float32(0.7), np.float32(0.9))]
    batch = mesh.find_paths([(0.5, 0.5)], [(1.5, 1.5)])
    assert not batch.reached[0] and batch[0].tolist() == [[1.5, 1.5]]


def test_a_pickled_mesh_locates_as_the_original():
    copy = pickle.loads(pickle.dumps(SMALL))
    points = np.random.default_rng(4).uniform(-2, 14, (500, 2))
    assert np.array_equal(copy.locate(points), SMALL.locate(points))
    assert copy.edges.tobytes() == SMALL.edges.tobytes()


def test_a_long_sliver_is_located_without_a_large_index():
    mesh = tools.NavMesh.from_polygons([(0, 0), (1e9, 0), (1e9, 1e-9), (0, 1e-9)], [(0, 1, 2, 3)])
    assert _native.locator_bytes(mesh._mesh) < 1024
    assert mesh.locate([(5e8, 5e-10), (5e8, 2e-9)]).tolist() == [0, -1]
