"""Query workloads that the demo, the tests and the benchmarks share: the scenario
files of the shared meshes, node pairs and generated maps drawn from splitmix64 (the
same numbers on every platform and NumPy release), and where the meshes are."""
from __future__ import annotations

import math
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, Iterable, Iterator, List, Optional, Sequence, Tuple

import numpy as np

__all__ = ["Query", "load_scenarios", "scenario_queries", "splitmix64", "random_node_queries",
           "random_obstacle_map", "shared_mesh_path", "small_mesh_path", "path_length"]

if TYPE_CHECKING:
    import walkmesh

    from .formats import PathLike
    from .navmesh import NavMesh

Point2 = Tuple[float, float]


@dataclass(frozen=True)
class Query:
    start: int
    target: int
    target_point: Point2  # already float32-exact
    start_point: Point2


def load_scenarios(path: PathLike) -> List[Tuple[Point2, Point2]]:
    """(start point, goal point) of every scenario line after the header."""
    pairs = []
    for line in Path(path).read_text().splitlines()[1:]:
        fields = line.split()
        if len(fields) < 9:
            continue
        pairs.append(((float(fields[4]), float(fields[5])), (float(fields[6]), float(fields[7]))))
    return pairs


def scenario_queries(mesh: NavMesh, scenarios: Sequence[Tuple[Point2, Point2]]) -> List[Query]:
    """Queries from start to goal points in a NavMesh; pairs with a point in no
    polygon are skipped."""
    if not scenarios:
        return []
    starts = np.array([start for start, _ in scenarios], dtype=np.float64)
    goals = np.array([goal for _, goal in scenarios], dtype=np.float64)
    start_nodes, goal_nodes = mesh.locate(starts).tolist(), mesh.locate(goals).tolist()
    goals32 = goals.astype(np.float32).astype(np.float64).tolist()
    return [Query(s, t, tuple(goal), start_point)
            for s, t, goal, (start_point, _) in zip(start_nodes, goal_nodes, goals32, scenarios)
            if s >= 0 and t >= 0]


def splitmix64(seed: int) -> Iterator[int]:
    mask = (1 << 64) - 1
    state = seed & mask
    while True:
        state = (state + 0x9E3779B97F4A7C15) & mask
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & mask
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & mask
        yield z ^ (z >> 31)


def random_node_queries(nodes: np.ndarray, count: int = 1000, seed: int = 20261207) -> List[Query]:
    """Node pairs drawn from splitmix64; the target point is the target's centroid."""
    numbers = splitmix64(seed)
    queries = []
    for _ in range(count):
        start = next(numbers) % len(nodes)
        target = next(numbers) % len(nodes)
        centroid = nodes[target]["centroid"]
        point = (float(centroid["x"]), float(centroid["y"]))
        start_centroid = nodes[start]["centroid"]
        queries.append(Query(start, target, point, (float(start_centroid["x"]), float(start_centroid["y"]))))
    return queries


def uniform(numbers: Iterator[int], low: float, high: float) -> float:
    """A double in [low, high) from the top 53 bits of the next number."""
    return low + (high - low) * ((next(numbers) >> 11) * 2.0**-53)


def random_obstacle_map(width: float = 1024.0, height: float = 768.0, count: int = 1000, seed: int = 1,
                        sizes: Tuple[float, float] = (3.0, 12.0)) -> Tuple[np.ndarray, List[np.ndarray]]:
    """A rectangular walkable area (0, 0)-(width, height) as a ring, and `count`
    convex obstacles: 3 to 7 points on a circle of radius in `sizes` around a
    centre in the area, in counter-clockwise order. Obstacles may overlap each
    other and the border.

    >>> from walkmesh_tools import random_obstacle_map
    >>> walkable, obstacles = random_obstacle_map(100, 50, count=3, seed=2)
    >>> walkable.tolist(), len(obstacles), obstacles[0].shape[1]
    ([[0.0, 0.0], [100.0, 0.0], [100.0, 50.0], [0.0, 50.0]], 3, 2)
    """
    numbers = splitmix64(seed)
    walkable = np.array([(0.0, 0.0), (width, 0.0), (width, height), (0.0, height)])
    obstacles = []
    for _ in range(count):
        cx, cy = uniform(numbers, 0, width), uniform(numbers, 0, height)
        radius = uniform(numbers, *sizes)
        corners = 3 + next(numbers) % 5
        angles = sorted(uniform(numbers, 0, 2 * math.pi) for _ in range(corners))
        obstacles.append(np.array([(cx + radius * math.cos(a), cy + radius * math.sin(a)) for a in angles]))
    return walkable, obstacles


def shared_mesh_path(name: str, root: Optional[PathLike] = None) -> Optional[Path]:
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
