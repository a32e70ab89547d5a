"""Runs a few scenario queries on a real navigation mesh and prints, for each, the
number of points, the path cost (length of the walked polyline from the start point)
and the time per query. With matplotlib installed it also draws the mesh and five long
queries into a palette PNG, each as its route through portal midpoints and as its
straight path, its start marked by a ring and its target by a cross.

Without a mesh it uses aurora.mesh and aurora.scen from the folder of the shared
navigation meshes, given by --meshes or the environment variable WALKMESH_MESHES,
or, when neither is given, the small mesh shipped with walkmesh_tools.
"""
from __future__ import annotations

import argparse
import io
import os
import tempfile
import time
from pathlib import Path
from typing import TYPE_CHECKING, Any, List, Optional, Sequence, Tuple

import walkmesh
import walkmesh_tools as tools
from walkmesh_tools._sample import Query, load_scenarios, path_length, scenario_queries, small_mesh_path

if TYPE_CHECKING:
    from walkmesh_tools.navmesh import Drawable

QUERIES = 8
REPEATS = 20
DRAWN = 5
PALETTE = 96


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
    figure, ax = plt.subplots(figsize=(10, 7.5), constrained_layout=True)
    mesh.plot(paths, ax=ax, colors=colors)
    ax.set_title(f"{mesh_name}: {len(mesh)} polygons; {len(chosen)} queries, each as its route through "
                 "portal midpoints and its straight path", fontsize="medium")
    png.parent.mkdir(parents=True, exist_ok=True)
    save_palette_png(figure, png)
    plt.close(figure)
    print(f"drew {len(chosen)} queries into {png}")


def save_palette_png(figure: Any, png: Path) -> None:
    """Saves the figure as a PNG of at most PALETTE colours (a fifth of the RGBA file's
    size for a mesh drawing), through a temporary file beside `png`, so that a failure
    leaves an earlier picture whole."""
    from PIL import Image

    buffer = io.BytesIO()
    # Cropped to what is drawn: the map keeps its aspect, which leaves margins.
    figure.savefig(buffer, format="png", dpi=110, bbox_inches="tight", pad_inches=0.1)
    buffer.seek(0)
    with Image.open(buffer) as drawn:
        # Flat colours and thin lines: no dithering, which would only add noise.
        picture = drawn.convert("RGB").quantize(colors=PALETTE, dither=Image.Dither.NONE)
    handle, temporary = tempfile.mkstemp(prefix=f".{png.name}.", suffix=".tmp", dir=png.parent)
    try:
        with os.fdopen(handle, "wb") as out:
            picture.save(out, format="PNG", optimize=True)
        # The permissions an ordinary new file gets (mkstemp's are the owner's only).
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)
        os.replace(temporary, png)
    except BaseException:
        os.unlink(temporary)
        raise


def main(argv: Optional[List[str]] = None) -> None:
    parser = argparse.ArgumentParser(prog="python -m walkmesh_tools.demo", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--meshes", type=Path, help="the folder of the shared navigation meshes "
                        "(default: $WALKMESH_MESHES)")
    parser.add_argument("--png", type=Path, default=Path("demo.png"),
                        help="where the drawing goes (default: demo.png)")
    parser.add_argument("mesh", nargs="?", type=Path, help="a mesh file that NavMesh.load reads")
    parser.add_argument("scenarios", nargs="?", type=Path,
                        help="its scenario file (default: the mesh's path with the suffix .scen)")
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
