"""Figures of walkmesh_tools.NavMesh on the shared meshes and a generated map: the time
to read aurora and build its tables, from_shapes on a 1024 x 768 map with 1,000
obstacles (node counts before and after merging), locate's throughput and
validate's time. Each figure is the best of several rounds of wall time; the
targets are reported, never enforced (the machine is shared).

    python bench/navmesh.py [--meshes DIR] [--rounds N] [--radius R ...]
"""
from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path
from typing import Callable, Tuple

import numpy as np

import walkmesh_tools as tools
import workloads
from walkmesh_tools.formats import read_text
from walkmesh_tools import _native

ROOT = Path(__file__).resolve().parent.parent
LOCATE_TARGET = 1e6  # points a second on aurora
SHAPES_TARGET = 2.0  # seconds for the generated map
VALIDATE_TARGET = 0.2  # seconds on aurora


def best(body: Callable[[], object], rounds: int) -> Tuple[float, object]:
    times, result = [], None
    for _ in range(rounds):
        began = time.perf_counter()
        result = body()
        times.append(time.perf_counter() - began)
    return min(times), result


def verdict(ok: bool) -> str:
    return "meets the target" if ok else "MISSES the target"


def main(argv=None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--meshes", type=Path, default=ROOT.parent / "shared" / "navmeshes")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--radius", type=float, nargs="*", default=[0.0, 2.0])
    arguments = parser.parse_args(argv)
    aurora_path = arguments.meshes / "aurora.mesh"
    if not aurora_path.exists():
        sys.exit(f"navmesh.py: no aurora.mesh in {arguments.meshes}; pass --meshes DIR")
    rounds = arguments.rounds

    seconds, aurora = best(lambda: tools.NavMesh.load(aurora_path), rounds)
    parse, (vertices, polygons, _) = best(lambda: read_text(aurora_path), rounds)
    build, _ = best(lambda: tools.NavMesh.from_polygons(vertices, polygons), rounds)
    print(f"aurora: {len(aurora)} polygons, {len(aurora.edges)} edges")
    print(f"  load and build the tables   {seconds:6.3f} s  (reading the file {parse:.3f} s, "
          f"from_polygons {build:.3f} s)")

    validate, problems = best(lambda: tools.validate(aurora.nodes, aurora.edges), rounds)
    print(f"  validate                    {validate:6.3f} s  {len(problems)} problems; "
          f"target < {VALIDATE_TARGET} s: {verdict(validate < VALIDATE_TARGET)}")

    arrays = (aurora.vertices, aurora.polygon_offsets, aurora.polygon_corners, aurora.neighbours)
    index, _ = best(lambda: _native.mesh(*arrays), rounds)
    print(f"  native mesh (with load)     {index:6.3f} s")
    low, high = aurora.vertices.min(axis=0), aurora.vertices.max(axis=0)
    uniform = np.random.default_rng(1).uniform(low, high, (1_000_000, 2))
    scenarios = np.array([p for pair in workloads.load_scenarios(aurora_path.with_suffix(".scen")) for p in pair])
    for label, points in [("uniform over the bounding box", uniform), ("scenario start and goal points", scenarios)]:
        took, found = best(lambda: aurora.locate(points), rounds)
        rate = len(points) / took
        print(f"  locate, {label}: {len(points):,} points, {rate / 1e6:5.2f} M points/s "
              f"({np.mean(found >= 0):.0%} inside); target >= {LOCATE_TARGET / 1e6:.0f} M/s: "
              f"{verdict(rate >= LOCATE_TARGET)}")

    walkable, obstacles = workloads.random_obstacle_map(1024, 768, count=1000, seed=1)
    print("from_shapes, 1024 x 768 map, 1,000 random convex obstacles (random_obstacle_map, seed 1):")
    for radius in arguments.radius:
        took, mesh = best(lambda: tools.NavMesh.from_shapes(walkable, obstacles, agent_radius=radius), rounds)
        triangles = tools.NavMesh.from_shapes(walkable, obstacles, agent_radius=radius, merge=False)
        print(f"  agent radius {radius:g}: {took:6.3f} s, {len(triangles):,} triangles merged into {len(mesh):,} "
              f"polygons ({len(mesh) / len(triangles):.0%}); target < {SHAPES_TARGET} s: "
              f"{verdict(took < SHAPES_TARGET)}")


if __name__ == "__main__":
    main()
