"""NavMesh.shortest_path and shortest_paths against a reference computed another way:
a visibility graph over the free space's boundary vertices, searched with Dijkstra,
where a segment is visible when the closed polygons cover it (decided exactly on
integer coordinates with NumPy). Maps with holes and straight corners, random
triangle meshes, and the arena scenarios; batches on 1 to 3 threads; never longer
than straight_path; the errors."""
import heapq
import math
import pickle

import numpy as np
import pytest

import walkmesh_tools as tools
import workloads
from walkmesh_tools import _native


def cell_map(seed, width=9, height=7, blocked=0.25):
    """Unit cells of a grid with some blocked (never two free cells meeting only at a
    corner), each free cell a square or two triangles: holes, straight walls."""
    rng = np.random.default_rng(seed)
    free = rng.random((height, width)) >= blocked
    changed = True
    while changed:
        changed = False
        for y in range(height - 1):
            for x in range(width - 1):
                if free[y, x] and free[y + 1, x + 1] and not free[y, x + 1] and not free[y + 1, x]:
                    free[y, x + 1] = changed = True
                if free[y, x + 1] and free[y + 1, x] and not free[y, x] and not free[y + 1, x + 1]:
                    free[y, x] = changed = True
    xs, ys = np.meshgrid(np.arange(width + 1), np.arange(height + 1))
    vertices = 2.0 * np.c_[xs.ravel(), ys.ravel()]
    polygons = []
    for y, x in zip(*np.nonzero(free)):
        a, b, c, d = (y * (width + 1) + x, y * (width + 1) + x + 1, (y + 1) * (width + 1) + x + 1,
                      (y + 1) * (width + 1) + x)
        polygons += [(a, b, c, d)] if rng.random() < 0.5 else [(a, b, c), (a, c, d)]
    return tools.NavMesh.from_polygons(vertices, polygons)


def triangle_map(seed, width=7, height=6):
    """A jittered grid cut into triangles, some removed where that pinches no vertex."""
    rng = np.random.default_rng(seed)
    xs, ys = np.meshgrid(np.arange(width + 1), np.arange(height + 1))
    jitter = rng.integers(-2, 3, (height + 1, width + 1, 2))
    jitter[[0, -1], :, :] = 0
    jitter[:, [0, -1], :] = 0
    vertices = (np.stack([xs, ys], axis=-1) * 8 + jitter).reshape(-1, 2).astype(float)
    index = lambda x, y: y * (width + 1) + x  # noqa: E731
    triangles = []
    for y in range(height):
        for x in range(width):
            a, b, c, d = index(x, y), index(x + 1, y), index(x + 1, y + 1), index(x, y + 1)
            triangles += [(a, b, c), (a, c, d)] if rng.random() < 0.5 else [(a, b, d), (b, c, d)]
    kept = [t for t in triangles if rng.random() >= 0.15]
    while True:
        walls = {}
        sides = {}
        for t in kept:
            for k in range(3):
                key = tuple(sorted((t[k], t[(k + 1) % 3])))
                sides[key] = sides.get(key, 0) + 1
        for (u, v), count in sides.items():
            if count == 1:
                walls[u] = walls.get(u, 0) + 1
                walls[v] = walls.get(v, 0) + 1
        pinched = [t for t in triangles if t not in kept and any(walls.get(v, 0) > 2 for v in t)]
        if not pinched:
            return tools.NavMesh.from_polygons(vertices, kept)
        kept.append(pinched[0])


class Reference:
    """Shortest paths through a visibility graph of the mesh's boundary vertices."""

    def __init__(self, mesh, scale=2):
        self.scale = scale
        starts, ends = [], []
        for polygon in mesh.polygons:
            starts.append(polygon)
            ends.append(np.roll(polygon, -1))
        self.a = np.rint(mesh.vertices[np.concatenate(starts)] * scale).astype(np.int64)
        self.b = np.rint(mesh.vertices[np.concatenate(ends)] * scale).astype(np.int64)
        self.polygon = np.repeat(np.arange(len(mesh)), [len(p) for p in mesh.polygons])
        pairs = {}
        for p in mesh.polygons:
            for u, v in zip(p, np.roll(p, -1)):
                key = (min(u, v), max(u, v))
                pairs[key] = pairs.get(key, 0) + 1
        boundary = sorted({v for key, count in pairs.items() if count == 1 for v in key})
        self.corners = [tuple(mesh.vertices[v]) for v in boundary]
        n = len(self.corners)
        self.sees = np.zeros((n, n), bool)
        for i in range(n):
            for j in range(i + 1, n):
                self.sees[i, j] = self.sees[j, i] = self.visible(self.corners[i], self.corners[j])

    def visible(self, p, q):
        """Whether the closed polygons cover the segment from p to q."""
        p = np.rint(np.asarray(p, float) * self.scale).astype(np.int64)
        q = np.rint(np.asarray(q, float) * self.scale).astype(np.int64)
        ab = self.b - self.a
        f0 = ab[:, 0] * (p[1] - self.a[:, 1]) - ab[:, 1] * (p[0] - self.a[:, 0])
        f1 = ab[:, 0] * (q[1] - self.a[:, 1]) - ab[:, 1] * (q[0] - self.a[:, 0])
        # Exact integers; the bounds as floats order exactly, their denominators being small.
        with np.errstate(divide="ignore", invalid="ignore"):
            low = np.where(f1 > f0, -f0 / (f1 - f0), -np.inf)
            high = np.where(f1 < f0, f0 / (f0 - f1), np.inf)
        blocked = (f1 == f0) & (f0 < 0)
        count = self.polygon[-1] + 1
        lows = np.maximum(np.full(count, 0.0), np.maximum.reduceat(low, self._firsts()))
        highs = np.minimum(np.full(count, 1.0), np.minimum.reduceat(high, self._firsts()))
        inside = (lows <= highs) & ~np.logical_or.reduceat(blocked, self._firsts())
        reached = 0.0
        for lo, hi in sorted(zip(lows[inside], highs[inside])):
            if lo > reached:
                return False
            reached = max(reached, hi)
        return reached >= 1.0

    def _firsts(self):
        return np.flatnonzero(np.r_[True, self.polygon[1:] != self.polygon[:-1]])

    def length(self, start, target):
        n = len(self.corners)
        points = self.corners + [tuple(target)]
        cost = [math.inf] * (n + 1)
        queue = []
        for i, point in enumerate(points):
            if self.visible(start, point):
                cost[i] = math.dist(start, point)
                heapq.heappush(queue, (cost[i], i))
        done = set()
        while queue:
            c, i = heapq.heappop(queue)
            if i in done:
                continue
            done.add(i)
            if i == n:
                return c
            for j in range(n + 1):
                if j in done or not (self.sees[i, j] if j < n else self.visible(points[i], target)):
                    continue
                candidate = c + math.dist(points[i], points[j])
                if candidate < cost[j]:
                    cost[j] = candidate
                    heapq.heappush(queue, (candidate, j))
        return math.inf


def query_points(mesh, rng, count):
    """Vertices, points on sides and points on the half lattice inside the mesh."""
    points = []
    while len(points) < count:
        polygon = mesh.polygons[rng.integers(len(mesh))]
        corners = mesh.vertices[polygon]
        kind = rng.integers(3)
        if kind == 0:
            point = corners[rng.integers(len(corners))]
        elif kind == 1:
            k = rng.integers(len(corners))
            point = (corners[k] + corners[(k + 1) % len(corners)]) / 2
        else:
            point = np.round(corners.mean(axis=0) * 2) / 2
        if mesh.locate(point) >= 0:
            points.append(tuple(point))
    return points


def path_length(points):
    return float(np.hypot(*np.diff(points, axis=0).T).sum()) if len(points) else 0.0


def check_against_reference(mesh, seed, count=12):
    reference = Reference(mesh)
    rng = np.random.default_rng(seed)
    points = query_points(mesh, rng, 2 * count)
    vertices = {tuple(v) for v in mesh.vertices.tolist()}
    for start, target in zip(points[::2], points[1::2] if seed % 4 else points[::2]):
        path = mesh.shortest_path(start, target)
        expected = reference.length(start, target)
        assert path.dtype == np.float64 and path.shape[1:] == (2,)
        if math.isinf(expected):
            assert path.shape == (0, 2), (start, target)
            continue
        assert path_length(path) == pytest.approx(expected, rel=1e-9, abs=1e-12), (start, target)
        assert tuple(path[0]) == start and tuple(path[-1]) == target
        assert all(tuple(corner) in vertices for corner in path[1:-1].tolist())
        assert all(reference.visible(p, q) for p, q in zip(path[:-1], path[1:]))
        straight = mesh.straight_path(start, target)
        if len(straight):
            assert path_length(path) <= path_length(straight.astype(np.float64)) * (1 + 1e-9)


@pytest.mark.parametrize("seed", range(8))
def test_cell_maps_with_holes_match_the_visibility_graph(seed):
    check_against_reference(cell_map(seed), seed)


@pytest.mark.parametrize("seed", range(8))
def test_triangle_meshes_match_the_visibility_graph(seed):
    check_against_reference(triangle_map(seed), 100 + seed)


def test_arena_scenarios_match_the_visibility_graph():
    path = workloads.shared_mesh_path("arena.mesh")
    if path is None:
        pytest.skip("the shared meshes are not here")
    mesh = tools.NavMesh.load(path)
    reference = Reference(mesh, scale=1)
    pairs = workloads.load_scenarios(path.with_suffix(".scen"))[::4]
    for start, target in pairs:
        if mesh.locate(start) < 0 or mesh.locate(target) < 0:
            continue
        assert path_length(mesh.shortest_path(start, target)) == pytest.approx(
            reference.length(start, target), rel=1e-9), (start, target)


def test_paths_stay_in_the_free_space():
    shapely = pytest.importorskip("shapely")
    for seed in range(4):
        mesh = cell_map(seed) if seed % 2 else triangle_map(seed)
        free = shapely.union_all([shapely.Polygon(mesh.vertices[p]) for p in mesh.polygons])
        rng = np.random.default_rng(seed)
        points = query_points(mesh, rng, 20)
        for start, target in zip(points[::2], points[1::2]):
            path = mesh.shortest_path(start, target)
            if len(path) > 1:
                assert free.buffer(1e-9).covers(shapely.LineString(path)), (start, target)


@pytest.mark.parametrize("threads", [1, 2, 3])
def test_batch_equals_the_single_calls(threads):
    mesh = triangle_map(7, width=12, height=9)
    rng = np.random.default_rng(threads)
    points = np.array(query_points(mesh, rng, 120))
    starts, targets = points[:60], points[60:]
    paths = mesh.shortest_paths(starts, targets, threads=threads)
    assert len(paths) == 60 and paths.points.dtype == np.float64 and paths.lengths.dtype == np.float64
    for i, (start, target) in enumerate(zip(starts, targets)):
        single = mesh.shortest_path(start, target)
        assert np.array_equal(paths[i], single)
        assert paths.reached[i] == (len(single) > 0)
        assert paths.lengths[i] == pytest.approx(path_length(single), rel=1e-12, abs=0)
    assert paths == tools.Paths.concatenate([mesh.shortest_paths(starts[:25], targets[:25], threads=threads),
                                             mesh.shortest_paths(starts[25:], targets[25:], threads=threads)])


def test_unreachable_and_equal_points():
    mesh = tools.NavMesh.from_polygons([(0, 0), (1, 0), (1, 1), (0, 1), (2, 0), (3, 0), (3, 1), (2, 1)],
                                       [(0, 1, 2, 3), (4, 5, 6, 7)])
    assert mesh.shortest_path((0.5, 0.5), (2.5, 0.5)).shape == (0, 2)
    assert mesh.shortest_path((1, 1), (1, 1)).tolist() == [[1.0, 1.0], [1.0, 1.0]]
    paths = mesh.shortest_paths([(0.5, 0.5), (2, 0)], [(2.5, 0.5), (3, 1)])
    assert paths.reached.tolist() == [False, True] and paths.lengths.tolist() == [0.0, math.sqrt(2)]


def test_errors_name_the_point_or_the_problem():
    mesh = cell_map(1)
    with pytest.raises(ValueError, match=r"the target point \(-1.0, 0.5\) lies in no polygon"):
        mesh.shortest_path((1, 1), (-1, 0.5))
    with pytest.raises(ValueError, match=r"start point 1 \(-3.0, -3.0\) lies in no polygon"):
        mesh.shortest_paths([(1, 1), (-3, -3)], [(1, 1), (1, 1)])
    with pytest.raises(ValueError, match="2 start points but 1 target points"):
        mesh.shortest_paths([(1, 1), (1, 1)], [(1, 1)])
    with pytest.raises(tools.QueryError, match="query 1: start polygon 9999 is outside the mesh") as raised:
        _native.shortest_paths(mesh._mesh, np.array([0, 9999], np.int64), np.ones((2, 2)), np.array([0, 0], np.int64),
                               np.ones((2, 2)), 1, None)
    assert raised.value.query == 1
    with pytest.raises(TypeError, match="argument 'mesh': not a mesh"):
        _native.shortest_path(object(), 0, (1, 1), 0, (1, 1))
    vertices = np.array([(0, 0), (1, 0), (1, 1), (0, 1), (2, 0), (2, 1)], float)
    offsets, corners = np.array([0, 4, 8], np.int64), np.array([0, 1, 2, 3, 1, 4, 5, 2], np.int64)
    with pytest.raises(ValueError, match="polygon 0 has polygon 1 across its side 2, but that polygon has a wall"):
        _native.mesh(vertices, offsets, corners, np.array([-1, -1, 1, -1, -1, -1, -1, -1], np.int64))


def misaligned(buffer):
    """The buffer's bytes one byte past an aligned start, as a socket may hand them over."""
    raw = bytearray(len(buffer.raw()) + 1)
    raw[1:] = buffer.raw()
    return memoryview(raw)[1:]


def test_a_pickled_mesh_finds_the_same_paths():
    mesh = triangle_map(3)
    buffers = []
    out_of_band = pickle.dumps(mesh, protocol=5, buffer_callback=buffers.append)
    assert buffers
    start, target = tuple(mesh.vertices[0] + 0.5), tuple(mesh.vertices[-1] - 0.5)
    for copy in (pickle.loads(pickle.dumps(mesh)), pickle.loads(out_of_band, buffers=map(misaligned, buffers))):
        assert np.array_equal(copy.shortest_path(start, target), mesh.shortest_path(start, target))
