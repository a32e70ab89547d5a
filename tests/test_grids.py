"""NavMesh.from_grid and .map files: the mesh covers exactly the walkable cells, joins
what a breadth-first search over the cells joins (cells sharing a side) and nothing
else, with few polygons; .map headers are checked against the file."""
from collections import deque

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import walkmesh_tools as tools
import workloads


def components(free):
    """Label of each walkable cell's group of cells joined through shared sides."""
    label = np.full(free.shape, -1)
    count = 0
    for start in zip(*np.nonzero(free)):
        if label[start] >= 0:
            continue
        label[start] = count
        queue = deque([start])
        while queue:
            y, x = queue.popleft()
            for ny, nx in ((y + 1, x), (y - 1, x), (y, x + 1), (y, x - 1)):
                if 0 <= ny < free.shape[0] and 0 <= nx < free.shape[1] and free[ny, nx] and label[ny, nx] < 0:
                    label[ny, nx] = count
                    queue.append((ny, nx))
        count += 1
    return label


def joined_polygons(mesh):
    """Label of each polygon's group through the neighbour table."""
    label = np.arange(len(mesh))
    polygon = np.repeat(np.arange(len(mesh)), np.diff(mesh.polygon_offsets).astype(np.intp))
    pairs = mesh.neighbours >= 0
    a, b = polygon[pairs], mesh.neighbours[pairs]
    while True:
        lowest = label.copy()
        np.minimum.at(lowest, a, label[b])
        if np.array_equal(lowest, label):
            return label
        label = lowest[lowest]


grids = hnp.arrays(bool, st.tuples(st.integers(1, 12), st.integers(1, 12)),
                   elements=st.booleans()).filter(lambda a: a.any())


@settings(max_examples=150, deadline=None)
@given(grids, st.sampled_from([(1.0, (0.0, 0.0)), (0.5, (-3.0, 7.25))]))
def test_the_mesh_covers_the_walkable_cells_and_joins_what_shares_a_side(free, frame):
    size, origin = frame
    mesh = tools.NavMesh.from_grid(free, cell_size=size, origin=origin)
    ys, xs = np.indices(free.shape)
    for dx, dy in [(0.5, 0.5), (0.01, 0.99), (0.99, 0.01)]:
        points = np.stack([origin[0] + (xs + dx) * size, origin[1] + (ys + dy) * size], axis=-1)
        assert np.array_equal(mesh.locate(points) >= 0, free)
    corners = mesh.vertices[mesh.polygon_corners]
    x, y = corners[:, 0], corners[:, 1]
    starts = mesh.polygon_offsets[:-1].astype(np.intp)
    after = np.arange(1, len(x) + 1)
    after[mesh.polygon_offsets[1:] - 1] = starts
    area = np.add.reduceat(x * y[after] - x[after] * y, starts) / 2
    assert np.isclose(area.sum(), free.sum() * size * size) and (area > 0).all()
    # Groups of polygons are exactly the groups of cells.
    cells = components(free)
    centres = np.stack([origin[0] + (xs + 0.5) * size, origin[1] + (ys + 0.5) * size], axis=-1)[free]
    polygon_group = joined_polygons(mesh)[mesh.locate(centres)]
    cell_group = cells[free]
    pairs = set(zip(cell_group.tolist(), polygon_group.tolist()))
    assert len(pairs) == len(set(cell_group.tolist())) == len(set(polygon_group.tolist()))
    assert not tools.validate(mesh.nodes, mesh.edges)


def test_cells_touching_at_a_corner_are_not_joined():
    free = np.array([[True, False], [False, True]])
    mesh = tools.NavMesh.from_grid(free)
    assert len(mesh) == 2 and len(mesh.edges) == 0
    assert mesh.find_path((0.5, 0.5), (1.5, 1.5)) == []


def test_typical_maps_need_few_polygons():
    walkable, obstacles = workloads.random_obstacle_map(256, 192, count=60, seed=4)
    shapely = pytest.importorskip("shapely")
    blocked = shapely.union_all([shapely.Polygon(o) for o in obstacles])
    ys, xs = np.indices((192, 256)) + 0.5
    free = ~shapely.contains_xy(blocked, xs, ys)
    mesh = tools.NavMesh.from_grid(free)
    assert len(mesh) <= free.sum() / 3
    # A path between far corners exists and keeps to free cells.
    path = mesh.straight_path((0.5, 0.5), (255.5, 191.5))
    assert len(path) >= 2


def write(tmp_path, text, name="level.map"):
    path = tmp_path / name
    path.write_bytes(text.encode())
    return path


def test_map_files_load_as_grids(tmp_path):
    path = write(tmp_path, "type octile\nheight 3\nwidth 4\nmap\n.G@.\r\nS.T.\n@@@.\n")
    mesh = tools.NavMesh.load(path)
    free = np.array([[1, 1, 0, 1], [1, 1, 0, 1], [0, 0, 0, 1]], dtype=bool)
    assert mesh.polygon_corners.tolist() == tools.NavMesh.from_grid(free).polygon_corners.tolist()
    assert mesh.locate([(1.5, 0.5), (2.5, 0.5), (3.5, 2.5)]).tolist()[1] == -1
    assert mesh.find_path((0.5, 0.5), (3.5, 0.5)) == []


@pytest.mark.parametrize("text, words", [
    ("type octile\nheight 3\nwidth 2\nmap\n..\n..\n", "the header declares 3 rows, the file holds 2"),
    ("type octile\nheight 2\nwidth 3\nmap\n..\n...\n", "row 0 has 2 cells, the header declares 3"),
    ("type octile\nheight 2000000000\nwidth 2000000000\nmap\n..\n", "declares 2000000000 rows, the file holds 1"),
    ("type octile\nwidth 2\nmap\n..\n", "the header has no height"),
    ("type octile\nheight x\nwidth 2\nmap\n..\n", "the height b'x' is not an integer"),
    ("type octile\nheight 1\nwidth 2\n", "no 'map' line"),
    ("type octile\nheight 0\nwidth 2\nmap\n", "a positive height and width"),
    ("type octile\nheight 1\nwidth 2\nmap\n@@\n", "walkable has no walkable cell"),
])
def test_bad_map_files_are_a_value_error_naming_them(tmp_path, text, words):
    with pytest.raises(ValueError, match=words):
        tools.NavMesh.load(write(tmp_path, text))


@pytest.mark.parametrize("call, error, words", [
    (lambda: tools.NavMesh.from_grid(np.ones((2, 2), dtype=int)), TypeError, "array of booleans"),
    (lambda: tools.NavMesh.from_grid(np.ones(4, dtype=bool)), ValueError, "2-D array"),
    (lambda: tools.NavMesh.from_grid(np.ones((2, 2), bool), cell_size=0), ValueError, "cell_size must be finite"),
    (lambda: tools.NavMesh.from_grid(np.ones((2, 2), bool), origin=(0, np.nan)), ValueError, "origin must be"),
])
def test_bad_grids_are_errors_naming_the_argument(call, error, words):
    with pytest.raises(error, match=words):
        call()


def test_grid_meshes_with_straight_corners_save_and_load_unchanged(tmp_path):
    free = np.random.default_rng(5).random((30, 40)) < 0.75
    mesh = tools.NavMesh.from_grid(free)
    for suffix in (".mesh", ".npz"):
        mesh.save(tmp_path / f"grid{suffix}")
        again = tools.NavMesh.load(tmp_path / f"grid{suffix}")
        assert again.polygon_corners.tolist() == mesh.polygon_corners.tolist()
        assert again.edges.tobytes() == mesh.edges.tobytes()
