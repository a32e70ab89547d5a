"""NavMesh.from_shapes on generated maps (random obstacles, several agent radii),
checked with shapely: the polygons tile the free space, locate agrees with
shapely's containment, routes stay inside the free space, and validate finds
nothing in the tables. Bad geometry is a ValueError naming it."""
import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import walkmesh_tools as tools
import workloads

shapely = pytest.importorskip("shapely")
if not hasattr(shapely, "constrained_delaunay_triangles"):
    pytest.skip("from_shapes needs shapely 2.1 or later", allow_module_level=True)

from walkmesh_tools.shapes import free_space  # noqa: E402

WIDTH, HEIGHT = 120.0, 90.0
# Route points are float32 portal midpoints: they may stray from the double geometry
# by about 1e-5 here, far less than any real crossing of an obstacle.
TOLERANCE = 1e-3


def generated(seed, radius):
    walkable, obstacles = workloads.random_obstacle_map(WIDTH, HEIGHT, count=40, seed=seed, sizes=(2.0, 9.0))
    return walkable, obstacles, radius, seed


maps = st.builds(generated, st.integers(0, 2**32), st.sampled_from([0.0, 0.4, 1.5, 3.0]))


def polygon_shapes(mesh):
    return np.array([shapely.Polygon(mesh.vertices[corners]) for corners in mesh.polygons])


@settings(max_examples=12, deadline=None)
@given(maps)
def test_polygons_tile_the_free_space_and_locate_agrees_with_shapely(level):
    walkable, obstacles, radius, seed = level
    space = free_space(walkable, obstacles, agent_radius=radius)
    mesh = tools.NavMesh.from_shapes(walkable, obstacles, agent_radius=radius)
    triangles = tools.NavMesh.from_shapes(walkable, obstacles, agent_radius=radius, merge=False)
    shapes = polygon_shapes(mesh)
    assert len(mesh) < len(triangles)
    # Tables built from checked polygons are not validated as they are built.
    assert tools.validate(mesh.nodes, mesh.edges) == [] and tools.validate(triangles.nodes, triangles.edges) == []
    assert abs(shapely.area(shapes).sum() - space.area) < 1e-9 * space.area
    assert abs(shapely.union_all(shapes).symmetric_difference(space).area) < 1e-9 * space.area
    points = np.random.default_rng(seed).uniform((-1, -1), (WIDTH + 1, HEIGHT + 1), (3000, 2))
    found = mesh.locate(points)
    # Away from the boundary, where rounding may decide either way.
    clear = shapely.distance(space.boundary, shapely.points(points)) > 1e-7
    assert np.array_equal((found >= 0)[clear], shapely.contains_xy(space, *points.T)[clear])
    assert shapely.covers(shapes[found[found >= 0]], shapely.points(points[found >= 0])).all()


def route_line(start, route):
    return shapely.LineString([start] + [(p.x, p.y) for p in route])


@settings(max_examples=12, deadline=None)
@given(maps, st.integers(0, 2**16))
def test_straight_paths_and_routes_stay_inside_the_free_space(level, seed):
    walkable, obstacles, radius, _ = level
    inside = free_space(walkable, obstacles, agent_radius=radius).buffer(TOLERANCE)
    mesh = tools.NavMesh.from_shapes(walkable, obstacles, agent_radius=radius)
    points = np.random.default_rng(seed).uniform((0, 0), (WIDTH, HEIGHT), (80, 2))
    points = points[mesh.locate(points) >= 0]
    starts, targets = points[::2][:len(points) // 2], points[1::2]
    batch = mesh.find_paths(starts, targets, straight=True)
    bent = 0
    for i, (start, target) in enumerate(zip(starts, targets)):
        straight = mesh.straight_path(start, target)
        assert np.array_equal(straight, batch[i])
        if len(straight) == 0:
            assert not batch.reached[i]
            continue  # in separate parts of the free space: no path
        assert inside.covers(shapely.LineString(straight.astype(np.float64)))
        assert inside.covers(route_line(tuple(start), mesh.find_path(start, target)))
        # Paths that bend round corners, where leaving the free space is likeliest.
        bent += len(straight) > 2
    assert bent > 0


def test_point_obstacles_grow_into_discs():
    open_map = tools.NavMesh.from_shapes([(0, 0), (10, 0), (10, 10), (0, 10)], [shapely.Point(5, 5)],
                                         agent_radius=1.0, quad_segs=8)
    area = shapely.area(polygon_shapes(open_map)).sum()
    # The border moves in by a little more than 1 and the disc takes a little more
    # than pi: sides touching the circle, corners outside it.
    grown = 1 / np.cos(np.pi / 32)
    assert (10 - 2 * grown) ** 2 - np.pi * grown ** 2 - 0.02 < area < 64 - np.pi
    assert open_map.locate((5, 5)) == -1 and open_map.locate((5, 6.2)) >= 0


BAD_SHAPES = [
    ("bow tie", [(0, 0), (4, 4), (4, 0), (0, 4)], (), 0.0, "the walkable area is not a valid shape: Self-intersection"),
    ("bad obstacle", [(0, 0), (9, 0), (9, 9), (0, 9)], [[(1, 1), (2, 1), (2, 2)], [(3, 3), (5, 5), (5, 3), (3, 5)]],
     0.0, "obstacle 1 is not a valid shape: Self-intersection"),
    ("two points", [(0, 0), (9, 0)], (), 0.0, "the walkable area must be a shapely geometry or a sequence of at "
                                            "least 3 points"),
    ("not finite", [(0, 0), (9, 0), (9, np.inf)], (), 0.0, "the walkable area has a non-finite coordinate"),
    ("negative radius", [(0, 0), (9, 0), (9, 9)], (), -1.0, "agent_radius must be finite and not negative"),
    ("covered", [(0, 0), (9, 0), (9, 9), (0, 9)], [[(-1, -1), (10, -1), (10, 10), (-1, 10)]], 0.0,
     "no free space is left"),
    ("too wide", [(0, 0), (9, 0), (9, 9), (0, 9)], (), 5.0, "no free space is left"),
]


@pytest.mark.parametrize("walkable, obstacles, radius, words", [case[1:] for case in BAD_SHAPES],
                         ids=[case[0] for case in BAD_SHAPES])
def test_bad_shapes_are_a_value_error_naming_them(walkable, obstacles, radius, words):
    with pytest.raises(ValueError) as raised:
        tools.NavMesh.from_shapes(walkable, obstacles, agent_radius=radius)
    assert words in str(raised.value)


@settings(max_examples=8, deadline=None)
@given(st.integers(0, 2**32), st.sampled_from([0.3, 1.5, 3.0]), st.sampled_from([1, 2, 8]))
def test_no_part_of_the_mesh_comes_nearer_than_the_radius(seed, radius, quad_segs):
    walkable, obstacles = workloads.random_obstacle_map(WIDTH, HEIGHT, count=40, seed=seed, sizes=(2.0, 9.0))
    mesh = tools.NavMesh.from_shapes(walkable, obstacles, agent_radius=radius, quad_segs=quad_segs)
    shapes = polygon_shapes(mesh)
    blocked = shapely.union_all([shapely.Polygon(o) for o in obstacles])
    edge = shapely.Polygon(walkable).exterior
    assert shapely.distance(blocked, shapes).min() >= radius
    assert shapely.distance(edge, shapes).min() >= radius
    # And not much farther: the polygons hold the round offset closely.
    reach = radius / np.cos(3 * np.pi / (8 * quad_segs))
    assert shapely.distance(blocked, shapes).min() < reach
    assert not tools.validate(mesh.nodes, mesh.edges)


def test_lines_are_walls_and_points_block_nothing_at_radius_zero():
    room = [(0, 0), (100, 0), (100, 100), (0, 100)]
    wall = shapely.LineString([(50, 0), (50, 80)])
    mesh = tools.NavMesh.from_shapes(room, [wall, shapely.Point(20, 20)])
    path = shapely.LineString(mesh.straight_path((10, 10), (90, 10)).astype(np.float64))
    assert not path.crosses(wall) and path.length > 2 * np.hypot(40, 70)
    assert mesh.locate((20, 20)) >= 0
    # A wall across the whole room cuts it in two.
    split = tools.NavMesh.from_shapes(room, [shapely.LineString([(50, -10), (50, 110)])])
    assert split.find_path((10, 10), (90, 10)) == []
    # At a positive radius both grow.
    grown = tools.NavMesh.from_shapes(room, [wall, shapely.Point(20, 20)], agent_radius=1.0)
    assert grown.locate([(20, 20.9), (50.9, 50), (50, 80.9)]).tolist() == [-1, -1, -1]
    assert (grown.locate([(20, 21.2), (51.2, 50), (50, 81.2)]) >= 0).all()
    shapes = polygon_shapes(grown)
    assert min(shapely.distance(wall, shapes).min(), shapely.distance(shapely.Point(20, 20), shapes).min()) >= 1.0


def test_nearly_touching_obstacles_give_a_valid_mesh():
    def square(x, y, size):
        return [(x, y), (x + size, y), (x + size, y + size), (x, y + size)]
    for gap in (3e-5, 1e-9, 0.0):
        mesh = tools.NavMesh.from_shapes(square(0, 0, 1024), [square(10, 10, 10), square(20 + gap, 10, 10),
                                                              square(20 + gap, 20 + gap, 5)])
        assert not tools.validate(mesh.nodes, mesh.edges)
        # Every corner is exact as a 32-bit float.
        assert np.array_equal(mesh.vertices.astype(np.float32).astype(np.float64), mesh.vertices)


@pytest.mark.parametrize("options, words", [
    (dict(agent_radius=float("nan")), "agent_radius must be finite and not negative"),
    (dict(agent_radius=float("inf")), "agent_radius must be finite and not negative"),
])
def test_bad_options_are_a_value_error_naming_them(options, words):
    with pytest.raises(ValueError, match=words):
        tools.NavMesh.from_shapes([(0, 0), (9, 0), (9, 9), (0, 9)], **options)
    with pytest.raises(ValueError, match="the walkable area must be a polygon"):
        tools.NavMesh.from_shapes(shapely.LineString([(0, 0), (1, 1)]))


def test_an_error_the_mesh_still_meets_names_the_obstacles_nearby(monkeypatch):
    room = [(0, 0), (100, 0), (100, 100), (0, 100)]
    near, far = [(10, 10), (20, 10), (20, 20), (10, 20)], [(70, 70), (80, 70), (80, 80), (70, 80)]
    mesh = tools.NavMesh.from_shapes(room, [far, near])
    polygon = int(mesh.locate((15, 25)))

    def refuse(cls, polygons, cost_factors=None):
        raise ValueError(f"polygon {polygon} is wrong")

    monkeypatch.setattr(tools.NavMesh, "_from_checked", classmethod(refuse))
    with pytest.raises(ValueError) as raised:
        tools.NavMesh.from_shapes(room, [far, near])
    # The same triangulation comes out again: the obstacles named are those that touch
    # the polygon's corners, obstacle 1 among them.
    corners = shapely.points(mesh.vertices[mesh.polygons[polygon]])
    touching = [i for i, o in enumerate([far, near]) if shapely.distance(shapely.Polygon(o), corners).min() < 1e-3]
    assert 1 in touching
    assert str(raised.value) == f"polygon {polygon} is wrong (near obstacles {', '.join(map(str, touching))})"


@pytest.mark.parametrize("quad_segs, error, words", [
    (2.5, TypeError, "argument 'quad_segs': 'float' object cannot be interpreted as an integer"),
    ("2", TypeError, "argument 'quad_segs': 'str' object cannot be interpreted as an integer"),
    (0, ValueError, "quad_segs must be from 1 to 64, not 0"),
    (65, ValueError, "quad_segs must be from 1 to 64, not 65"),
])
def test_quad_segs_is_a_whole_number_of_segments(quad_segs, error, words):
    square, block = [(0, 0), (10, 0), (10, 10), (0, 10)], [[(4, 4), (6, 4), (6, 6), (4, 6)]]
    with pytest.raises(error) as raised:
        tools.NavMesh.from_shapes(square, block, agent_radius=1.0, quad_segs=quad_segs)
    assert str(raised.value) == words
    assert len(tools.NavMesh.from_shapes(square, block, agent_radius=1.0, quad_segs=np.int8(3))) == len(
        tools.NavMesh.from_shapes(square, block, agent_radius=1.0, quad_segs=3))
