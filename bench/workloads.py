"""Query workloads that the tests and the benchmarks share: the scenario files of the
shared meshes, node pairs and generated maps drawn from splitmix64 (the same numbers
on every platform and NumPy release), and where the meshes are. The tests import it
through tests/conftest.py, which puts bench/ on the import path."""
from __future__ import annotations

import math
from pathlib import Path
from typing import Iterator, List, Optional, Tuple

import numpy as np

from walkmesh_tools._sample import Query, bridge_level, load_scenarios, path_length, scenario_queries, small_mesh_path

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

