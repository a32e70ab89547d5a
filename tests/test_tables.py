"""Tables from polygons: the mesh rules, followed with plain Python loops; the bytes
the shared meshes gave before the tables moved onto NavMesh; the C++ benchmark
reader's bytes; cost factors."""
import hashlib
import math
import os
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import walkmesh_tools as tools
import workloads

ROOT = Path(__file__).resolve().parent.parent
NAVMESHES = ROOT.parent / "shared" / "navmeshes"

# sha256 of the little-endian node then edge bytes, as the helpers that NavMesh
# replaced built them.
EARLIER_TABLES = {
    "arena": "e931d97d4658987ad723c69095733a417f4bbf3e59a4af997ecd3ed10cc1e975",
    "aurora": "63fc40eddbbbabb8de12b834bfa86584bccf74409bf9abc65e851bafb73f8974",
    "Berlin_0_1024": "3de4d6d00a61bf299fd406dce95baf16cb681b60e2e648601252c96b19e97a33",
}


def shared_mesh(name):
    path = NAVMESHES / f"{name}.mesh"
    if not path.exists():
        pytest.skip(f"{path} is absent (the shared navigation meshes lie beside the project)")
    return path


def little_endian(table):
    return table.astype(table.dtype.newbyteorder("<")).tobytes()


def check_rules(mesh):
    nodes, edges, xy = mesh.nodes, mesh.edges, mesh.vertices.tolist()
    assert nodes.dtype.itemsize == 16 and edges.dtype.itemsize == 28 and len(nodes) == len(mesh)
    assert nodes["edge_start"].tolist() == (np.cumsum(nodes["edge_count"]) - nodes["edge_count"]).tolist()
    centroids = []
    for corners in mesh.polygons:
        sum_x = sum_y = 0.0
        for v in corners.tolist():
            sum_x += xy[v][0]
            sum_y += xy[v][1]
        centroids.append((np.float32(sum_x / len(corners)), np.float32(sum_y / len(corners))))
    portals = {}
    for a, corners in enumerate(mesh.polygons):
        assert tuple(nodes[a]["centroid"]) == centroids[a]
        run = edges[nodes[a]["edge_start"]:][:nodes[a]["edge_count"]]
        across = mesh.neighbours[mesh.polygon_offsets[a]:mesh.polygon_offsets[a + 1]].tolist()
        assert run["to"].tolist() == [p for p in across if p != -1]
        sides = [(corners[j - 1], corners[j]) for j, p in enumerate(across) if p != -1]
        for edge, (left, right) in zip(run, sides):
            b = int(edge["to"])
            distance = math.sqrt(sum((float(p) - float(q)) ** 2 for p, q in zip(centroids[a], centroids[b])))
            assert edge["cost"] == math.ceil(distance) and edge["padding"] == 0
            assert tuple(edge["left"]) == tuple(np.float32(xy[left]))
            assert tuple(edge["right"]) == tuple(np.float32(xy[right]))
            portals[a, b] = (tuple(edge["left"]), tuple(edge["right"]))
    # Every portal is the same side seen from both polygons, in opposite directions.
    for (a, b), (left, right) in portals.items():
        assert portals[b, a] == (right, left)


def test_tables_follow_the_mesh_rules():
    check_rules(tools.NavMesh.load(workloads.small_mesh_path()))
    # Mixed sizes, a clockwise polygon and an irrational centroid.
    check_rules(tools.NavMesh.from_polygons(
        [(0, 0), (3, 0), (3, 3), (0, 3), (5.5, 1.7), (4.1, 4.9), (0.1, 7)], [(0, 1, 2, 3), (1, 4, 5, 2), (2, 5, 6, 3)]))


@pytest.mark.parametrize("name", sorted(EARLIER_TABLES))
def test_shared_meshes_give_the_earlier_tables(name):
    mesh = tools.NavMesh.load(shared_mesh(name))
    digest = hashlib.sha256(little_endian(mesh.nodes) + little_endian(mesh.edges)).hexdigest()
    assert digest == EARLIER_TABLES[name]
    if name == "arena":
        check_rules(mesh)


# The build tools and the reader run without the sanitizer runtime that a sanitized run
# of the suite preloads into every process it starts.
PLAIN_ENVIRONMENT = {name: value for name, value in os.environ.items()
                     if name not in ("LD_PRELOAD", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS")}


def mesh_dump_tool():
    """Builds bench/mesh_dump.cpp with the project's flags (once per build directory)."""
    if os.environ.get("PY_SUBPROCESS_PREFIX"):
        pytest.skip("the C++ reader is built for the host, not for an emulated target")
    cmake = shutil.which("cmake", path=os.pathsep.join([str(Path(sys.executable).parent), os.environ.get("PATH", "")]))
    if cmake is None or shutil.which("c++") is None:
        pytest.skip("cmake and a C++ compiler build the benchmark's mesh reader")
    build = ROOT / "build" / "mesh-dump"
    if not (build / "CMakeCache.txt").exists():
        subprocess.run([cmake, "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DWALKMESH_BUILD_MODULE=OFF", "-DWALKMESH_BUILD_BENCH=ON"],
                       check=True, capture_output=True, env=PLAIN_ENVIRONMENT)
    subprocess.run([cmake, "--build", str(build), "--target", "walkmesh_mesh_dump"], check=True, capture_output=True,
                   env=PLAIN_ENVIRONMENT)
    return build / "bench" / "walkmesh_mesh_dump"


def test_the_benchmark_reader_builds_the_same_tables(tmp_path):
    tool = mesh_dump_tool()
    paths = [workloads.small_mesh_path()] + [NAVMESHES / f"{n}.mesh" for n in sorted(EARLIER_TABLES)
                                         if (NAVMESHES / f"{n}.mesh").exists()]
    for path in paths:
        out = tmp_path / "tables"
        subprocess.run([str(tool), str(path), str(out)], check=True, env=PLAIN_ENVIRONMENT)
        data = out.read_bytes()
        node_count, edge_count = np.frombuffer(data[8:24], dtype=np.uint64).tolist()
        mesh = tools.NavMesh.load(path)
        assert data[:8] == b"WMTABLES" and (node_count, edge_count) == (len(mesh.nodes), len(mesh.edges))
        assert data[24:] == mesh.nodes.tobytes() + mesh.edges.tobytes(), path.name


def test_cost_factors_scale_by_the_mean_of_both_polygons():
    square = [(0, 0), (10, 0), (20, 0), (30, 0), (30, 10), (20, 10), (10, 10), (0, 10)]
    polygons = [(0, 1, 6, 7), (1, 2, 5, 6), (2, 3, 4, 5)]
    plain = tools.NavMesh.from_polygons(square, polygons)
    costly = tools.NavMesh.from_polygons(square, polygons, cost_factors=[1.0, 2.5, 1.0])
    assert plain.edges["cost"].tolist() == [10, 10, 10, 10]
    # Into or out of the middle polygon: ceil(10 * (1 + 2.5) / 2).
    assert costly.edges["cost"].tolist() == [18, 18, 18, 18]
    assert tools.validate(costly.nodes, costly.edges) == []
    for factors, words in [([1, 0.5, 1], "polygon 1 has cost factor 0.5"), ([1, float("nan"), 1], "polygon 1"),
                           ([1, 1], "one factor per polygon")]:
        with pytest.raises(ValueError, match=words):
            tools.NavMesh.from_polygons(square, polygons, cost_factors=factors)
