"""Mesh files: the text mesh format of the shared navigation meshes, NumPy's .npz,
and triangle meshes (OBJ, PLY, STL, OFF, glTF) through trimesh.

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

import math
import os
import warnings
from pathlib import Path
from typing import TYPE_CHECKING, Any, Dict, Optional, Tuple, Union

import numpy as np

from . import ragged
from .polygons import CheckedPolygons, RaggedPolygons, check_polygons, merge_convex, vertex_fans
from .records import EDGE_DTYPE, NODE_DTYPE

if TYPE_CHECKING:
    from .navmesh import NavMesh

PathLike = Union[str, "os.PathLike[str]"]
Tables = Tuple[np.ndarray, np.ndarray]

__all__ = ["read_text", "write_text", "read_npz", "write_npz", "read_triangles", "write_triangles"]


def _numbers(path: Path, text: str) -> np.ndarray:
    if not text.strip():
        return np.zeros(0)
    try:
        with warnings.catch_warnings():
            # Older NumPy only warns where newer raises on a token that is no number.
            warnings.simplefilter("error", DeprecationWarning)
            return np.fromstring(text, dtype=np.float64, sep=" ")
    except (ValueError, DeprecationWarning):
        raise ValueError(f"{path}: a token that is not a number") from None


def _integers(path: Path, values: np.ndarray, what: str) -> np.ndarray:
    if not np.all(values == np.floor(values)):
        raise ValueError(f"{path}: {what} must be integers")
    return values.astype(np.int64)


def read_text(path: PathLike) -> Tuple[np.ndarray, RaggedPolygons, np.ndarray]:
    """(vertices, polygons, the neighbour listed across each side)."""
    path = Path(path)
    head = path.read_text().split(None, 4)
    if len(head) < 4 or head[0] != "mesh" or head[1] != "2":
        raise ValueError(f"{path}: not a version 2 mesh file (it starts with 'mesh' and '2')")
    try:
        vertex_count, polygon_count = int(head[2]), int(head[3])
    except ValueError:
        raise ValueError(f"{path}: the vertex and polygon counts are not integers") from None
    numbers = _numbers(path, head[4] if len(head) > 4 else "")
    tokens = numbers.tolist()
    # Each record's length is in the record, so finding them is a walk.
    vertex_at = [0] * vertex_count
    polygon_at = [0] * polygon_count
    sizes = [0] * polygon_count
    position = 0
    try:
        for i in range(vertex_count):
            vertex_at[i] = position
            count = tokens[position + 2]
            if count < 0 or count != int(count):
                raise ValueError(f"{path}: vertex {i} has {count} polygons around it")
            position += 3 + int(count)
        for i in range(polygon_count):
            polygon_at[i] = position
            count = tokens[position]
            if count < 0 or count != int(count):
                raise ValueError(f"{path}: polygon {i} has {count} corners")
            sizes[i] = int(count)
            position += 1 + 2 * sizes[i]
    except IndexError:
        raise ValueError(f"{path}: the file ends inside its last record") from None
    if position != len(tokens):
        what = "ends inside" if position > len(tokens) else "has numbers after"
        raise ValueError(f"{path}: the file {what} its last record")
    at = np.array(vertex_at, dtype=np.int64)
    vertices = np.stack([numbers[at], numbers[at + 1]], axis=1) if vertex_count else np.zeros((0, 2))
    lengths = np.array(sizes, dtype=np.int64)
    offsets = ragged.offsets_from_lengths(lengths)
    row = ragged.row_of(offsets)
    first = np.array(polygon_at, dtype=np.int64)[row] + 1 + ragged.position_in_row(offsets, row)
    corners = _integers(path, numbers[first], "corners")
    neighbours = _integers(path, numbers[first + lengths[row]], "neighbours")
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
    Path(path).write_text("\n".join(lines) + "\n")


def write_npz(path: PathLike, mesh: NavMesh) -> None:
    arrays: Dict[str, Any] = dict(vertices=mesh.vertices, polygon_offsets=mesh.polygon_offsets,
                  polygon_corners=mesh.polygon_corners, nodes=mesh.nodes, edges=mesh.edges)
    if mesh.cost_factors is not None:
        arrays["cost_factors"] = mesh.cost_factors
    # np.savez appends .npz to a name without it; write to an open file instead.
    with open(path, "wb") as out:
        np.savez(out, **arrays)


def read_npz(path: PathLike) -> Tuple[np.ndarray, RaggedPolygons, Optional[np.ndarray], Optional[Tables]]:
    """(vertices, polygons, cost factors or None, (nodes, edges) or None)."""
    with np.load(path, allow_pickle=False) as data:
        missing = {"vertices", "polygon_offsets", "polygon_corners"} - set(data.files)
        if missing:
            raise ValueError(f"{path}: no {', '.join(sorted(missing))} in the archive")
        tables = (data["nodes"], data["edges"]) if {"nodes", "edges"} <= set(data.files) else None
        factors = data["cost_factors"] if "cost_factors" in data.files else None
        return data["vertices"], RaggedPolygons(data["polygon_offsets"], data["polygon_corners"]), factors, tables


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


def read_triangles(path: PathLike, *, up: str = "y", max_slope: float = 45.0,
                   merge: bool = False) -> CheckedPolygons:
    """The checked polygons of a triangle mesh's walkable faces, projected."""
    axis, first, second = _axes(up)
    trimesh = _trimesh("NavMesh.load")
    loaded = trimesh.load(str(path), force="mesh")
    points = np.asarray(loaded.vertices, dtype=np.float64)
    faces = np.asarray(loaded.faces, dtype=np.int64).reshape(-1, 3)
    a, b, c = points[faces[:, 0]], points[faces[:, 1]], points[faces[:, 2]]
    normal = np.cross(b - a, c - a)
    length = np.linalg.norm(normal, axis=1)
    with np.errstate(invalid="ignore", divide="ignore"):
        walkable = normal[:, axis] / length >= math.cos(math.radians(max_slope))
    faces = faces[walkable]
    # Faces that project onto a line cover no ground.
    flat = points[:, [first, second]]
    u, v = flat[faces[:, 1]] - flat[faces[:, 0]], flat[faces[:, 2]] - flat[faces[:, 0]]
    faces = faces[u[:, 0] * v[:, 1] - u[:, 1] * v[:, 0] != 0]
    if len(faces) == 0:
        raise ValueError(f"{path}: no face has its normal within {max_slope} degrees of the {up} axis")
    used, corners = np.unique(faces.reshape(-1), return_inverse=True)
    vertices = flat[used]
    offsets = np.arange(len(faces) + 1, dtype=np.int64) * 3
    polygons = check_polygons(vertices, offsets, corners.reshape(-1).astype(np.int64))
    return merge_convex(polygons) if merge else polygons


def write_triangles(path: PathLike, mesh: NavMesh, *, up: str = "y") -> None:
    axis, first, second = _axes(up)
    trimesh = _trimesh("NavMesh.save")
    offsets, corners = mesh.polygon_offsets, mesh.polygon_corners
    # A fan per polygon: corner 0 with each pair of following corners.
    triangles = ragged.offsets_from_lengths(ragged.lengths(offsets) - 2)
    polygon = ragged.row_of(triangles)
    step = ragged.position_in_row(triangles, polygon)
    base = offsets[:-1][polygon]
    faces = np.stack([corners[base], corners[base + step + 1], corners[base + step + 2]], axis=1)
    points = np.zeros((len(mesh.vertices), 3))
    points[:, first], points[:, second] = mesh.vertices[:, 0], mesh.vertices[:, 1]
    # Counter-clockwise in the plane faces +up for z and x, -up for y (right-handed axes).
    if up == "y":
        faces = faces[:, ::-1]
    trimesh.Trimesh(points, faces, process=False).export(str(path))
