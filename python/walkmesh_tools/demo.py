"""Runs a few scenario queries on a real navigation mesh and prints, for each, the
number of points, the path cost (length of the walked polyline from the start point)
and the time per query; with matplotlib installed it also draws the mesh and a
handful of queries into a PNG, each as its route through portal midpoints and as
its straight path.

    python -m walkmesh_tools.demo [--meshes DIR] [--png PATH] [MESH [SCENARIOS]]

Without a mesh it uses aurora.mesh and aurora.scen from the folder of the shared
navigation meshes, given by --meshes or the environment variable WALKMESH_MESHES,
or, when neither is given, the small mesh shipped with walkmesh_tools. The PNG goes
to demo.png unless --png says otherwise.
"""
from __future__ import annotations

import argparse
import os
import time
from pathlib import Path
from typing import TYPE_CHECKING, List, Optional, Sequence, Tuple

import walkmesh
import walkmesh_tools as tools
from walkmesh_tools._sample import Query, load_scenarios, path_length, scenario_queries, small_mesh_path

if TYPE_CHECKING:
    from walkmesh_tools.navmesh import Drawable

QUERIES = 8
REPEATS = 20
DRAWN = 5


def default_inputs(parser: argparse.ArgumentParser, meshes: Optional[Path]) -> Tuple[Path, Path]:
    if meshes is None:
        return small_mesh_path(), small_mesh_path("small.scen")
    mesh = meshes / "aurora.mesh"
    if not mesh.is_file():
        parser.error(f"no aurora.mesh in {meshes} (from --meshes or WALKMESH_MESHES)")
    return mesh, mesh.with_suffix(".scen")


def time_per_query(mesh: tools.NavMesh, query: Query, target_point: walkmesh.Point) -> float:
    began = time.perf_counter()
    for _ in range(REPEATS):
        walkmesh.find_path(mesh.nodes, mesh.edges, query.start, query.target, target_point)
    return (time.perf_counter() - began) / REPEATS


def draw(mesh: tools.NavMesh, mesh_name: str, queries: Sequence[Query], png: Path) -> None:
    try:
        import matplotlib
    except ImportError:
        print(f"no drawing: {png} needs matplotlib (pip install 'walkmesh[plot]')")
        return
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    # Long queries, from the last tenth of the workload, spread over it.
    tenth = queries[-max(DRAWN, len(queries) // 10):]
    chosen = tenth[::max(1, len(tenth) // DRAWN)][:DRAWN]
    paths: List[Drawable] = []
    colors: List[str] = []
    for q, color in zip(chosen, matplotlib.rcParams["axes.prop_cycle"].by_key()["color"]):
        paths.append((q.start_point, mesh.find_path(q.start_point, q.target_point)))
        paths.append(mesh.straight_path(q.start_point, q.target_point))
        colors += [color, color]
    figure, ax = plt.subplots(figsize=(10, 7.5))
    mesh.plot(paths, ax=ax, colors=colors)
    ax.set_title(f"{mesh_name}: {len(mesh)} polygons; {len(chosen)} queries, each as its route through "
                 "portal midpoints and its straight path", fontsize="medium")
    figure.tight_layout()
    png.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(png, dpi=110)
    plt.close(figure)
    print(f"drew {len(chosen)} queries into {png}")


def main(argv: Optional[List[str]] = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--meshes", type=Path, help="the folder of the shared navigation meshes "
                        "(default: $WALKMESH_MESHES)")
    parser.add_argument("--png", type=Path, default=Path("demo.png"))
    parser.add_argument("mesh", nargs="?", type=Path)
    parser.add_argument("scenarios", nargs="?", type=Path)
    arguments = parser.parse_args(argv)
    if arguments.mesh:
        mesh_path = arguments.mesh
        scenario_path = arguments.scenarios or mesh_path.with_suffix(".scen")
    else:
        meshes = arguments.meshes or os.environ.get("WALKMESH_MESHES")
        mesh_path, scenario_path = default_inputs(parser, Path(meshes) if meshes else None)
    mesh = tools.NavMesh.load(mesh_path)
    scenarios = load_scenarios(scenario_path)
    queries = scenario_queries(mesh, scenarios)
    print(f"{mesh_path.name}: {len(mesh.nodes)} nodes, {len(mesh.edges)} edges, "
          f"{len(queries)} of {len(scenarios)} scenarios located")
    # A spread of the workload, from its first (short) to its last (long) queries.
    step = max(1, len(queries) // QUERIES)
    for query in queries[::step][:QUERIES]:
        target_point = walkmesh.Point(*query.target_point)
        path = walkmesh.find_path(mesh.nodes, mesh.edges, query.start, query.target, target_point)
        cost = path_length(query.start_point, path)
        seconds = time_per_query(mesh, query, target_point)
        print(f"  {query.start:6d} -> {query.target:6d}: {len(path):4d} points, "
              f"cost {cost:9.2f}, {seconds * 1e6:9.1f} us/query")
    draw(mesh, mesh_path.name, queries, arguments.png)


if __name__ == "__main__":
    main()
