"""The small mesh and scenario file shipped with walkmesh_tools, and what the demo
makes of scenario files: queries located in a mesh, and the length of a found path.
Private: the tests and the benchmarks reach these through bench/workloads.py."""
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
