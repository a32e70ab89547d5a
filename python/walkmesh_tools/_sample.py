"""The small mesh and scenario file shipped with walkmesh_tools, what the demo makes
of scenario files (queries located in a mesh, and the length of a found path), and a
generated level with a bridge. Private: the tests and the benchmarks reach these
through bench/workloads.py."""
from __future__ import annotations

import math
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, Iterable, List, Sequence, Tuple

import numpy as np

if TYPE_CHECKING:
    import walkmesh

    from .formats import PathLike
    from .navmesh import NavMesh

Point2 = Tuple[float, float]


def small_mesh_path(name: str = "small.mesh") -> Path:
    """A file shipped with this package: the small mesh, or its scenarios (small.scen)."""
    return Path(__file__).parent / "data" / name


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
    return [Query(s, t, (goal[0], goal[1]), start_point)
            for s, t, goal, (start_point, _) in zip(start_nodes, goal_nodes, goals32, scenarios)
            if s >= 0 and t >= 0]


def path_length(start: Point2, points: Iterable[walkmesh.Point]) -> float:
    """Length of the polyline from `start` through the points of a found path."""
    total = 0.0
    x0, y0 = start
    for point in points:
        total += math.hypot(point.x - x0, point.y - y0)
        x0, y0 = point.x, point.y
    return total


def bridge_level(deck: float = 3.0) -> Tuple[np.ndarray, List[List[int]]]:
    """A level with a bridge: (vertices (V, 3), polygons). A floor of 40 x 24 at height
    0, with a road under a bridge deck of x 14 to 26, y 10 to 14, at height `deck`; a
    ramp at each end of the deck (x 4 to 14 and 26 to 36) rises from the floor to it,
    standing on the floor (no floor under a ramp). The floor under the deck meets the
    ramps' ends in plan only, so the deck is reached by the ramps alone. The floor's
    long strips are single polygons whose sides the other polygons' corners split
    (T-junctions), and every polygon starts at a corner where its sides turn."""
    vertices: List[Tuple[float, float, float]] = []
    polygons: List[List[int]] = []

    def quad(corners: List[Tuple[float, float, float]]) -> None:
        polygons.append(list(range(len(vertices), len(vertices) + len(corners))))
        vertices.extend(corners)

    def flat(x0: float, y0: float, x1: float, y1: float, z: float) -> None:
        quad([(x0, y0, z), (x1, y0, z), (x1, y1, z), (x0, y1, z)])

    floor, top = 0.0, deck
    flat(0, 0, 40, 10, floor)      # the south strip
    flat(0, 14, 40, 24, floor)     # the north strip
    flat(0, 10, 4, 14, floor)      # west of the west ramp
    flat(14, 10, 26, 14, floor)    # the road under the deck
    flat(36, 10, 40, 14, floor)    # east of the east ramp
    quad([(4, 10, floor), (14, 10, top), (14, 14, top), (4, 14, floor)])     # the west ramp, rising east
    flat(14, 10, 26, 14, top)      # the deck
    quad([(26, 10, top), (36, 10, floor), (36, 14, floor), (26, 14, top)])   # the east ramp, falling east
    return np.array(vertices, dtype=np.float64), polygons

