"""Mesh files: the text format (shared meshes and generated ones back exactly),
.npz, triangle meshes through trimesh, and the files each reader refuses."""
import math
from pathlib import Path

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import walkmesh_tools as tools
import workloads

NAVMESHES = Path(__file__).resolve().parent.parent.parent / "shared" / "navmeshes"
SMALL = tools.NavMesh.load(workloads.small_mesh_path())


def same_mesh(a, b):
    assert a.vertices.tobytes() == b.vertices.tobytes()
    assert a.polygon_offsets.tolist() == b.polygon_offsets.tolist()
    assert a.polygon_corners.tolist() == b.polygon_corners.tolist()
    assert a.nodes.tobytes() == b.nodes.tobytes() and a.edges.tobytes() == b.edges.tobytes()


def turned(values, by):
    return values[by:] + values[:by]


@pytest.mark.parametrize("name", ["arena", "aurora", "Berlin_0_1024"])
def test_shared_meshes_are_written_back_as_read(name, tmp_path):
    source = NAVMESHES / f"{name}.mesh"
    if not source.exists():
        pytest.skip(f"{source} is absent")
    mesh = tools.NavMesh.load(source)
    mesh.save(tmp_path / "copy.mesh")
    original, written = source.read_text().splitlines(), (tmp_path / "copy.mesh").read_text().splitlines()
    vertex_lines = slice(3, 3 + len(mesh.vertices))
    assert written[:3] == original[:3] and written[vertex_lines.stop:] == original[vertex_lines.stop:]
    # The polygons around a vertex are the same cycle; only where it starts may differ.
    for ours, theirs in zip(written[vertex_lines], original[vertex_lines]):
        ours, theirs = ours.split(), theirs.split()
        assert ours[:3] == theirs[:3]
        around = theirs[3:]
        assert any(turned(around, k) == ours[3:] for k in range(len(around)))
    same_mesh(mesh, tools.NavMesh.load(tmp_path / "copy.mesh"))


@st.composite
def fans(draw):
    """Triangles around a centre: any doubles, their signs and sizes mixed."""
    n = draw(st.integers(3, 9))
    cx, cy = draw(st.one_of(st.just((-0.0, -0.0)), st.tuples(st.floats(-1e3, 1e3), st.floats(-1e3, 1e3))))
    jitter = draw(st.lists(st.floats(-0.2, 0.2), min_size=n, max_size=n))
    radii = draw(st.lists(st.floats(0.5, 1e3), min_size=n, max_size=n))
    angles = [(2 * math.pi * (i + j)) / n for i, j in enumerate(jitter)]
    vertices = [(cx, cy)] + [(cx + r * math.cos(a), cy + r * math.sin(a)) for r, a in zip(radii, angles)]
    return vertices, [(0, i, i % n + 1) for i in range(1, n + 1)]


@settings(max_examples=60, deadline=None)
@given(fans())
def test_text_and_npz_files_give_the_mesh_back_exactly(tmp_path_factory, fan):
    mesh = tools.NavMesh.from_polygons(*fan)
    assert tools.validate(mesh.nodes, mesh.edges) == []
    folder = tmp_path_factory.mktemp("fan")
    for name in ["fan.mesh", "fan.npz"]:
        mesh.save(folder / name)
        again = tools.NavMesh.load(folder / name)
        same_mesh(mesh, again)
        again.save(folder / ("again" + Path(name).suffix))
    assert (folder / "again.mesh").read_bytes() == (folder / "fan.mesh").read_bytes()


def test_npz_keeps_cost_factors_and_refuses_tables_that_do_not_match(tmp_path):
    mesh = tools.NavMesh.from_polygons(SMALL.vertices, SMALL.polygons, cost_factors=np.linspace(1, 3, len(SMALL)))
    mesh.save(tmp_path / "costly.npz")
    again = tools.NavMesh.load(tmp_path / "costly.npz")
    same_mesh(mesh, again)
    assert again.cost_factors.tolist() == mesh.cost_factors.tolist()
    with pytest.raises(ValueError, match="no cost factors; save the mesh as .npz"):
        mesh.save(tmp_path / "costly.mesh")
    edges = mesh.edges.copy()
    edges["cost"][0] += 1
    arrays = dict(vertices=mesh.vertices, polygon_offsets=mesh.polygon_offsets, polygon_corners=mesh.polygon_corners)
    for name, stored, words in [("tampered.npz", dict(arrays, nodes=mesh.nodes, edges=edges), "stored tables differ"),
                                ("partial.npz", dict(vertices=mesh.vertices), "no polygon_corners, polygon_offsets")]:
        np.savez(tmp_path / name, **stored)
        with pytest.raises(ValueError, match=words):
            tools.NavMesh.load(tmp_path / name)


TWO_SQUARES = "mesh\n2\n6 2\n0 0 2 0 -1\n1 0 3 0 1 -1\n2 0 2 1 -1\n2 1 2 1 -1\n1 1 3 1 0 -1\n0 1 2 0 -1\n"
LEFT, RIGHT = "4 0 1 4 5 -1 -1 1 -1\n", "4 1 2 3 4 0 -1 -1 -1\n"
BAD_FILES = [
    ("header", "mesh\n1\n0 0\n", "not a version 2 mesh file"),
    ("word", TWO_SQUARES + LEFT + "4 1 2 3 4 0 x -1 -1\n", "not a number"),
    ("truncated", TWO_SQUARES + LEFT + "4 1 2 3\n", "ends inside its last record"),
    ("trailing", TWO_SQUARES + LEFT + RIGHT + "7\n", "numbers after its last record"),
    ("negative count", "mesh 2 1 0 0 0 -2 -1", "vertex 0 has -2.0 polygons around it"),
    ("wrong neighbour", TWO_SQUARES + "4 0 1 4 5 -1 -1 -1 -1\n" + RIGHT,
     "polygon 0 lists neighbour -1 across its side 2, but the polygon that shares that side is 1"),
    ("bad polygon", TWO_SQUARES + LEFT + "4 1 2 3 1 0 -1 -1 -1\n", "polygon 1 uses vertex 1 twice"),
]


@pytest.mark.parametrize("text, words", [case[1:] for case in BAD_FILES], ids=[case[0] for case in BAD_FILES])
def test_malformed_text_files_are_refused(tmp_path, text, words):
    path = tmp_path / "bad.mesh"
    path.write_text(text)
    with pytest.raises(ValueError, match=words):
        tools.NavMesh.load(path)
    # The good version of the file reads.
    path.write_text(TWO_SQUARES + LEFT + RIGHT)
    assert len(tools.NavMesh.load(path).edges) == 2


def agree_on_points(a, b, seed=0):
    """Both meshes cover the same ground: every random point is inside both or neither."""
    low, high = a.vertices.min(axis=0) - 1, a.vertices.max(axis=0) + 1
    points = np.random.default_rng(seed).uniform(low, high, (4000, 2))
    assert np.array_equal(a.locate(points) >= 0, b.locate(points) >= 0)


@pytest.mark.parametrize("suffix, up", [(".obj", "y"), (".ply", "z"), (".stl", "x"), (".glb", "y")])
def test_triangle_meshes_through_trimesh(tmp_path, suffix, up):
    pytest.importorskip("trimesh")
    path = tmp_path / f"small{suffix}"
    SMALL.save(path, up=up)
    triangles = tools.NavMesh.load(path, up=up)
    assert len(triangles) == sum(len(p) - 2 for p in SMALL.polygons)
    agree_on_points(SMALL, triangles)
    merged = tools.NavMesh.load(path, up=up, merge=True)
    assert len(merged) <= len(SMALL)
    agree_on_points(SMALL, merged)
    # Seen along another axis the floor is a wall, and nothing is walkable.
    with pytest.raises(ValueError, match="no face has its normal within 45"):
        tools.NavMesh.load(path, up="xyz".replace(up, "")[0])


def test_walls_and_undersides_are_not_walkable(tmp_path):
    trimesh = pytest.importorskip("trimesh")
    floor = [(0, 0, 0), (4, 0, 0), (4, 0, 4), (0, 0, 4)]
    wall = [(0, 0, 0), (4, 0, 0), (4, 3, 0)]
    # A ramp at 30 degrees, a ramp at 60 degrees, and a face seen from below.
    ramp = [(4, 0, 0), (6, 2 / math.sqrt(3), 0), (6, 2 / math.sqrt(3), 4)]
    steep = [(0, 0, 4), (0, 2 * math.sqrt(3), 6), (4, 0, 4)]
    vertices = floor + wall + ramp + steep
    faces = [(0, 3, 2), (0, 2, 1), (4, 5, 6), (7, 9, 8), (10, 11, 12), (0, 1, 2)]
    trimesh.Trimesh(vertices, faces, process=False).export(tmp_path / "level.obj")
    mesh = tools.NavMesh.load(tmp_path / "level.obj")
    assert len(mesh) == 3 and mesh.locate([(1, 1), (5, 1), (1, 5)]).tolist()[2] == -1
    steep_too = tools.NavMesh.load(tmp_path / "level.obj", max_slope=70)
    assert len(steep_too) == 4 and steep_too.locate((1, 5)) >= 0
    with pytest.raises(ValueError, match="up must be 'x', 'y' or 'z'"):
        tools.NavMesh.load(tmp_path / "level.obj", up="w")
