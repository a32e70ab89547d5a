"""Runs a few scenario queries on a real navigation mesh and prints, for each, the
number of points, the path cost (length of the walked polyline from the start point)
and the time per query.

    python -m walkmesh_tools.demo [MESH [SCENARIOS]]

Without arguments it uses ../shared/navmeshes/aurora.mesh (seen from the working
directory), or the small mesh shipped with walkmesh_tools when that is absent.
"""
from __future__ import annotations

import sys
import time
from pathlib import Path
from typing import TYPE_CHECKING, List, Tuple

import walkmesh
import walkmesh_tools as tools

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

QUERIES = 8
REPEATS = 20


def default_inputs() -> Tuple[Path, Path]:
    mesh = tools.shared_mesh_path("aurora.mesh")
    if mesh is not None:
        return mesh, mesh.with_suffix(".scen")
    return tools.small_mesh_path(), tools.small_mesh_path("small.scen")


def time_per_query(nodes: npt.NDArray[np.void], edges: npt.NDArray[np.void], query: tools.Query,
                   target_point: walkmesh.Point) -> float:
    began = time.perf_counter()
    for _ in range(REPEATS):
        walkmesh.find_path(nodes, edges, query.start, query.target, target_point)
    return (time.perf_counter() - began) / REPEATS


def main(argv: List[str]) -> None:
    mesh_path, scenario_path = default_inputs()
    if argv:
        mesh_path = Path(argv[0])
        scenario_path = Path(argv[1]) if len(argv) > 1 else mesh_path.with_suffix(".scen")
    mesh = tools.load_mesh(mesh_path)
    nodes, edges = tools.build_tables(mesh)
    scenarios = tools.load_scenarios(scenario_path)
    queries = tools.scenario_queries(mesh, scenarios)
    print(f"{mesh_path.name}: {len(nodes)} nodes, {len(edges)} edges, "
          f"{len(queries)} of {len(scenarios)} scenarios located")
    # A spread of the workload, from its first (short) to its last (long) queries.
    step = max(1, len(queries) // QUERIES)
    for query in queries[::step][:QUERIES]:
        target_point = walkmesh.Point(*query.target_point)
        path = walkmesh.find_path(nodes, edges, query.start, query.target, target_point)
        cost = tools.path_length(query.start_point, path)
        seconds = time_per_query(nodes, edges, query, target_point)
        print(f"  {query.start:6d} -> {query.target:6d}: {len(path):4d} points, "
              f"cost {cost:9.2f}, {seconds * 1e6:9.1f} us/query")


if __name__ == "__main__":
    main(sys.argv[1:])
