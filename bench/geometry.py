"""Figures of the level geometry of walkmesh_tools.NavMesh: how close straight paths
come to obstacles against the agent radius, what a single NavMesh query costs beside
the same search called with located nodes, the location index's build time beside
loading aurora, nearest-point and location throughput, and from_grid on 1024 x 1024
grids. Times are thread CPU time (single queries, interleaved rounds) or wall time,
best of several rounds; the targets are reported, never enforced.

    python bench/geometry.py [--meshes DIR] [--rounds N] [--paths N]
"""
from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path
from typing import Callable, List, Tuple

import numpy as np

import walkmesh
import walkmesh_tools as tools
from walkmesh_tools import _native

import workloads

ROOT = Path(__file__).resolve().parent.parent
SINGLE_QUERY_TARGET = 1.5  # NavMesh query / the located call
INDEX_TARGET = 0.5  # index build / load, aurora
POLYGONS_PER_CELL_TARGET = 1 / 3


def best(body: Callable[[], object], rounds: int) -> Tuple[float, object]:
    times, result = [], None
    for _ in range(rounds):
        began = time.perf_counter()
        result = body()
        times.append(time.perf_counter() - began)
    return min(times), result


def verdict(ok: bool) -> str:
    return "meets the target" if ok else "MISSES the target"


def clearance(paths: int, radii: List[float]) -> None:
    import shapely
    walkable, obstacles = workloads.random_obstacle_map(1024, 768, count=1000, seed=1)
    blocked = shapely.union_all([shapely.Polygon(o) for o in obstacles])
    edge = shapely.Polygon(walkable).exterior
    print(f"clearance: {paths:,} straight paths between random points, 1024 x 768 map, 1,000 obstacles (seed 1)")
    for radius in radii:
        mesh = tools.NavMesh.from_shapes(walkable, obstacles, agent_radius=radius)
        points = np.random.default_rng(2).uniform((0, 0), (1024, 768), (8 * paths, 2))
        points = points[mesh.locate(points) >= 0][:2 * paths]
        batch = mesh.find_paths(points[:paths], points[paths:2 * paths], straight=True)
        lines = [shapely.LineString(path.astype(np.float64)) for path in batch if len(path) >= 2]
        obstacle = float(shapely.distance(blocked, lines).min())
        border = float(shapely.distance(edge, lines).min())
        print(f"  radius {radius:g}: {len(lines):,} paths, nearest obstacle {obstacle:.4f}, nearest edge "
              f"{border:.4f} ({verdict(min(obstacle, border) >= radius)}: at least the radius)")


def single_queries(meshes: Path, rounds: int) -> None:
    mesh = tools.NavMesh.load(meshes / "arena.mesh")
    pairs = [(tuple(map(float, a)), tuple(map(float, b))) for a, b in workloads.load_scenarios(meshes / "arena.scen")]
    pairs = [(a, b) for a, b in pairs if mesh.locate(a) >= 0 and mesh.locate(b) >= 0]
    located = [(mesh.locate(a), mesh.locate(b), a, b) for a, b in pairs]
    nodes, edges = mesh.nodes, mesh.edges

    def timed(body: Callable[[], None]) -> float:
        began = time.thread_time()
        body()
        return time.thread_time() - began

    def straight_mesh() -> None:
        for a, b in pairs:
            mesh.straight_path(a, b)

    def straight_located() -> None:
        for s, t, a, b in located:
            tools.straight_path(nodes, edges, s, t, a, b)

    def route_mesh() -> None:
        for a, b in pairs:
            mesh.find_path(a, b)

    def route_located() -> None:
        for s, t, _, b in located:
            walkmesh.find_path(nodes, edges, s, t, walkmesh.Point(*b))

    bodies = [straight_mesh, straight_located, route_mesh, route_located]
    times = [[timed(body) for body in bodies] for _ in range(rounds * 4)]
    fastest = np.min(np.array(times), axis=0) / len(pairs) * 1e6
    print(f"single queries on arena, {len(pairs)} scenarios, thread CPU time, fastest of {rounds * 4} "
          "interleaved rounds:")
    for label, (mine, plain) in [("straight_path", fastest[:2]), ("find_path", fastest[2:])]:
        ratio = mine / plain
        print(f"  NavMesh.{label} {mine:6.2f} us, the located call {plain:6.2f} us: {ratio:.2f}x; "
              f"target <= {SINGLE_QUERY_TARGET}x: {verdict(ratio <= SINGLE_QUERY_TARGET)}")


def index_and_throughput(meshes: Path, rounds: int) -> None:
    path = meshes / "aurora.mesh"
    load, aurora = best(lambda: tools.NavMesh.load(path), rounds)
    arrays = (aurora.vertices, aurora.polygon_offsets, aurora.polygon_corners, aurora.neighbours)
    # The native mesh holds the location index and the shortest-path search's index,
    # built together: its time bounds the location index's.
    build, native = best(lambda: _native.mesh(*arrays), rounds)
    ratio = build / load
    print(f"aurora ({len(aurora):,} polygons): load {load:.3f} s, native mesh with the location index "
          f"{build * 1e3:.1f} ms (locator {_native.locator_bytes(native) / len(aurora):.0f} bytes a polygon): "
          f"{ratio:.3f} of the load; target <= {INDEX_TARGET}: {verdict(ratio <= INDEX_TARGET)}")
    low, high = aurora.vertices.min(axis=0), aurora.vertices.max(axis=0)
    uniform = np.random.default_rng(1).uniform(low, high, (1_000_000, 2))
    scenarios = np.array([p for pair in workloads.load_scenarios(path.with_suffix(".scen")) for p in pair], float)
    for label, points in [("uniform over the bounding box", uniform), ("scenario points", scenarios)]:
        took, found = best(lambda: aurora.locate(points), rounds)
        near, (_, polygon, distance) = best(lambda: aurora.nearest(points), rounds)
        print(f"  {label}, {len(points):,} points ({np.mean(found >= 0):.0%} inside): locate "
              f"{len(points) / took / 1e6:.2f} M/s, nearest {len(points) / near / 1e6:.2f} M/s "
              f"(mean distance of the outside ones {np.mean(distance[found < 0]) if np.any(found < 0) else 0:.2f})")


def grids(meshes: Path, rounds: int) -> None:
    import shapely
    aurora = tools.NavMesh.load(meshes / "aurora.mesh")
    # aurora's own grid map: the cells whose centres its polygons hold, in 1024 x 1024.
    ys, xs = np.indices((1024, 1024)) + 0.5
    from_mesh = aurora.locate(np.stack([xs, ys], axis=-1)) >= 0
    walkable, obstacles = workloads.random_obstacle_map(1024, 1024, count=1000, seed=1)
    blocked = shapely.union_all([shapely.Polygon(o) for o in obstacles])
    from_shapes = ~shapely.contains_xy(blocked, xs, ys)
    noise = np.random.default_rng(1).random((1024, 1024)) < 0.7
    print("from_grid, 1024 x 1024 grids:")
    for label, free in [("aurora rasterised", from_mesh), ("1,000 random obstacles", from_shapes),
                        ("random cells, 70% walkable (not a typical map)", noise)]:
        took, mesh = best(lambda: tools.NavMesh.from_grid(free), max(1, rounds // 2))
        share = len(mesh) / free.sum()
        print(f"  {label}: {free.sum():,} walkable cells, {len(mesh):,} polygons, {share:.4f} a cell, "
              f"{took:.2f} s; target <= 1/3 a cell: {verdict(share <= POLYGONS_PER_CELL_TARGET)}")


def main(argv=None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--meshes", type=Path, default=ROOT.parent / "shared" / "navmeshes")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--paths", type=int, default=1000)
    parser.add_argument("--radius", type=float, nargs="*", default=[0.5, 1.0, 2.0, 4.0])
    arguments = parser.parse_args(argv)
    if not (arguments.meshes / "aurora.mesh").exists():
        sys.exit(f"geometry.py: no aurora.mesh in {arguments.meshes}; pass --meshes DIR")
    single_queries(arguments.meshes, arguments.rounds)
    index_and_throughput(arguments.meshes, arguments.rounds)
    grids(arguments.meshes, arguments.rounds)
    clearance(arguments.paths, arguments.radius)


if __name__ == "__main__":
    main()
