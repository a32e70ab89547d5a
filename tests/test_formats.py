"""Mesh files: the text format (shared meshes and generated ones back exactly),
.npz, triangle meshes through trimesh, and the files each reader refuses."""
import io
import json
import math
import os
import re
import stat
import zipfile
from pathlib import Path

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import walkmesh_tools as tools
import workloads
from conftest import run_python
from walkmesh_tools import atomic, formats

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
    with pytest.raises(ValueError, match=words) as caught:
        tools.NavMesh.load(path)
    assert str(caught.value).startswith(f"{path}: ")
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


# Saves: the format comes from the suffix first, the file is written whole or not at all.

def listing(folder):
    return sorted(p.name for p in folder.iterdir())


@pytest.mark.parametrize("name", ["t.xyz", "t.dae", "t.3mf", "t.dict", "t.MESHX", "no_suffix"])
def test_unsupported_suffixes_are_refused_before_anything_is_opened(tmp_path, name):
    target = tmp_path / name
    target.write_bytes(b"the user's own bytes")
    with pytest.raises(ValueError, match=r"unsupported suffix .*\.mesh, \.npz, \.obj, \.ply, \.stl, \.off, \.glb, "
                                         r"\.gltf$") as caught:
        SMALL.save(target)
    assert str(caught.value).startswith(str(target))
    assert target.read_bytes() == b"the user's own bytes" and listing(tmp_path) == [name]
    with pytest.raises(ValueError, match="unsupported suffix"):
        tools.NavMesh.load(target)


class Interrupted(BaseException):
    pass


@pytest.mark.parametrize("failure", [OSError("disk full"), Interrupted()], ids=["OSError", "BaseException"])
@pytest.mark.parametrize("name", ["mesh.mesh", "mesh.npz", "mesh.obj"])
def test_a_save_that_fails_leaves_the_old_file_and_no_stray_file(tmp_path, monkeypatch, name, failure):
    if name.endswith(".obj"):
        pytest.importorskip("trimesh")
    target = tmp_path / name
    target.write_bytes(b"the user's own bytes")

    def fail(descriptor):
        raise failure

    # The new content is all written by then, to the temporary file.
    monkeypatch.setattr(atomic.os, "fsync", fail)
    with pytest.raises(type(failure)):
        SMALL.save(target)
    assert target.read_bytes() == b"the user's own bytes" and listing(tmp_path) == [name]
    monkeypatch.undo()
    SMALL.save(target)
    assert listing(tmp_path) == [name] and len(tools.NavMesh.load(target)) > 0


def test_a_refused_save_leaves_the_old_file(tmp_path):
    costly = tools.NavMesh.from_polygons(SMALL.vertices, SMALL.polygons, cost_factors=np.full(len(SMALL), 2.0))
    target = tmp_path / "costly.mesh"
    target.write_bytes(b"keep")
    with pytest.raises(ValueError, match="no cost factors"):
        costly.save(target)
    assert target.read_bytes() == b"keep" and listing(tmp_path) == ["costly.mesh"]


@pytest.mark.skipif(not hasattr(os, "symlink") or os.name != "posix", reason="POSIX permissions and links")
def test_saves_keep_permissions_and_write_through_links(tmp_path):
    fresh, kept = tmp_path / "fresh.npz", tmp_path / "kept.npz"
    (tmp_path / "plain").write_bytes(b"")
    kept.write_bytes(b"old")
    os.chmod(kept, 0o640)
    SMALL.save(fresh)
    SMALL.save(kept)
    assert stat.S_IMODE(fresh.stat().st_mode) == stat.S_IMODE((tmp_path / "plain").stat().st_mode)
    assert stat.S_IMODE(kept.stat().st_mode) == 0o640
    link = tmp_path / "link.npz"
    link.symlink_to(kept)
    SMALL.save(link, up="z")
    assert link.is_symlink() and os.readlink(link) == str(kept)
    same_mesh(tools.NavMesh.load(kept), SMALL)


def test_gltf_is_one_self_contained_file(tmp_path):
    pytest.importorskip("trimesh")
    other = tools.NavMesh.from_polygons([(0, 0), (1, 0), (1, 1), (0, 1)], [(0, 1, 2, 3)])
    SMALL.save(tmp_path / "a.gltf")
    first = (tmp_path / "a.gltf").read_bytes()
    other.save(tmp_path / "b.gltf")
    SMALL.save(tmp_path / "c.glb")
    assert listing(tmp_path) == ["a.gltf", "b.gltf", "c.glb"]
    assert (tmp_path / "a.gltf").read_bytes() == first
    assert b"data:application/octet-stream;base64," in first
    agree_on_points(SMALL, tools.NavMesh.load(tmp_path / "a.gltf"))
    agree_on_points(other, tools.NavMesh.load(tmp_path / "b.gltf"))


# Loads: counts a file declares are checked against what it holds; every error names
# the file, and the line, array or face.

LOADER = """
import json, os, resource, sys, tracemalloc
import walkmesh_tools as tools
if {limit}:
    # Far more than a load within bounds takes; a reader that sizes anything by a
    # declared count fails here instead of taking the machine's memory.
    status = open("/proc/self/status").read()
    size = int(status.split("VmSize:")[1].split()[0]) * 1024
    resource.setrlimit(resource.RLIMIT_AS, (size + (1 << 30), resource.getrlimit(resource.RLIMIT_AS)[1]))
results = {{}}
for name, path in {files!r}:
    tracemalloc.start()
    try:
        tools.NavMesh.load(path)
        outcome = ["loaded", ""]
    except Exception as error:
        outcome = [type(error).__name__, str(error)]
    results[name] = outcome + [tracemalloc.get_traced_memory()[1], path]
    tracemalloc.stop()
print(json.dumps(results))
"""


def load_all(files):
    """Loads each file in one fresh interpreter under an address-space limit (not under
    an emulator, which needs address space of its own): {name: (outcome, message,
    peak of traced memory in bytes, path)}."""
    emulated = bool(os.environ.get("PY_SUBPROCESS_PREFIX"))
    result = run_python(LOADER.format(limit=not emulated, files=[(k, str(v)) for k, v in files.items()]))
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


HUGE_COUNTS = [
    ("10^8 vertices", "mesh 2 100000000 0 0 0 0", r"line 1: 100000000 vertices and 0 polygons need at least "
                                                  r"300000000 numbers, but the file holds 3"),
    ("10^12 polygons", "mesh\n2\n0 1000000000000\n7\n", r"line 3: 0 vertices and 1000000000000 polygons need at "
                                                        "least 1000000000000 numbers, but the file holds 1"),
    ("negative count", "mesh 2 -1 0", "line 1: -1 vertices and 0 polygons: a count cannot be negative"),
    ("corner count 10^9", "mesh 2 0 1\n1e9 0 0", "line 2: polygon 0 has 1000000000.0 corners, more than the "
                                                 "file's 3 numbers"),
    ("truncated", "mesh 2 0 2\n3 0 1 2 -1 -1 -1\n\n3 0 1", "line 4: the file ends inside its last record"),
    ("NaN corners", "mesh 2 0 1\nnan", "line 2: polygon 0 has nan corners"),
    ("infinite polygons around", "mesh 2 1 0\n0 0 inf", "line 2: vertex 0 has inf polygons around it"),
    ("negative polygons around", "mesh 2 1 0\n0 0\n-3", "line 3: vertex 0 has -3.0 polygons around it"),
    ("fractional count", "mesh 2 1 0 0 0 0.5", "vertex 0 has 0.5 polygons around it"),
    ("huge corner", TWO_SQUARES + LEFT + "4 1 2 3 1e300 0 -1 -1 -1\n", r"line 11: corners must be integers, not 1e\+300"),
    ("infinite vertex", "mesh 2 1 0\n0 inf 0\n", r"line 2: vertex 0 is at \(0.0, inf\), not a finite point"),
    ("word", TWO_SQUARES + LEFT + "4 1 2 3 4\n0 x -1 -1\n", "line 12: b'x' is not a number"),
    ("joined numbers", "mesh 2 0 0\n\n1-2", "line 3: b'1-2' is not a number"),
    ("no counts", "mesh 2 x y", "line 1: the vertex and polygon counts are not integers"),
]


@pytest.fixture(scope="module")
def declared_loads(tmp_path_factory):
    """Every file of HUGE_COUNTS and BAD_ARRAYS, plus archives whose headers lie and a
    decompression bomb, loaded in one capped interpreter."""
    folder = tmp_path_factory.mktemp("declared")
    files = {}
    for i, (name, text, _) in enumerate(HUGE_COUNTS):
        files[name] = folder / f"text-{i}.mesh"
        files[name].write_text(text)
    for i, (name, arrays, _) in enumerate(BAD_ARRAYS):
        for compressed in (False, True):
            files[name, compressed] = folder / f"arrays-{i}-{compressed}.npz"
            write_npz(files[name, compressed], compressed, **arrays)
    files["lying header"] = folder / "lying.npz"
    write_lying_header(files["lying header"])
    files["bomb"] = folder / "bomb.npz"
    write_bomb(files["bomb"])
    assert files["bomb"].stat().st_size < 100_000
    results = load_all({repr(key): path for key, path in files.items()})
    return {key: results[repr(key)] for key in files}


@pytest.mark.parametrize("name, words", [(case[0], case[2]) for case in HUGE_COUNTS], ids=[case[0] for case in HUGE_COUNTS])
def test_text_counts_are_checked_before_anything_is_sized_by_them(declared_loads, name, words):
    outcome, message, peak, path = declared_loads[name]
    assert outcome == "ValueError" and re.search(words, message), message
    assert message.startswith(f"{path}: ") and peak < 1_000_000


def test_text_files_that_are_not_utf8_name_the_line(tmp_path):
    path = tmp_path / "latin.mesh"
    path.write_bytes(b"mesh\n2\n1 0\n0 \xe9 0\n")
    with pytest.raises(ValueError, match=r"latin.mesh: line 4: not UTF-8 text"):
        tools.NavMesh.load(path)


def write_npz(path, compressed=False, **arrays):
    base = dict(vertices=SMALL.vertices, polygon_offsets=SMALL.polygon_offsets, polygon_corners=SMALL.polygon_corners)
    base.update(arrays)
    (np.savez_compressed if compressed else np.savez)(path, **{k: v for k, v in base.items() if v is not None})


BAD_ARRAYS = [
    ("offsets to 10^9", dict(polygon_offsets=np.array([0, 10**9])), "polygon_offsets: must end at the corner count"),
    ("float offsets", dict(polygon_offsets=SMALL.polygon_offsets.astype(float)),
     r"polygon_offsets: must be integers of shape \(n,\), not float64"),
    ("2-D offsets", dict(polygon_offsets=SMALL.polygon_offsets.reshape(1, -1)), "polygon_offsets: must be integers"),
    ("no offsets", dict(polygon_offsets=np.zeros(0, np.int64)), "polygon_offsets: is empty"),
    ("offsets from 3", dict(polygon_offsets=SMALL.polygon_offsets + 3), "polygon_offsets: must start at 0, not 3"),
    ("falling offsets", dict(polygon_offsets=np.r_[0, 8, 4, SMALL.polygon_offsets[3:]]),
     "polygon_offsets: must not decrease, but polygon 1 ends at 4 before it starts at 8"),
    ("complex vertices", dict(vertices=SMALL.vertices + 1j), "vertices: must be real numbers of shape"),
    ("string vertices", dict(vertices=SMALL.vertices.astype(str)), "vertices: must be real numbers"),
    ("3-D vertices", dict(vertices=np.zeros((3, 3))), r"vertices: must be real numbers of shape \(n, 2\)"),
    ("NaN vertex", dict(vertices=np.r_[SMALL.vertices[:2], [[np.nan, 0]], SMALL.vertices[3:]]),
     r"vertices: vertex 2 is at \(nan, 0.0\), not a finite point"),
    ("corner out of range", dict(polygon_corners=SMALL.polygon_corners + 1000), "polygon_corners: corner 0 names vertex"),
    ("float corners", dict(polygon_corners=SMALL.polygon_corners.astype(np.float32)), "polygon_corners: must be integers"),
    ("object corners", dict(polygon_corners=np.array([1, "a"], dtype=object)), "polygon_corners: holds Python objects"),
    ("short cost factors", dict(cost_factors=np.ones(3)), r"cost_factors: must be real numbers of shape \(19,\)"),
    ("small cost factor", dict(cost_factors=np.full(19, 0.5)), "polygon 0 has cost factor 0.5"),
    ("node dtype", dict(nodes=np.zeros(19), edges=SMALL.edges), "nodes: must be a one-dimensional array of node records"),
    ("missing arrays", dict(vertices=None), "no vertices in the archive"),
]


@pytest.mark.parametrize("compressed", [False, True])
@pytest.mark.parametrize("name, words", [(case[0], case[2]) for case in BAD_ARRAYS], ids=[case[0] for case in BAD_ARRAYS])
def test_npz_arrays_are_checked_and_named(declared_loads, name, words, compressed):
    outcome, message, peak, path = declared_loads[name, compressed]
    assert outcome == "ValueError" and re.search(words, message), message
    assert message.startswith(f"{path}: ") and peak < 2_000_000


def npy_header(shape, dtype):
    out = io.BytesIO()
    np.lib.format.write_array_header_1_0(out, {"descr": np.lib.format.dtype_to_descr(np.dtype(dtype)),
                                               "fortran_order": False, "shape": shape})
    return out.getvalue()


def write_lying_header(path):
    # The header declares 10^9 vertices; the member holds four.
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr("vertices.npy", npy_header((10**9, 2), "<f8") + bytes(64))
        archive.writestr("polygon_offsets.npy", npy_header((1,), "<i8") + bytes(8))
        archive.writestr("polygon_corners.npy", npy_header((0,), "<i8"))


def write_bomb(path):
    count = 2**22
    # 32 MiB of zeros deflate to about 32 KiB; written in pieces, so the test stays small.
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        with archive.open("vertices.npy", "w", force_zip64=True) as member:
            member.write(npy_header((count, 2), "<f4"))
            for _ in range(32):
                member.write(bytes(count * 8 // 32))
        archive.writestr("polygon_offsets.npy", npy_header((1,), "<i8") + bytes(8))
        archive.writestr("polygon_corners.npy", npy_header((0,), "<i8"))


def test_npz_headers_are_checked_before_decompression(declared_loads):
    outcome, message, peak, _ = declared_loads["lying header"]
    assert outcome == "ValueError" and peak < 1_000_000
    assert re.search(r"vertices: its header declares shape \(1000000000, 2\) of float64 \(16000000000 bytes\), but "
                     r"the archive holds 64 bytes of data for it", message), message
    outcome, message, peak, _ = declared_loads["bomb"]
    assert outcome == "ValueError" and "decompression bomb" in message and peak < 1_000_000, message


@pytest.mark.parametrize("method", [zipfile.ZIP_BZIP2, zipfile.ZIP_LZMA])
def test_npz_members_other_than_stored_or_deflated_are_refused(tmp_path, method):
    path = tmp_path / "packed.npz"
    with zipfile.ZipFile(path, "w", method) as archive:
        for name in ["vertices", "polygon_offsets", "polygon_corners"]:
            archive.writestr(f"{name}.npy", npy_header((0,), "<i8"))
    with pytest.raises(ValueError, match=f"{path}: .*: uses zip compression method {method}"):
        tools.NavMesh.load(path)


@pytest.mark.parametrize("damage", ["not a zip", "truncated", "bad crc"])
def test_damaged_archives_name_the_file(tmp_path, damage):
    path = tmp_path / "damaged.npz"
    SMALL.save(path)
    data = bytearray(path.read_bytes())
    if damage == "not a zip":
        data = bytearray(b"just text")
    elif damage == "truncated":
        data = data[:len(data) // 2]
    else:
        at = data.index(b"polygon_corners.npy") + len("polygon_corners.npy") + 200
        data[at] ^= 0xFF
    path.write_bytes(bytes(data))
    with pytest.raises(ValueError, match=f"^{re.escape(str(path))}: .*cannot be read"):
        tools.NavMesh.load(path)


OBJ_FILES = [
    ("missing vertex", "v 0 0 0\nv 1 0 0\nv 0 0 1\nf 1 2 9\n"),
    ("huge index", "v 0 0 0\nv 1 0 0\nv 0 0 1\nf 1 2 99999999999999999999\n"),
    ("negative index", "v 0 0 0\nv 1 0 0\nv 0 0 1\nf 1 2 -7\n"),
    ("garbage", "\x00\xff binary junk f v"),
    ("no faces", "v 0 0 0\n"),
]


@pytest.mark.parametrize("text", [case[1] for case in OBJ_FILES], ids=[case[0] for case in OBJ_FILES])
def test_triangle_mesh_errors_name_the_file(tmp_path, text):
    pytest.importorskip("trimesh")
    path = tmp_path / "level.obj"
    path.write_text(text, encoding="latin-1")
    with pytest.raises(ValueError, match=f"^{re.escape(str(path))}: "):
        tools.NavMesh.load(path)


def test_faces_naming_missing_vertices_are_refused_by_name(tmp_path):
    # Whatever the mesh reader leaves in its faces is checked before it is used.
    from types import SimpleNamespace
    loaded = SimpleNamespace(vertices=np.zeros((3, 3)), faces=np.array([[0, 1, 2], [0, 1, 5]]))
    with pytest.raises(ValueError, match=r"^x.obj: face 1 names vertex 5 \(counting from 0\), but the file has 3"):
        formats._walkable_faces("x.obj", loaded)
    loaded.vertices[1, 2] = np.inf
    with pytest.raises(ValueError, match=r"^x.obj: vertex 1 is at \(0.0, 0.0, inf\), not a finite point"):
        formats._walkable_faces("x.obj", loaded)
