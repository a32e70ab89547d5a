"""Navigation meshes as walkmesh record tables.

Reads the text mesh and scenario formats, builds the node and edge arrays that
`walkmesh.find_path` takes, locates points in polygons, and produces the query
workloads that the demo, the tests and the benchmarks share. The C++ benchmark
builds the same tables by the same rules, so both must stay identical:

- node i is polygon i; its centroid is the mean of the polygon's vertices, summed
  and divided in double precision, then rounded once to float32;
- node i's edges follow its neighbours in polygon order (p_1 lies across
  v_n -> v_1, p_j across v_(j-1) -> v_j), one edge per neighbour that is not -1,
  stored as one contiguous run;
- an edge's portal is left = v_(j-1), right = v_j; its cost is the ceiling of the
  double-precision distance between the two float32 centroids, so the straight-line
  estimate never overestimates.
"""
from __future__ import annotations

import math
import os
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, Iterable, Iterator, List, Optional, Sequence, Tuple, Union

import numpy as np

from .batch import Paths, find_paths
from .paths import corridor, straight_path

if TYPE_CHECKING:
    import numpy.typing as npt

    import walkmesh

__all__ = [
    "POINT_DTYPE", "NODE_DTYPE", "EDGE_DTYPE", "Mesh", "Query", "PolygonLocator",
    "load_mesh", "parse_mesh", "build_tables", "load_scenarios", "scenario_queries",
    "splitmix64", "random_node_queries", "shared_mesh_path", "small_mesh_path",
    "path_length", "corridor", "straight_path", "Paths", "find_paths",
]

POINT_DTYPE = np.dtype([("x", "=f4"), ("y", "=f4")])
NODE_DTYPE = np.dtype([("centroid", POINT_DTYPE), ("edge_start", "=u4"), ("edge_count", "=u4")])
EDGE_DTYPE = np.dtype([("to", "=u4"), ("cost", "=u4"), ("left", POINT_DTYPE),
                       ("right", POINT_DTYPE), ("padding", "=u4")])

Point2 = Tuple[float, float]
PathArgument = Union[str, "os.PathLike[str]"]


@dataclass(frozen=True)
class Mesh:
    """Vertices as (x, y) doubles; each polygon as its vertex indices (counter-clockwise)
    and, for each index j, the neighbour across the side that ends at vertex j."""
    vertices: List[Point2]
    polygons: List[Tuple[Tuple[int, ...], Tuple[int, ...]]]


@dataclass(frozen=True)
class Query:
    start: int
    target: int
    target_point: Point2  # already float32-exact
    start_point: Point2


def parse_mesh(text: str) -> Mesh:
    tokens = iter(text.split())
    if next(tokens) != "mesh" or next(tokens) != "2":
        raise ValueError("not a version 2 mesh")
    vertex_count, polygon_count = int(next(tokens)), int(next(tokens))
    vertices: List[Point2] = []
    for _ in range(vertex_count):
        x, y, around = float(next(tokens)), float(next(tokens)), int(next(tokens))
        for _ in range(around):
            next(tokens)
        vertices.append((x, y))
    polygons: List[Tuple[Tuple[int, ...], Tuple[int, ...]]] = []
    for _ in range(polygon_count):
        n = int(next(tokens))
        corners = tuple(int(next(tokens)) for _ in range(n))
        neighbours = tuple(int(next(tokens)) for _ in range(n))
        polygons.append((corners, neighbours))
    return Mesh(vertices, polygons)


def load_mesh(path: PathArgument) -> Mesh:
    return parse_mesh(Path(path).read_text())


def _float32(value: float) -> float:
    return float(np.float32(value))


def _centroid(mesh: Mesh, corners: Sequence[int]) -> Point2:
    # Summed one vertex at a time in double, divided once, rounded once.
    sum_x = 0.0
    sum_y = 0.0
    for v in corners:
        x, y = mesh.vertices[v]
        sum_x += x
        sum_y += y
    return _float32(sum_x / len(corners)), _float32(sum_y / len(corners))


def build_tables(mesh: Mesh) -> Tuple[npt.NDArray[np.void], npt.NDArray[np.void]]:
    """The node and edge arrays of `mesh` (NODE_DTYPE, EDGE_DTYPE)."""
    centroids = [_centroid(mesh, corners) for corners, _ in mesh.polygons]
    edge_rows: List[Tuple[int, int, Point2, Point2, int]] = []
    node_rows: List[Tuple[Point2, int, int]] = []
    for index, (corners, neighbours) in enumerate(mesh.polygons):
        first = len(edge_rows)
        cx, cy = centroids[index]
        for j, neighbour in enumerate(neighbours):
            if neighbour == -1:
                continue
            nx, ny = centroids[neighbour]
            dx, dy = nx - cx, ny - cy
            cost = math.ceil(math.sqrt(dx * dx + dy * dy))
            left = mesh.vertices[corners[j - 1]]
            right = mesh.vertices[corners[j]]
            edge_rows.append((neighbour, cost, left, right, 0))
        node_rows.append(((cx, cy), first, len(edge_rows) - first))
    return np.array(node_rows, dtype=NODE_DTYPE), np.array(edge_rows, dtype=EDGE_DTYPE)


def _contains(mesh: Mesh, corners: Sequence[int], x: float, y: float) -> bool:
    # Convex and counter-clockwise: inside or on the boundary when no side has the
    # point strictly on its right.
    ax, ay = mesh.vertices[corners[-1]]
    for v in corners:
        bx, by = mesh.vertices[v]
        if (bx - ax) * (y - ay) - (by - ay) * (x - ax) < 0.0:
            return False
        ax, ay = bx, by
    return True


class PolygonLocator:
    """Finds the lowest-index polygon containing a point, through a uniform grid of
    buckets over the polygons' bounding boxes."""

    def __init__(self, mesh: Mesh, polygons_per_cell: float = 2.0) -> None:
        self._mesh = mesh
        xs = [x for x, _ in mesh.vertices]
        ys = [y for _, y in mesh.vertices]
        self._min_x, self._min_y = min(xs), min(ys)
        width = max(max(xs) - self._min_x, 1e-9)
        height = max(max(ys) - self._min_y, 1e-9)
        cells = max(1.0, len(mesh.polygons) / polygons_per_cell)
        self._cell = max(math.sqrt(width * height / cells), 1e-9)
        self._columns = int(width / self._cell) + 1
        self._rows = int(height / self._cell) + 1
        self._buckets: List[List[int]] = [[] for _ in range(self._columns * self._rows)]
        for index, (corners, _) in enumerate(mesh.polygons):
            px = [mesh.vertices[v][0] for v in corners]
            py = [mesh.vertices[v][1] for v in corners]
            c0, r0 = self._cell_of(min(px), min(py))
            c1, r1 = self._cell_of(max(px), max(py))
            for row in range(r0, r1 + 1):
                for column in range(c0, c1 + 1):
                    self._buckets[row * self._columns + column].append(index)

    def _cell_of(self, x: float, y: float) -> Tuple[int, int]:
        column = min(max(int((x - self._min_x) // self._cell), 0), self._columns - 1)
        row = min(max(int((y - self._min_y) // self._cell), 0), self._rows - 1)
        return column, row

    def locate(self, x: float, y: float) -> Optional[int]:
        """The polygon index, or None for a point in no polygon."""
        column, row = self._cell_of(x, y)
        for index in self._buckets[row * self._columns + column]:
            if _contains(self._mesh, self._mesh.polygons[index][0], x, y):
                return index
        return None


def load_scenarios(path: PathArgument) -> List[Tuple[Point2, Point2]]:
    """(start point, goal point) of every scenario line after the header."""
    pairs: List[Tuple[Point2, Point2]] = []
    for line in Path(path).read_text().splitlines()[1:]:
        fields = line.split()
        if len(fields) < 9:
            continue
        start = (float(fields[4]), float(fields[5]))
        goal = (float(fields[6]), float(fields[7]))
        pairs.append((start, goal))
    return pairs


def scenario_queries(mesh: Mesh, scenarios: Iterable[Tuple[Point2, Point2]],
                     locator: Optional[PolygonLocator] = None) -> List[Query]:
    """Queries from start to goal points; pairs with a point in no polygon are skipped."""
    locator = locator or PolygonLocator(mesh)
    queries: List[Query] = []
    for start_point, goal in scenarios:
        start = locator.locate(*start_point)
        target = locator.locate(*goal)
        if start is None or target is None:
            continue
        queries.append(Query(start, target, (_float32(goal[0]), _float32(goal[1])), start_point))
    return queries


def splitmix64(seed: int) -> Iterator[int]:
    mask = (1 << 64) - 1
    state = seed & mask
    while True:
        state = (state + 0x9E3779B97F4A7C15) & mask
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & mask
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & mask
        yield z ^ (z >> 31)


def random_node_queries(nodes: npt.NDArray[np.void], count: int = 1000, seed: int = 20261207) -> List[Query]:
    """Node pairs drawn from splitmix64; the target point is the target's centroid."""
    numbers = splitmix64(seed)
    queries: List[Query] = []
    for _ in range(count):
        start = next(numbers) % len(nodes)
        target = next(numbers) % len(nodes)
        centroid = nodes[target]["centroid"]
        point = (float(centroid["x"]), float(centroid["y"]))
        start_centroid = nodes[start]["centroid"]
        queries.append(Query(start, target, point, (float(start_centroid["x"]), float(start_centroid["y"]))))
    return queries


def shared_mesh_path(name: str, root: Optional[PathArgument] = None) -> Optional[Path]:
    """`../shared/navmeshes/{name}` seen from the project root (default: the working
    directory), if it exists."""
    path = Path(root or Path.cwd()) / ".." / "shared" / "navmeshes" / name
    return path if path.exists() else None


def small_mesh_path(name: str = "small.mesh") -> Path:
    """A small mesh shipped with this package, for when the shared meshes are absent."""
    return Path(__file__).parent / "data" / name


def path_length(start: Point2, points: Iterable[walkmesh.Point]) -> float:
    """Length of the polyline from `start` through the points of a found path."""
    total = 0.0
    x0, y0 = start
    for point in points:
        total += math.hypot(point.x - x0, point.y - y0)
        x0, y0 = point.x, point.y
    return total
