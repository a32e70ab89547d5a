"""Mesh files: the text mesh format of the shared navigation meshes, NumPy's .npz,
and triangle meshes (OBJ, PLY, STL, OFF, glTF) through trimesh. Heights are kept by
.npz (a `heights` array beside the (V, 2) vertices, which readers of meshes in plan
leave alone) and by every triangle format (on the `up` axis); the text format has
none, and a mesh with heights is not written to it.

The text format (whitespace separated): `mesh`, `2`, the vertex and polygon counts;
per vertex `x y n p_1 .. p_n`, the polygons around it counter-clockwise with -1 for
each gap; per polygon `n v_1 .. v_n p_1 .. p_n`, its corners counter-clockwise and
the neighbour across each side (p_j across v_(j-1) -> v_j, -1 for none). Numbers
are written so that they read back to the same doubles: integral values as
integers, the rest as Python's shortest round-tripping repr. The lists around the
vertices are rebuilt from the polygons, starting from the lowest-index polygon; a
file's own starting points are not kept.
"""
from __future__ import annotations

import io
import math
import os
import re
import warnings
from array import array
from pathlib import Path
from typing import TYPE_CHECKING, Any, Callable, Dict, Optional, Sequence, Tuple, Type, TypeVar, Union, cast

import numpy as np

from .archives import NpzArchive
from .atomic import write_atomically
from . import _native, ragged
from . import polygons as checks
from .polygons import CheckedPolygons, RaggedPolygons, merge_convex, merge_equal_vertices, vertex_fans
from .records import EDGE_DTYPE, NODE_DTYPE

if TYPE_CHECKING:
    from .navmesh import NavMesh

PathLike = Union[str, "os.PathLike[str]"]
Tables = Tuple[np.ndarray, np.ndarray]
T = TypeVar("T")

__all__ = ["SUFFIXES", "load", "save", "read_text", "write_text", "read_npz", "write_npz", "read_triangles"]

TRIANGLE_SUFFIXES = (".obj", ".ply", ".stl", ".off", ".glb", ".gltf")
SUFFIXES = (".mesh", ".npz") + TRIANGLE_SUFFIXES


_SPACE = np.frombuffer(b" \t\n\v\f\r", dtype=np.uint8)
# A number as numpy.fromstring reads it: decimal, with an exponent, or inf and nan.
_NUMBER = re.compile(rb"[+-]?(?:(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?|inf(?:inity)?|nan)", re.IGNORECASE)
_HEADER = re.compile(rb"\s*(\S+)\s+(\S+)\s+(\S+)\s+(\S+)")


def _token_starts(text: bytes) -> np.ndarray:
    """True at each byte where a whitespace-separated token starts."""
    space = np.isin(np.frombuffer(text, dtype=np.uint8), _SPACE)
    starts = ~space
    starts[1:] &= space[:-1]
    return starts


class _TextFile:
    """A text mesh file's bytes, with the numbers after its header and the line where
    any of them stands (worked out only for an error's message)."""

    def __init__(self, path: Path, data: bytes) -> None:
        self.path = path
        self.data = data
        try:
            data.decode("utf-8")
        except UnicodeDecodeError as error:
            raise ValueError(f"{path}: line {self.line_at(error.start)}: not UTF-8 text ({error.reason})") from None
        header = _HEADER.match(data)
        if header is None or header[1] != b"mesh" or header[2] != b"2":
            raise ValueError(f"{path}: not a version 2 mesh file (it starts with 'mesh' and '2')")
        self.counts_line = self.line_at(header.start(3))
        try:
            self.counts = int(header[3]), int(header[4])
        except ValueError:
            raise ValueError(f"{path}: line {self.counts_line}: the vertex and polygon counts are not integers") from None
        self.body = header.end()
        self.numbers = self._numbers(data[self.body:])

    def line_at(self, offset: int) -> int:
        return self.data.count(b"\n", 0, offset) + 1

    def line(self, number: int) -> int:
        """The line of the number at position `number` after the header."""
        starts = np.flatnonzero(_token_starts(self.data[self.body:]))
        return self.line_at(self.body + int(starts[number]))

    def error(self, number: int, text: str) -> ValueError:
        return ValueError(f"{self.path}: line {self.line(number)}: {text}")

    def _numbers(self, body: bytes) -> np.ndarray:
        count = int(np.count_nonzero(_token_starts(body)))
        if count == 0:
            return np.zeros(0)
        numbers = None
        try:
            with warnings.catch_warnings():
                # Older NumPy only warns where newer raises on a token that is no number.
                warnings.simplefilter("error", DeprecationWarning)
                numbers = np.fromstring(body, dtype=np.float64, sep=" ")
        except (ValueError, DeprecationWarning):
            pass
        if numbers is None or len(numbers) != count:
            for k, token in enumerate(re.finditer(rb"\S+", body)):
                if not _NUMBER.fullmatch(token[0]):
                    raise self.error(k, f"{token[0][:40]!r} is not a number")
            raise ValueError(f"{self.path}: a token that is not a number")
        return numbers

    def integers(self, values: np.ndarray, at: np.ndarray, what: str) -> np.ndarray:
        """`values` (the numbers at positions `at`) as int64; each must be an integer."""
        bad = ~(np.abs(values) < 2.0**53) | (values != np.floor(values))
        if np.any(bad):
            k = int(np.flatnonzero(bad)[0])
            raise self.error(int(at[k]), f"{what} must be integers, not {values[k]}")
        return values.astype(np.int64)


def _beyond(count: float, total: int) -> str:
    return f", more than the file's {total} numbers" if count > total else ""


def read_text(path: PathLike) -> Tuple[np.ndarray, RaggedPolygons, np.ndarray]:
    """(vertices, polygons, the neighbour listed across each side)."""
    path = Path(path)
    text = _TextFile(path, path.read_bytes())
    vertex_count, polygon_count = text.counts
    numbers = text.numbers
    total = len(numbers)
    if vertex_count < 0 or polygon_count < 0:
        raise ValueError(f"{path}: line {text.counts_line}: {vertex_count} vertices and {polygon_count} polygons: "
                         "a count cannot be negative")
    # Every vertex takes three numbers at least and every polygon one, so the counts
    # are checked against the numbers there are before anything is sized by them.
    if 3 * vertex_count + polygon_count > total:
        raise ValueError(f"{path}: line {text.counts_line}: {vertex_count} vertices and {polygon_count} polygons "
                         f"need at least {3 * vertex_count + polygon_count} numbers, but the file holds {total}")
    # Indexing a memoryview of the float64 array gives Python floats, without a list of them.
    tokens = cast("Sequence[float]", numbers.data)
    # Each record's length is in the record, so finding them is a walk.
    vertex_at, polygon_at, sizes = array("q"), array("q"), array("q")
    position = 0
    for i in range(vertex_count):
        if position + 3 > total:
            raise text.error(min(position, total - 1), "the file ends inside its last record")
        count = tokens[position + 2]
        if not (0 <= count <= total and count.is_integer()):
            raise text.error(position + 2, f"vertex {i} has {count} polygons around it{_beyond(count, total)}")
        vertex_at.append(position)
        position += 3 + int(count)
    for i in range(polygon_count):
        if position >= total:
            raise text.error(min(position, total - 1), "the file ends inside its last record")
        count = tokens[position]
        if not (0 <= count <= total and count.is_integer()):
            raise text.error(position, f"polygon {i} has {count} corners{_beyond(count, total)}")
        polygon_at.append(position)
        sizes.append(int(count))
        position += 1 + 2 * int(count)
    if position != total:
        what = "ends inside" if position > total else "has numbers after"
        raise text.error(total - 1, f"the file {what} its last record")
    at = np.frombuffer(vertex_at, dtype=np.int64) if vertex_count else np.zeros(0, np.int64)
    vertices = np.stack([numbers[at], numbers[at + 1]], axis=1)
    bad = ~np.isfinite(vertices).all(axis=1)
    if np.any(bad):
        i = int(np.flatnonzero(bad)[0])
        raise text.error(int(at[i]), f"vertex {i} is at {tuple(vertices[i].tolist())}, not a finite point")
    lengths = np.frombuffer(sizes, dtype=np.int64) if polygon_count else np.zeros(0, np.int64)
    offsets = ragged.offsets_from_lengths(lengths)
    row = ragged.row_of(offsets)
    starts = np.frombuffer(polygon_at, dtype=np.int64) if polygon_count else np.zeros(0, np.int64)
    first = starts[row] + 1 + ragged.position_in_row(offsets, row)
    corners = text.integers(numbers[first], first, "corners")
    neighbours = text.integers(numbers[first + lengths[row]], first + lengths[row], "neighbours")
    return vertices, RaggedPolygons(offsets, corners), neighbours


def check_neighbours(path: PathLike, mesh: NavMesh, listed: np.ndarray) -> None:
    """A file's neighbour lists must be those the polygons' shared sides give."""
    differ = listed != mesh.neighbours
    if np.any(differ):
        k = int(np.flatnonzero(differ)[0])
        i = int(np.searchsorted(mesh.polygon_offsets, k, side="right") - 1)
        j = k - int(mesh.polygon_offsets[i])
        raise ValueError(f"{path}: polygon {i} lists neighbour {listed[k]} across its side {j}, but the polygon "
                         f"that shares that side is {mesh.neighbours[k]}")


def _number(value: float) -> str:
    if value.is_integer() and abs(value) < 2.0**53:
        # -0 keeps its sign: it reaches the tables as -0.0.
        return "-0" if value == 0 and math.copysign(1.0, value) < 0 else str(int(value))
    return repr(value)


def write_text(path: PathLike, mesh: NavMesh) -> None:
    if mesh.heights is not None:
        raise ValueError(f"{path}: the text mesh format (.mesh) is two-dimensional and has no heights; save the "
                         "mesh as .npz, or as a triangle mesh (.obj, .ply, .glb, ...)")
    if mesh.cost_factors is not None:
        raise ValueError(f"{path}: the text mesh format has no cost factors; save the mesh as .npz")
    fan_offsets, fan = vertex_fans(mesh.vertices, mesh.polygon_offsets, mesh.polygon_corners, mesh.neighbours)
    lines = ["mesh", "2", f"{len(mesh.vertices)} {len(mesh)}"]
    for (x, y), around in zip(mesh.vertices.tolist(), ragged.rows(fan_offsets, fan)):
        lines.append(" ".join([_number(x), _number(y), str(len(around)), *map(str, around.tolist())]))
    offsets = mesh.polygon_offsets.tolist()
    corners, neighbours = mesh.polygon_corners.tolist(), mesh.neighbours.tolist()
    for begin, end in zip(offsets, offsets[1:]):
        lines.append(" ".join(map(str, [end - begin, *corners[begin:end], *neighbours[begin:end]])))
    write_atomically(path, ("\n".join(lines) + "\n").encode())


def write_npz(path: PathLike, mesh: NavMesh) -> None:
    arrays: Dict[str, Any] = dict(vertices=np.ascontiguousarray(mesh.vertices[:, :2]),
                                  polygon_offsets=mesh.polygon_offsets, polygon_corners=mesh.polygon_corners,
                                  nodes=mesh.nodes, edges=mesh.edges)
    if mesh.heights is not None:
        arrays["heights"] = np.ascontiguousarray(mesh.heights)
    if mesh.cost_factors is not None:
        arrays["cost_factors"] = mesh.cost_factors
    # np.savez appends .npz to a name without it; it writes to an open file instead.
    write_atomically(path, lambda out: np.savez(out, **arrays))


def read_npz(path: PathLike) -> Tuple[np.ndarray, RaggedPolygons, Optional[np.ndarray], Optional[Tables]]:
    """(vertices, with their heights as a third column where the archive has them,
    polygons, cost factors or None, (nodes, edges) or None). Every array's dtype and
    shape are checked from its header before it is decompressed."""
    with NpzArchive(path) as archive:
        missing = {"vertices", "polygon_offsets", "polygon_corners"} - set(archive.names)
        if missing:
            raise ValueError(f"{path}: no {', '.join(sorted(missing))} in the archive")
        wanted = ["vertices", "polygon_offsets", "polygon_corners", "cost_factors", "heights"]
        if {"nodes", "edges"} <= set(archive.names):
            wanted += ["nodes", "edges"]
        headers = archive.headers(wanted)
        offsets_header = headers["polygon_offsets"]
        archive.expect(headers["vertices"], "iuf", 2, (None, 2))
        archive.expect(headers.get("heights"), "iuf", 1, (headers["vertices"].shape[0],))
        archive.expect(offsets_header, "iu", 1)
        archive.expect(headers["polygon_corners"], "iu", 1)
        if offsets_header.shape[0] < 1:
            raise archive.error("polygon_offsets", "is empty; it holds one offset more than there are polygons")
        polygon_count = offsets_header.shape[0] - 1
        archive.expect(headers.get("cost_factors"), "iuf", 1, (polygon_count,))
        for name, dtype in [("nodes", NODE_DTYPE), ("edges", EDGE_DTYPE)]:
            header = headers.get(name)
            if header is not None and (header.dtype != dtype or len(header.shape) != 1):
                raise archive.error(name, f"must be a one-dimensional array of {name[:-1]} records, not "
                                          f"{header.dtype} of shape {header.shape}")
        arrays = {name: archive.read(header) for name, header in headers.items()}
    vertices, offsets, corners = arrays["vertices"], arrays["polygon_offsets"], arrays["polygon_corners"]
    bad = ~np.isfinite(vertices).all(axis=1)
    if np.any(bad):
        i = int(np.flatnonzero(bad)[0])
        raise archive.error("vertices", f"vertex {i} is at {tuple(vertices[i].tolist())}, not a finite point")
    if "heights" in arrays:
        heights = arrays["heights"]
        bad = ~np.isfinite(heights)
        if np.any(bad):
            i = int(np.flatnonzero(bad)[0])
            raise archive.error("heights", f"vertex {i} has height {heights[i]}, not a finite number")
        vertices = np.column_stack([vertices.astype(np.float64), heights.astype(np.float64)])
    if offsets[0] != 0:
        raise archive.error("polygon_offsets", f"must start at 0, not {offsets[0]}")
    falling = offsets[1:] < offsets[:-1]
    if np.any(falling):
        i = int(np.flatnonzero(falling)[0])
        raise archive.error("polygon_offsets", f"must not decrease, but polygon {i} ends at {offsets[i + 1]} "
                                               f"before it starts at {offsets[i]}")
    if offsets[-1] != len(corners):
        raise archive.error("polygon_offsets", f"must end at the corner count ({len(corners)}), not at {offsets[-1]}")
    outside = (corners < 0) | (corners >= len(vertices))
    if np.any(outside):
        k = int(np.flatnonzero(outside)[0])
        raise archive.error("polygon_corners", f"corner {k} names vertex {corners[k]}, but there are "
                                               f"{len(vertices)} vertices")
    polygons = RaggedPolygons(offsets.astype(np.int64), corners.astype(np.int64))
    tables = (arrays["nodes"], arrays["edges"]) if "nodes" in arrays else None
    return vertices.astype(np.float64), polygons, arrays.get("cost_factors"), tables


def check_tables(path: PathLike, mesh: NavMesh, tables: Optional[Tables]) -> None:
    """Tables stored beside the polygons must be the ones the polygons give."""
    if tables is None:
        return
    nodes, edges = tables
    if (nodes.dtype != NODE_DTYPE or edges.dtype != EDGE_DTYPE or nodes.tobytes() != mesh.nodes.tobytes()
            or edges.tobytes() != mesh.edges.tobytes()):
        raise ValueError(f"{path}: the stored tables differ from the ones its polygons give")


def _trimesh(what: str) -> Any:
    try:
        import trimesh
    except ImportError:
        raise ImportError(f"{what} reads and writes triangle meshes with trimesh: "
                          "pip install 'walkmesh[meshes]'") from None
    return trimesh


def _axes(up: str) -> Tuple[int, int, int]:
    axes = {"x": 0, "y": 1, "z": 2}
    if up not in axes:
        raise ValueError(f"up must be 'x', 'y' or 'z', not {up!r}")
    axis = axes[up]
    first, second = [a for a in range(3) if a != axis]
    return axis, first, second


def _walkable_faces(path: PathLike, loaded: Any) -> Tuple[np.ndarray, np.ndarray]:
    """The (V, 3) vertices and (F, 3) faces of what the mesh reader read, checked."""
    points, faces = np.asarray(loaded.vertices), np.asarray(loaded.faces)
    if points.dtype.kind not in "iuf" or points.ndim != 2 or points.shape[1] != 3:
        raise ValueError(f"{path}: the vertices must be real (x, y, z) points, not {points.dtype} of shape "
                         f"{points.shape}")
    bad = ~np.isfinite(points).all(axis=1)
    if np.any(bad):
        i = int(np.flatnonzero(bad)[0])
        raise ValueError(f"{path}: vertex {i} is at {tuple(points[i].tolist())}, not a finite point")
    if faces.size == 0:
        return points.astype(np.float64), np.zeros((0, 3), np.int64)
    if faces.dtype.kind not in "iu" or faces.ndim != 2 or faces.shape[1] != 3:
        raise ValueError(f"{path}: the faces must be triangles of vertex indices, not {faces.dtype} of shape "
                         f"{faces.shape}")
    outside = (faces < 0) | (faces >= len(points))
    if np.any(outside):
        f, j = (int(k) for k in np.argwhere(outside)[0])
        raise ValueError(f"{path}: face {f} names vertex {faces[f, j]} (counting from 0), but the file has "
                         f"{len(points)} vertices")
    return points.astype(np.float64), faces.astype(np.int64)


def _stacked(vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray, agent_height: float) -> np.ndarray:
    """The faces to keep: not the lower of two that overlap in plan less than
    `agent_height` apart in height (the headroom under the upper one)."""
    from .navmesh import _native_mesh
    native = _native_mesh(vertices, offsets, corners, np.full(len(corners), -1, dtype=np.int64))
    keep = np.ones(len(offsets) - 1, dtype=bool)
    keep[_native.stacked(native, agent_height)] = False
    return keep


def read_triangles(path: PathLike, *, up: str = "y", max_slope: float = 45.0, merge: bool = False,
                   agent_height: float = 2.0) -> CheckedPolygons:
    """The checked polygons of a triangle mesh's walkable faces, in plan with their
    heights; faces without the headroom of `agent_height` under another are dropped."""
    axis, first, second = _axes(up)
    trimesh = _trimesh("NavMesh.load")
    path = Path(path)
    data = path.read_bytes()
    # Side files (a .gltf's buffers) are looked up beside the file; nothing else is.
    resolver = trimesh.resolvers.FilePathResolver(path) if path.suffix.lower() == ".gltf" else None
    try:
        loaded = trimesh.load(io.BytesIO(data), file_type=path.suffix.lower()[1:], force="mesh", resolver=resolver)
    except MemoryError:
        raise
    except Exception as error:
        raise ValueError(f"{path}: the mesh reader (trimesh) cannot read it: {type(error).__name__}: "
                         f"{error}") from error
    points, faces = _walkable_faces(path, loaded)
    a, b, c = points[faces[:, 0]], points[faces[:, 1]], points[faces[:, 2]]
    normal = np.cross(b - a, c - a)
    length = np.linalg.norm(normal, axis=1)
    with np.errstate(invalid="ignore", divide="ignore", over="ignore"):
        walkable = normal[:, axis] / length >= math.cos(math.radians(max_slope))
    faces = faces[walkable]
    # Faces that project onto a line cover no ground.
    flat = points[:, [first, second]]
    u, v = flat[faces[:, 1]] - flat[faces[:, 0]], flat[faces[:, 2]] - flat[faces[:, 0]]
    with np.errstate(invalid="ignore", over="ignore"):
        faces = faces[u[:, 0] * v[:, 1] - u[:, 1] * v[:, 0] != 0]
    if len(faces) == 0:
        raise ValueError(f"{path}: no face has its normal within {max_slope} degrees of the {up} axis")
    # Faces that repeat a vertex at one point (as exporters split them per face) join.
    spatial = points[:, [first, second, axis]]
    faces = merge_equal_vertices(spatial, faces.reshape(-1), 0.0).reshape(-1, 3)
    used, corners = np.unique(faces.reshape(-1), return_inverse=True)
    vertices = spatial[used]
    offsets = np.arange(len(faces) + 1, dtype=np.int64) * 3

    def check() -> CheckedPolygons:
        oriented = checks.orient_and_check(vertices, offsets, corners.reshape(-1).astype(np.int64))
        keep = _stacked(vertices, offsets, oriented, agent_height)
        kept = oriented.reshape(-1, 3)[keep].reshape(-1)
        kept_offsets = np.arange(int(keep.sum()) + 1, dtype=np.int64) * 3
        # A corner on another face's side (a T-junction) joins the two across the shared piece.
        kept_offsets, kept = checks.split_sides_at_corners(vertices, kept_offsets, kept)
        return CheckedPolygons(vertices, kept_offsets, kept, checks.side_twins(len(vertices), kept_offsets, kept))

    checked = _named(path, check)
    return merge_convex(checked) if merge else checked


def _triangle_file(mesh: NavMesh, suffix: str, up: str) -> bytes:
    """The mesh as a triangle mesh file's bytes, one fan of triangles per polygon, the
    heights (if any) on the `up` axis."""
    axis, first, second = _axes(up)
    trimesh = _trimesh("NavMesh.save")
    offsets, corners = mesh.polygon_offsets, mesh.polygon_corners
    # A fan per polygon: corner 0 with each pair of following corners.
    triangles = ragged.offsets_from_lengths(ragged.lengths(offsets) - 2)
    polygon = ragged.row_of(triangles)
    step = ragged.position_in_row(triangles, polygon)
    base = offsets[:-1][polygon]
    faces = np.stack([corners[base], corners[base + step + 1], corners[base + step + 2]], axis=1)
    # Straight corners (where sides were split) make triangles without area: left out.
    a, b, c = (mesh.vertices[faces[:, k], :2] for k in range(3))
    faces = faces[(b[:, 0] - a[:, 0]) * (c[:, 1] - a[:, 1]) - (b[:, 1] - a[:, 1]) * (c[:, 0] - a[:, 0]) != 0]
    points = np.zeros((len(mesh.vertices), 3))
    points[:, first], points[:, second] = mesh.vertices[:, 0], mesh.vertices[:, 1]
    if mesh.heights is not None:
        points[:, axis] = mesh.heights
    # Counter-clockwise in the plane faces +up for z and x, -up for y (right-handed axes).
    if up == "y":
        faces = faces[:, ::-1]
    triangles = trimesh.Trimesh(points, faces, process=False)
    if suffix == ".gltf":
        # One self-contained file: the buffers embedded as data URIs, no side files.
        files = triangles.export(file_type="gltf", embed_buffers=True)
        if set(files) != {"model.gltf"}:
            raise RuntimeError(f"trimesh wrote glTF side files {sorted(files)} despite embed_buffers")
        exported = files["model.gltf"]
    else:
        exported = triangles.export(file_type=suffix[1:])
    return exported.encode() if isinstance(exported, str) else bytes(exported)


def _suffix(path: PathLike) -> str:
    suffix = Path(path).suffix.lower()
    if suffix not in SUFFIXES:
        raise ValueError(f"{path}: unsupported suffix {suffix!r}; meshes are read and written as "
                         f"{', '.join(SUFFIXES)}")
    return suffix


def _named(path: Path, build: Callable[[], T]) -> T:
    """Builds from what a file held; the checks' errors name the file."""
    try:
        return build()
    except ValueError as error:
        raise ValueError(f"{path}: {error}") from None


def load(cls: Type[NavMesh], path: PathLike, *, up: str = "y", max_slope: float = 45.0,
         merge: bool = False, agent_height: float = 2.0) -> NavMesh:
    """NavMesh.load: the reader chosen by the suffix, every error naming the file."""
    path = Path(path)
    if path.suffix.lower() == ".map":
        # Grid maps are read, never written.
        from .grids import read_map
        walkable = read_map(path)
        return _named(path, lambda: cls.from_grid(walkable))
    suffix = _suffix(path)
    if suffix == ".mesh":
        vertices, polygons, neighbours = read_text(path)
        mesh = _named(path, lambda: cls(vertices, polygons))
        check_neighbours(path, mesh, neighbours)
        return mesh
    if suffix == ".npz":
        vertices, polygons, factors, tables = read_npz(path)
        mesh = _named(path, lambda: cls(vertices, polygons, cost_factors=factors, agent_height=agent_height))
        check_tables(path, mesh, tables)
        return mesh
    from .navmesh import _agent_height
    checked = read_triangles(path, up=up, max_slope=max_slope, merge=merge, agent_height=_agent_height(agent_height))
    return cls._from_checked(checked)


def save(mesh: NavMesh, path: PathLike, *, up: str = "y") -> None:
    """NavMesh.save: the writer chosen by the suffix before anything is opened; the
    file is written whole, or an existing one is left as it was."""
    suffix = _suffix(path)
    if suffix == ".mesh":
        write_text(path, mesh)
    elif suffix == ".npz":
        write_npz(path, mesh)
    else:
        write_atomically(path, _triangle_file(mesh, suffix, up))
