"""Query workloads that the tests and the benchmarks share: the scenario files of the
shared meshes, node pairs and generated maps drawn from splitmix64 (the same numbers
on every platform and NumPy release), and where the meshes are. The tests import it
through tests/conftest.py, which puts bench/ on the import path."""
from __future__ import annotations

import math
from pathlib import Path
from typing import Iterator, List, Optional, Tuple

import numpy as np

from walkmesh_tools._sample import Query, load_scenarios, path_length, scenario_queries, small_mesh_path

__all__ = ["Query", "load_scenarios", "scenario_queries", "path_length", "small_mesh_path", "NAVMESHES",
           "shared_mesh_path", "splitmix64", "random_node_queries", "random_obstacle_map", "bridge_level"]

# The shared navigation meshes lie beside the project.
NAVMESHES = Path(__file__).resolve().parent.parent.parent / "shared" / "navmeshes"


def shared_mesh_path(name: str) -> Optional[Path]:
    """NAVMESHES / name, if it exists."""
    path = NAVMESHES / name
    return path if path.exists() else None


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

    >>> from workloads import random_obstacle_map
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


def bridge_level(deck: float = 3.0) -> Tuple[np.ndarray, List[List[int]]]:
    """A level with a bridge: (vertices (V, 3), polygons). A floor of 40 x 24 at height
    0, with a road under a bridge deck of x 14 to 26, y 10 to 14, at height `deck`; a
    ramp at each end of the deck (x 4 to 14 and 26 to 36) rises from the floor to it,
    standing on the floor (no floor under a ramp). The floor under the deck meets the
    ramps' ends in plan only, so the deck is reached by the ramps alone. The floor's
    long strips are single polygons whose sides the other polygons' corners split
    (T-junctions), and every polygon starts at a corner where its sides turn."""
    heights = {"floor": 0.0, "deck": deck}
    vertices: List[Tuple[float, float, float]] = []
    polygons: List[List[int]] = []

    def quad(corners: List[Tuple[float, float, float]]) -> None:
        polygons.append(list(range(len(vertices), len(vertices) + len(corners))))
        vertices.extend(corners)

    def flat(x0: float, y0: float, x1: float, y1: float, z: float) -> None:
        quad([(x0, y0, z), (x1, y0, z), (x1, y1, z), (x0, y1, z)])

    floor, top = heights["floor"], heights["deck"]
    flat(0, 0, 40, 10, floor)      # the south strip
    flat(0, 14, 40, 24, floor)     # the north strip
    flat(0, 10, 4, 14, floor)      # west of the west ramp
    flat(14, 10, 26, 14, floor)    # the road under the deck
    flat(36, 10, 40, 14, floor)    # east of the east ramp
    quad([(4, 10, floor), (14, 10, top), (14, 14, top), (4, 14, floor)])     # the west ramp, rising east
    flat(14, 10, 26, 14, top)      # the deck
    quad([(26, 10, top), (36, 10, floor), (36, 14, floor), (26, 14, top)])   # the east ramp, falling east
    return np.array(vertices, dtype=np.float64), polygons

