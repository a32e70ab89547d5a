"""Meshes with heights: a generated level with a floor, a bridge deck and two ramps
(built from polygons, and read back from OBJ and glTF files), located at each height,
with paths under the bridge and onto it; every path is checked to stay on the
surfaces, crossing only sides the mesh joins, by a walk over the polygons written
here (never the package's own); building, files, nearest points and drawing."""
import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import walkmesh_tools as tools
import workloads

VERTICES, POLYGONS = workloads.bridge_level(deck=3.0)
LEVEL = tools.NavMesh.from_polygons(VERTICES, POLYGONS)


def through_file(tmp_path_factory, suffix, merge=False):
    pytest.importorskip("trimesh")
    path = tmp_path_factory.mktemp("level") / f"level{suffix}"
    LEVEL.save(path)
    return tools.NavMesh.load(path, merge=merge)


@pytest.fixture(scope="module", params=["polygons", ".obj", ".gltf", ".glb merged"])
def level(request, tmp_path_factory):
    if request.param == "polygons":
        return LEVEL
    suffix, _, merged = request.param.partition(" ")
    return through_file(tmp_path_factory, suffix, merge=bool(merged))


def surface_height(mesh, polygon, x, y):
    """The height of a polygon's plane at (x, y), by least squares over its corners."""
    corners = mesh.vertices[mesh.polygons[polygon]]
    a = np.column_stack([corners[:, 0], corners[:, 1], np.ones(len(corners))])
    coefficients = np.linalg.lstsq(a, corners[:, 2], rcond=None)[0]
    return float(coefficients @ [x, y, 1.0])


def holders(mesh, x, y, slack=1e-9):
    """The polygons whose outline holds (x, y) in plan."""
    found = []
    for index, corners in enumerate(mesh.polygons):
        ring = mesh.vertices[corners, :2]
        a, b = ring, np.roll(ring, -1, axis=0)
        cross = (b[:, 0] - a[:, 0]) * (y - a[:, 1]) - (b[:, 1] - a[:, 1]) * (x - a[:, 0])
        if np.all(cross >= -slack * np.hypot(*(b - a).T)):
            found.append(index)
    return found


def neighbour_sets(mesh):
    return [set(mesh.neighbours[mesh.polygon_offsets[i]:mesh.polygon_offsets[i + 1]].tolist()) - {-1}
            for i in range(len(mesh))]


def assert_on_surfaces(mesh, path, slack=1e-6):
    """Every point of the path lies on a surface at its height, and every segment goes
    from polygon to polygon across sides the mesh joins: the polygons holding each
    point of the segment (at every crossing of a side's line and between) are followed
    from those the segment's start stands on, and must reach one its end stands on."""
    path = np.asarray(path, dtype=np.float64)
    joined = neighbour_sets(mesh)
    sides = [(mesh.vertices[np.roll(c, 1), :2], mesh.vertices[c, :2]) for c in mesh.polygons]
    a_all = np.concatenate([a for a, _ in sides])
    b_all = np.concatenate([b for _, b in sides])

    def standing(point):
        return {p for p in holders(mesh, point[0], point[1]) if abs(surface_height(mesh, p, *point[:2]) - point[2])
                <= slack * (1 + abs(point[2]))}

    for p, q in zip(path[:-1], path[1:]):
        reach = standing(p)
        assert reach, f"{p} stands on no surface"
        # Where the segment crosses the line of any side: there polygons may change.
        d = q[:2] - p[:2]
        e = b_all - a_all
        denominator = d[0] * e[:, 1] - d[1] * e[:, 0]
        with np.errstate(divide="ignore", invalid="ignore"):
            t = ((a_all[:, 0] - p[0]) * e[:, 1] - (a_all[:, 1] - p[1]) * e[:, 0]) / denominator
        t = np.unique(np.r_[0.0, 1.0, t[np.isfinite(t) & (t > 0) & (t < 1)]])
        samples = np.unique(np.r_[t, (t[1:] + t[:-1]) / 2])
        for s in samples:
            x, y = p[:2] + s * d
            here = set(holders(mesh, x, y, slack))
            reach &= here
            grown = True
            while grown:
                more = {n for r in reach for n in joined[r] if n in here} - reach
                reach |= more
                grown = bool(more)
            assert reach, f"the segment {p} -> {q} leaves the surfaces it is on at {(x, y)}"
        assert reach & standing(q), f"the segment {p} -> {q} ends on another level than it runs on"


# Point, the height of the surface it stands on (None: no polygon).
LOCATIONS = [
    ((20, 12, 0), 0.0), ((20, 12, 3), 3.0), ((20, 12, 1.5), 0.0), ((20, 12, 2.6), 3.0), ((20, 12, 9), 3.0),
    ((20, 12, -1), None), ((9, 12, 1.5), 1.5), ((9, 12, 5), 1.5), ((9, 12, 1.1), 1.5), ((9, 12, 0.9), None),
    ((31, 11, 1.5), 1.5), ((2, 2, 0), 0.0), ((38, 12, 0.2), 0.0), ((45, 12, 0), None),
]


@pytest.mark.parametrize("point, height", LOCATIONS, ids=[str(p) for p, _ in LOCATIONS])
def test_points_stand_on_the_surface_nearest_at_or_below_them(level, point, height):
    polygon = level.locate(point)
    if height is None:
        assert polygon == -1
        return
    assert polygon >= 0 and abs(surface_height(level, polygon, *point[:2]) - height) < 1e-9
    assert level.locate([point, point]).tolist() == [polygon] * 2


def test_points_without_height_are_refused_where_levels_stack(level):
    assert level.locate((9, 12)) == level.locate((9, 12, 1.5)) >= 0
    assert level.locate([(2, 2), (45, 0)]).tolist()[1] == -1
    with pytest.raises(ValueError, match=r"point 1 \(20.0, 12.0\) lies on more than one level of the mesh \(at "
                                         r"heights 0, 3\): give it a height"):
        level.locate([(2, 2), (20, 12)])
    for call in (lambda: level.shortest_path((20, 12), (2, 2)), lambda: level.straight_path((2, 2), (24, 11))):
        with pytest.raises(ValueError, match="lies on more than one level"):
            call()
    with pytest.raises(ValueError, match=r"target point 0 \(20.0, 12.0\) lies on more than one level"):
        level.find_paths([(2, 2)], [(20, 12)])
    with pytest.raises(ValueError, match="max_climb must not be negative"):
        level.locate((2, 2, 0), max_climb=-1)


def plan_length(path):
    return float(np.hypot(*np.diff(np.asarray(path, dtype=np.float64)[:, :2], axis=0).T).sum())


# Start, target, the length in plan of the shortest path (worked out by hand).
QUERIES = [
    ("under the bridge", (10, 4, 0), (30, 20, 0), math.hypot(20, 16)),
    ("under the bridge, without heights", (10, 4), (30, 20), math.hypot(20, 16)),
    ("onto the bridge by the west ramp", (20, 12, 0), (18, 12, 3), math.hypot(6, 2) + 10 + math.hypot(14, 2)),
    ("off the bridge", (18, 12, 3), (20, 12, 0), math.hypot(6, 2) + 10 + math.hypot(14, 2)),
    ("across the deck", (14.5, 11, 3), (25.5, 13, 3), math.hypot(11, 2)),
    ("up the ramp", (20, 6, 0), (18, 12, 3), math.hypot(16, 4) + math.hypot(14, 2)),
]


@pytest.mark.parametrize("start, target, length", [q[1:] for q in QUERIES], ids=[q[0] for q in QUERIES])
def test_paths_stay_on_the_surfaces_and_are_shortest_in_plan(level, start, target, length):
    shortest = level.shortest_path(start, target)
    straight = level.straight_path(start, target)
    assert shortest.shape[1] == 3 and shortest.dtype == np.float64
    assert straight.shape[1] == 3 and straight.dtype == np.float32
    assert abs(plan_length(shortest) - length) < 1e-9 * length
    assert plan_length(straight) >= length * (1 - 1e-6)
    for path in (shortest, straight):
        assert path[0, :2].tolist() == list(start[:2]) and path[-1, :2].tolist() == list(target[:2])
        assert_on_surfaces(level, path)
    climbs = shortest[0, 2] != shortest[-1, 2]
    # A climb goes by a ramp's foot, on the floor.
    assert not climbs or any(p[0] in (4, 36) and p[2] == 0 for p in shortest.tolist())


def test_batches_carry_heights_as_the_single_queries_do(level):
    starts = [q[1] if len(q[1]) == 3 else q[1] + (0,) for q in QUERIES] + [(2, 2, 0)]
    targets = [q[2] if len(q[2]) == 3 else q[2] + (0,) for q in QUERIES] + [(2, 2, 0)]
    shortest = level.shortest_paths(starts, targets, threads=2)
    straight = level.find_paths(starts, targets, straight=True, threads=2)
    routes = level.find_paths(starts, targets, threads=2)
    assert shortest.points.shape[1] == straight.points.shape[1] == routes.points.shape[1] == 3
    for i, (start, target) in enumerate(zip(starts, targets)):
        assert shortest[i].tolist() == level.shortest_path(start, target).tolist()
        assert abs(shortest.lengths[i] - plan_length(shortest[i])) < 1e-9 * (1 + shortest.lengths[i])
        assert straight[i].tolist() == level.straight_path(start, target).tolist()
        route = np.vstack([np.array([start], dtype=np.float32), routes[i]])
        assert route[-1].tolist() == list(target)
        for path in (shortest[i], straight[i], route):
            assert_on_surfaces(level, path)


def test_layers_apart_share_nothing_and_paths_between_them_are_none(tmp_path_factory):
    # Without the ramps, the deck is an island over the road.
    mesh = tools.NavMesh.from_polygons(VERTICES, [p for i, p in enumerate(POLYGONS) if i not in (5, 7)])
    assert mesh.shortest_path((20, 12, 0), (20, 12, 3)).shape == (0, 3)
    assert mesh.straight_path((20, 12, 0), (20, 12, 3)).shape == (0, 3)
    batch = mesh.find_paths([(20, 12, 0)], [(20, 12, 3)])
    assert not batch.reached[0] and batch[0].tolist() == [[20, 12, 3]]
    assert mesh.find_path((20, 12, 0), (20, 12, 3)) == []


@st.composite
def stacked_grids(draw):
    """A random grid mesh and the same mesh twice, at heights 0 and 5."""
    cells = np.array(draw(st.lists(st.lists(st.booleans(), min_size=6, max_size=6), min_size=6, max_size=6)))
    cells[0, 0] = True
    flat = tools.NavMesh.from_grid(cells)
    count = len(flat.vertices)
    vertices = np.vstack([np.column_stack([flat.vertices, np.zeros(count)]),
                          np.column_stack([flat.vertices, np.full(count, 5.0)])])
    polygons = [p.tolist() for p in flat.polygons] + [(p + count).tolist() for p in flat.polygons]
    return flat, tools.NavMesh.from_polygons(vertices, polygons)


@settings(max_examples=40, deadline=None)
@given(stacked_grids(), st.integers(0, 2**32 - 1))
def test_each_layer_of_a_stack_searches_as_the_mesh_alone(meshes, seed):
    flat, stacked = meshes
    rng = np.random.default_rng(seed)
    centres = np.array([flat.vertices[p].mean(axis=0) for p in flat.polygons])
    a, b = centres[rng.integers(0, len(centres), 2)]
    expected = flat.shortest_path(a, b)
    for height in (0.0, 5.0):
        path = stacked.shortest_path((*a, height), (*b, height))
        assert np.array_equal(path[:, :2], expected) and np.all(path[:, 2] == height)
        assert np.array_equal(stacked.straight_path((*a, height), (*b, height))[:, :2], flat.straight_path(a, b))
    assert len(stacked.shortest_path((*a, 0.0), (*b, 5.0))) == 0


# Building: polygons join only across sides shared in space.

def test_neighbours_are_joined_in_space_only():
    joined = neighbour_sets(LEVEL)
    # The road under the deck meets the ramps' high ends in plan only; the ramps
    # meet the floor at their feet and the deck at their tops.
    assert joined[3] == {0, 1} and joined[5] == {2, 6} and joined[7] == {4, 6} and joined[6] == {5, 7}
    # A floor corner under the deck's side splits none of the deck's sides.
    assert len(LEVEL.polygons[6]) == 4 and len(LEVEL.polygons[0]) == 8
    # Corners at one point in plan stay apart at different heights.
    used = np.unique(LEVEL.polygon_corners)
    assert len(np.unique(LEVEL.vertices[used], axis=0)) == len(used)
    assert len(np.unique(LEVEL.vertices[used, :2], axis=0)) == len(used) - 4


@pytest.mark.parametrize("change, words", [
    (dict(agent_height=4.0), r"polygons 3 and 6 overlap in plan, less than agent_height=4 apart in height"),
    (dict(agent_height=0), "agent_height must be finite and positive"),
    # The road tilted up through the deck: the two cross.
    (dict(vertices=np.where((np.arange(len(VERTICES)) % 100 == 13)[:, None] | (np.arange(len(VERTICES)) == 14)[:, None],
                            VERTICES + [0, 0, 4], VERTICES)), r"polygons 3 and 6 overlap in plan"),
    (dict(vertices=np.vstack([VERTICES[:-1], VERTICES[-1] + [0, 0, 0.5]])), r"polygon 7 is not flat: its corner \d"),
    (dict(vertices=np.vstack([VERTICES[:-1], [VERTICES[-1, 0], VERTICES[-1, 1], np.nan]])),
     "polygon 7 has a corner at a non-finite point"),
])
def test_what_from_polygons_refuses_with_heights(change, words):
    arguments = dict(vertices=VERTICES, polygons=POLYGONS)
    arguments.update(change)
    if words is None:
        tools.NavMesh.from_polygons(**arguments)
        return
    with pytest.raises(ValueError, match=words):
        tools.NavMesh.from_polygons(**arguments)


def test_triangle_files_drop_faces_without_headroom(tmp_path):
    trimesh = pytest.importorskip("trimesh")
    # A floor of 10 x 10 in two parts and a shelf at height 1 over the first (x 0 to
    # 4); y is up in the file, so the plan is (x, z).
    floor = [(0, 0, 0), (4, 0, 0), (10, 0, 0), (10, 0, 10), (4, 0, 10), (0, 0, 10)]
    shelf = [(0, 1, 0), (4, 1, 0), (4, 1, 10), (0, 1, 10)]
    faces = [(0, 4, 1), (0, 5, 4), (1, 3, 2), (1, 4, 3), (6, 8, 7), (6, 9, 8)]
    trimesh.Trimesh(floor + shelf, faces, process=False).export(tmp_path / "shelf.obj")
    for agent_height, floor_kept in [(2.0, False), (0.5, True)]:
        mesh = tools.NavMesh.load(tmp_path / "shelf.obj", agent_height=agent_height)
        on_shelf, below = mesh.locate([(2, 5, 1), (2, 5, 0)]).tolist()
        assert surface_height(mesh, on_shelf, 2, 5) == pytest.approx(1.0, abs=1e-12)
        assert (below >= 0) == floor_kept
        assert not floor_kept or surface_height(mesh, below, 2, 5) == pytest.approx(0.0, abs=1e-12)
    # The floor beside the shelf stays.
    assert tools.NavMesh.load(tmp_path / "shelf.obj").locate((7, 5, 0)) >= 0


def test_files_keep_heights(tmp_path):
    LEVEL.save(tmp_path / "level.npz")
    again = tools.NavMesh.load(tmp_path / "level.npz")
    assert again.vertices.tobytes() == LEVEL.vertices.tobytes() and again.edges.tobytes() == LEVEL.edges.tobytes()
    (tmp_path / "level.mesh").write_bytes(b"the user's own bytes")
    with pytest.raises(ValueError, match=r"level.mesh: the text mesh format \(.mesh\) is two-dimensional and has "
                                         r"no heights; save the mesh as .npz"):
        LEVEL.save(tmp_path / "level.mesh")
    assert (tmp_path / "level.mesh").read_bytes() == b"the user's own bytes"
    np.savez(tmp_path / "bad.npz", vertices=VERTICES[:, :2], polygon_offsets=LEVEL.polygon_offsets,
             polygon_corners=LEVEL.polygon_corners, heights=np.r_[VERTICES[:-1, 2], np.inf])
    with pytest.raises(ValueError, match=rf"bad.npz: heights: vertex {len(VERTICES) - 1} has height inf"):
        tools.NavMesh.load(tmp_path / "bad.npz")
    pytest.importorskip("trimesh")
    for name, up in [("level.ply", "z"), ("level.stl", "x"), ("level.off", "y")]:
        LEVEL.save(tmp_path / name, up=up)
        copy = tools.NavMesh.load(tmp_path / name, up=up)
        for point, height in LOCATIONS:
            polygon = copy.locate(point)
            assert (polygon == -1) if height is None else abs(surface_height(copy, polygon, *point[:2]) - height) < 1e-9


def test_nearest_points_lie_on_the_surfaces_and_none_is_nearer():
    rng = np.random.default_rng(7)
    points = np.column_stack([rng.uniform(-4, 44, 300), rng.uniform(-4, 28, 300), rng.uniform(-3, 6, 300)])
    where, polygon, distance = LEVEL.nearest(points)
    located = LEVEL.locate(points)
    assert np.array_equal(polygon[located >= 0], located[located >= 0]) and np.all(distance[located >= 0] == 0)
    # A dense sample of every surface: none lies nearer than the answer.
    samples = []
    for index, corners in enumerate(LEVEL.polygons):
        ring = LEVEL.vertices[corners]
        weights = rng.dirichlet(np.ones(len(ring)), 4000)
        samples.append(weights @ ring)
    samples = np.vstack(samples)
    for i in np.flatnonzero(located < 0):
        assert p_on_surface(where[i], polygon[i])
        assert abs(np.linalg.norm(where[i] - points[i]) - distance[i]) < 1e-9
        assert np.linalg.norm(samples - points[i], axis=1).min() >= distance[i] - 1e-9
    assert LEVEL.nearest((45, 12))[1] == 4 and LEVEL.nearest((45, 12))[0].tolist() == [40, 12, 0]
    with pytest.raises(ValueError, match="lies on more than one level"):
        LEVEL.nearest((20, 12))


def p_on_surface(point, polygon):
    return polygon in holders(LEVEL, *point[:2], 1e-9) and abs(surface_height(LEVEL, polygon, *point[:2])
                                                                - point[2]) < 1e-9


def test_queries_snap_points_near_a_level_to_it():
    # Just under the road, under the deck: onto the road, not the deck.
    path = LEVEL.shortest_path((20, 12, -0.8), (18, 12, 3), snap=1.0)
    assert path[0].tolist() == [20, 12, 0] and path[-1].tolist() == [18, 12, 3]
    beside = LEVEL.find_paths([(41, 12, 0.1)], [(38, 12, 0)], straight=True, snap=1.5)
    assert beside[0].tolist() == [[40, 12, 0], [38, 12, 0]]
    with pytest.raises(ValueError, match=r"the start point \(20.0, 12.0, -5.0\) lies in no polygon of the mesh: it "
                                         r"is 5 from the mesh, farther than snap=1"):
        LEVEL.shortest_path((20, 12, -5), (18, 12, 3), snap=1.0)


def test_plot_colours_polygons_by_height():
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.collections import PolyCollection
    figure, ax = plt.subplots()
    try:
        LEVEL.plot([LEVEL.shortest_path((20, 12, 0), (18, 12, 3))], ax=ax)
        [polygons] = [c for c in ax.collections if isinstance(c, PolyCollection)]
        heights = [LEVEL.vertices[p, 2].mean() for p in LEVEL.polygons]
        assert polygons.get_array().tolist() == sorted(heights)
        assert np.column_stack(ax.get_lines()[0].get_data()).shape == (4, 2)
    finally:
        plt.close(figure)
