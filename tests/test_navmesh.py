"""NavMesh from polygons: what it refuses and why, how it orients and joins
polygons, point location against a brute-force twin, and paths between points."""
import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import walkmesh
import walkmesh_tools as tools

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
    ("overlap", SQUARE, [(0, 1, 2), (0, 1, 3)], "polygons 0 and 1 overlap: both run from vertex 0 to vertex 1"),
    ("three on a side", SQUARE + [(0.5, -1), (0.5, 2)], [(0, 1, 2), (1, 0, 4), (0, 1, 5)],
     "belongs to 3 polygons"),
    ("float indices", SQUARE, [(0, 1, 2.5)], "vertex indices"),
    ("zero-length portal", [(1, 0), (1 + 1e-9, 0), (1.5, 1), (1.5, -1)], [(0, 1, 2), (1, 0, 3)],
     "zero-length portal"),
    ("three coordinates", [(0, 0, 0), (1, 0, 0), (1, 1, 0)], [(0, 1, 2)], "vertices must have shape (V, 2)"),
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


def brute_force_locate(mesh, x, y):
    for index, corners in enumerate(mesh.polygons):
        points = mesh.vertices[corners].tolist()
        if all((bx - ax) * (y - ay) - (by - ay) * (x - ax) >= 0
               for (ax, ay), (bx, by) in zip(points[-1:] + points[:-1], points)):
            return index
    return -1


SMALL = tools.NavMesh.load(tools.small_mesh_path())
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
