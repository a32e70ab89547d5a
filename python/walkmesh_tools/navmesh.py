"""NavMesh: convex polygons over a vertex array, with the node and edge tables that
`walkmesh.find_path` searches, point location, paths between points, files and a
drawing. Vertices may carry heights: polygons then lie on flat surfaces that may be
stacked in plan (a bridge over a road), queries take points with heights, and paths
come back with the height of the surface under each point."""
from __future__ import annotations

import math
import re
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple, TypeVar, Union, cast, overload

import numpy as np
import numpy.typing as npt

from . import _native, formats, ragged
from .polygons import (CheckedPolygons, PolygonsLike, as_ragged, as_vertices, check_flat, merge_equal_vertices,
                       orient_and_check, side_twins, split_sides_at_corners)
from .tables import build_tables, check_cost_factors

if TYPE_CHECKING:
    # matplotlib is an optional extra: without it, axes are typed as Any.
    from matplotlib.axes import Axes  # type: ignore[import-not-found, unused-ignore]

    import walkmesh

    from .batch import Paths
    from .formats import PathLike
    from .paths import PointLike
    from .progress import ProgressArgument
    from .shapes import ObstaclesLike, ShapeLike

__all__ = ["NavMesh"]

# One point: a walkmesh.Point or a pair of numbers (x, y); on a mesh with heights also
# (x, y, z).
OnePoint = Union["walkmesh.Point", Sequence[float]]
# Many points: an array of shape (..., 2) (or (..., 3) with heights), or nested sequences.
ManyPoints = Union[npt.NDArray[Any], Sequence[Sequence[float]], Sequence[Sequence[Sequence[float]]]]
# What NavMesh.plot draws: a route as find_path returns it, that route after its
# start point, or a (k, 2) array of points such as a straight path.
Drawable = Union[List["walkmesh.Point"], Tuple["PointLike", List["walkmesh.Point"]], npt.ArrayLike]

_Array = TypeVar("_Array", bound=np.ndarray)

# Where meshes are built: polygons that overlap in plan must keep at least this far
# apart in height (two metres, for a level in metres), and a triangle file's walkable
# faces with less headroom under another are dropped.
AGENT_HEIGHT = 2.0
# Where points are located at a height: a surface up to this far above a point counts
# as under it (a foot sunk a little into a floor or a step), a quarter of AGENT_HEIGHT.
MAX_CLIMB = 0.5


def _read_only(array: _Array) -> _Array:
    array.setflags(write=False)
    return array


def _point_array(points: Any, heights: bool = False) -> np.ndarray:
    """Points as float64, (..., 2), or with `heights` also (..., 3)."""
    if hasattr(points, "x") and hasattr(points, "y"):
        points = (points.x, points.y)
    array = np.asarray(points, dtype=np.float64)
    if array.ndim == 0 or array.shape[-1] not in ((2, 3) if heights else (2,)):
        also = ", or 3 with a height (x, y, z)," if heights else ""
        raise ValueError(f"points need 2 coordinates{also} in their last axis, not shape {array.shape}")
    return array


def _agent_height(agent_height: float) -> float:
    value = float(agent_height)
    if not (math.isfinite(value) and value > 0):
        raise ValueError(f"agent_height must be finite and positive, not {agent_height}")
    return value


def _max_climb(max_climb: float) -> float:
    value = float(max_climb)
    if math.isnan(value) or value < 0:
        raise ValueError(f"max_climb must not be negative, not {max_climb}")
    return value


def _text(point: np.ndarray) -> str:
    return "(" + ", ".join(str(float(c)) for c in point) + ")"


def _pair(point: Any) -> Any:
    """A point as a pair of numbers (a walkmesh.Point's fields)."""
    return (point.x, point.y) if hasattr(point, "x") and hasattr(point, "y") else point


def _snap(snap: float) -> float:
    value = float(snap)
    if math.isnan(value) or value < 0:
        raise ValueError(f"snap must not be negative, not {snap}")
    return value


def _beyond(snap: float) -> str:
    return f", farther than snap={snap:g}" if snap > 0 else ""


def _raise_overlap(vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray, neighbours: Optional[np.ndarray],
                   tolerance: float, agent_height: float = AGENT_HEIGHT) -> object:
    """The native mesh of the polygons, after a ValueError naming the first two that
    overlap, if any do (with heights: that overlap in plan less than `agent_height`
    apart in height). Without neighbours (sides that did not pair up), every side
    counts as a wall for the mesh, which is only built for this check."""
    try:
        native = _native_mesh(vertices, offsets, corners,
                              np.full(len(corners), -1, dtype=np.int64) if neighbours is None else neighbours)
    except ValueError:
        if neighbours is None:
            return None
        raise
    overlap = _native.first_overlap(native, tolerance, agent_height)
    if overlap is not None:
        apart = "" if vertices.shape[1] == 2 else f" in plan, less than agent_height={agent_height:g} apart in height"
        raise ValueError(f"polygons {overlap[0]} and {overlap[1]} overlap{apart}")
    return native


def _check_merged(offsets: np.ndarray, corners: np.ndarray) -> None:
    """After near corners became one vertex, no polygon may hold one vertex twice."""
    polygon = ragged.row_of(offsets)
    order = np.lexsort((corners, polygon))
    repeated = (polygon[order][1:] == polygon[order][:-1]) & (corners[order][1:] == corners[order][:-1])
    if np.any(repeated):
        k = int(order[int(np.flatnonzero(repeated)[0])])
        raise ValueError(f"polygon {polygon[k]} has two corners within the tolerance of each other, "
                         f"at vertex {corners[k]}")


def _neighbours(offsets: np.ndarray, twin: np.ndarray) -> np.ndarray:
    """The polygon across each side, -1 where none is."""
    polygon_of_corner = ragged.row_of(offsets)
    across: np.ndarray = np.where(twin >= 0, polygon_of_corner[np.maximum(twin, 0)], -1)
    return across


def _native_mesh(vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray, neighbours: np.ndarray) -> object:
    """What the native queries read: the shortest-path search's index, the point
    locator and, with heights, the surfaces, all built here, once."""
    # Aligned as well as contiguous: an array unpickled from out-of-band buffers (as
    # Dask sends them) may start at any byte, and the native build reads them in place.
    def flat(array: np.ndarray, dtype: Any = np.int64) -> np.ndarray:
        return np.require(array, dtype, ["C", "A"])
    plan = flat(vertices[:, :2], np.float64)
    if vertices.shape[1] == 2:
        return _native.mesh(plan, flat(offsets), flat(corners), flat(neighbours))
    return _native.layered_mesh(plan, flat(offsets), flat(corners), flat(neighbours), flat(vertices[:, 2], np.float64))


class NavMesh:
    """A navigation mesh: `vertices` ((V, 2) float64, or (V, 3) with heights), convex
    counter-clockwise `polygons` (vertex index arrays, counter-clockwise in plan), and
    the tables `nodes` and `edges` (node i is polygon i; see `walkmesh_tools.tables`
    for the rules; always in plan). Arrays are read-only.

    With heights (`heights` is then the vertices' third column, else None) each
    polygon is flat, polygons may overlap in plan where they keep `agent_height` apart
    in height, and they are neighbours only across sides they share in space. Points
    may then be given with a height (x, y, z): a point stands on the polygon whose
    surface is the highest at most `max_climb` above it (0.5 by default); a point
    (x, y) is enough where one level holds it. Paths come back with a third column,
    the height of the surface under each point; their lengths are measured in plan.

    The polygons are also kept ragged: `polygon_offsets` (P + 1) and
    `polygon_corners`, with `neighbours[k]` the polygon across the side that ends at
    corner k (from the corner before it), -1 where there is none.

    >>> import walkmesh_tools as tools
    >>> mesh = tools.NavMesh.from_polygons([(0, 0), (1, 0), (1, 1), (0, 1), (2, 0), (2, 1)],
    ...                                    [(0, 1, 2, 3), (1, 4, 5, 2)])
    >>> len(mesh), len(mesh.edges), mesh.locate([(0.5, 0.5), (1.5, 0.5), (3, 0)]).tolist()
    (2, 2, [0, 1, -1])
    """

    vertices: npt.NDArray[np.float64]
    polygon_offsets: npt.NDArray[np.int64]
    polygon_corners: npt.NDArray[np.int64]
    neighbours: npt.NDArray[np.int64]
    cost_factors: Optional[npt.NDArray[np.float64]]
    nodes: npt.NDArray[np.void]
    edges: npt.NDArray[np.void]

    def __init__(self, vertices: npt.ArrayLike, polygons: PolygonsLike, *,
                 cost_factors: Optional[npt.ArrayLike] = None, tolerance: float = 0.0,
                 agent_height: float = AGENT_HEIGHT) -> None:
        points = as_vertices(vertices)
        tolerance = float(tolerance)
        if not (math.isfinite(tolerance) and tolerance >= 0):
            raise ValueError(f"tolerance must be finite and not negative, not {tolerance}")
        agent_height = _agent_height(agent_height)
        offsets, corners = as_ragged(polygons)
        corners = orient_and_check(points, offsets, corners)
        if points.shape[1] == 3:
            check_flat(points, offsets, corners)
        factors = check_cost_factors(cost_factors, len(offsets) - 1)
        corners = merge_equal_vertices(points, corners, tolerance)
        _check_merged(offsets, corners)
        offsets, corners = split_sides_at_corners(points, offsets, corners, tolerance)
        try:
            twin = side_twins(len(points), offsets, corners)
        except ValueError:
            # A side shared the same way or by three polygons: polygons overlap, and
            # the first overlapping pair says more than the side does.
            _raise_overlap(points, offsets, corners, None, tolerance, agent_height)
            raise
        native = _raise_overlap(points, offsets, corners, _neighbours(offsets, twin), tolerance, agent_height)
        self._build(CheckedPolygons(points, offsets, corners, twin), factors, native)

    @classmethod
    def _from_checked(cls, polygons: CheckedPolygons, cost_factors: Optional[np.ndarray] = None) -> "NavMesh":
        """A mesh of polygons that passed check_polygons (and cost factors that passed
        check_cost_factors), which are not checked again."""
        mesh = cls.__new__(cls)
        mesh._build(polygons, cost_factors)
        return mesh

    def _build(self, polygons: CheckedPolygons, cost_factors: Optional[np.ndarray],
               native: Optional[object] = None) -> None:
        vertices, offsets, corners, twin = polygons
        plan = vertices if vertices.shape[1] == 2 else np.ascontiguousarray(vertices[:, :2])
        nodes, edges = build_tables(plan, offsets, corners, twin, cost_factors)
        self.vertices = _read_only(vertices)
        self.polygon_offsets = _read_only(offsets)
        self.polygon_corners = _read_only(corners)
        self.neighbours = _read_only(_neighbours(offsets, twin))
        self.cost_factors = None if cost_factors is None else _read_only(cost_factors)
        self.nodes = _read_only(nodes)
        self.edges = _read_only(edges)
        # What the exact shortest-path search and the point queries read, checked and
        # indexed once, with the mesh.
        self._mesh = native if native is not None else _native_mesh(vertices, offsets, corners, self.neighbours)
        self._polygons: Optional[List[npt.NDArray[np.int64]]] = None

    @classmethod
    def from_polygons(cls, vertices: npt.ArrayLike, polygons: PolygonsLike, *,
                      cost_factors: Optional[npt.ArrayLike] = None, tolerance: float = 0.0,
                      agent_height: float = AGENT_HEIGHT) -> "NavMesh":
        """A mesh of the given polygons: each a sequence of vertex indices (or one per
        row of a 2-D array), simple and convex, with at least three distinct corners;
        clockwise ones are turned, keeping their first corner first. `cost_factors`,
        one per polygon and each at least 1, scale the cost of the edges into and out
        of it.

        Polygons are joined as level editors draw them: corners at the same point are
        one vertex (the lowest-index one; with `tolerance`, corners within that
        distance), and a corner lying on another polygon's side, strictly between its
        ends, splits that side with a straight corner, so that polygons sharing part of
        a side are neighbours across that part (a T-junction). Polygons that share a
        side then become neighbours.

        Vertices of shape (V, 3) carry heights: polygons are checked in plan and must
        be flat; corners join and split sides only where their heights agree too, so
        polygons are neighbours only across sides they share in space; polygons may
        overlap in plan where their surfaces keep at least `agent_height` apart over
        all the ground they share.

        Raises ValueError naming the first polygon that fails (self-intersecting, not
        convex, without area, not flat, ...), or the first two whose insides overlap.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.from_polygons([(0, 0), (4, 0), (4, 4), (0, 4)], [(0, 2, 1), (0, 2, 3)])
        >>> [p.tolist() for p in mesh.polygons], mesh.edges["cost"].tolist()
        ([[0, 1, 2], [0, 2, 3]], [2, 2])
        >>> # A T-junction: the big square's top side is split where the small ones meet.
        >>> tee = tools.NavMesh.from_polygons([(0, 0), (2, 0), (2, 1), (0, 1), (1, 2), (0, 2), (2, 2), (1, 1)],
        ...                                   [(0, 1, 2, 3), (3, 7, 4, 5), (7, 2, 6, 4)])
        >>> tee.polygons[0].tolist(), tee.neighbours[:5].tolist()
        ([0, 1, 2, 7, 3], [-1, -1, -1, 2, 1])
        """
        return cls(vertices, polygons, cost_factors=cost_factors, tolerance=tolerance, agent_height=agent_height)

    @classmethod
    def from_shapes(cls, walkable: "ShapeLike", obstacles: "ObstaclesLike" = (), *, agent_radius: float = 0.0,
                    merge: bool = True, quad_segs: int = 2) -> "NavMesh":
        """A mesh of the free space: `walkable` shrunk by `agent_radius`, minus the
        `obstacles` grown by it (shapely geometries, or coordinate sequences of outer
        rings). No point of the mesh lies nearer than `agent_radius` to an obstacle or
        to the edge of the walkable area: round offsets are drawn with `quad_segs`
        segments per quarter circle (1 to 64) by polygons that hold the true round
        offset. Obstacles may be lines and points: at radius 0 a line is a wall that
        no path crosses (the mesh is cut along it) and a point blocks nothing; at a
        positive radius both grow like any obstacle. Corners are snapped to a
        precision grid (about 2**-22 of the largest coordinate), so nearly touching
        geometry gives no degenerate polygon.

        The free space is cut into triangles by shapely's constrained Delaunay
        triangulation, which are merged into convex polygons (Hertel-Mehlhorn,
        longest shared sides first) unless `merge` is false. Needs shapely 2.1 or
        later (`pip install 'walkmesh[shapes]'`).

        Raises ValueError naming the walkable area or the obstacle that is not a
        valid shape, or for a radius that is negative or not finite; a mesh that
        still cannot be built names the obstacles near the polygons concerned.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.from_shapes([(0, 0), (10, 0), (10, 10), (0, 10)],
        ...                                  [[(4, 4), (6, 4), (6, 6), (4, 6)]])
        >>> len(mesh), mesh.locate((5, 5)), mesh.locate((1, 1)) >= 0
        (4, -1, True)
        """
        from .shapes import free_space_polygons, obstacles_near
        polygons = free_space_polygons(walkable, obstacles, agent_radius=agent_radius, merge=merge,
                                       quad_segs=quad_segs)
        try:
            return cls._from_checked(polygons)
        except ValueError as error:
            # Name the obstacles around the polygons the error is about.
            named = [int(n) for n in re.findall(r"(?:polygons?|node|and) (\d+)", str(error))]
            vertices, offsets, corners, _ = polygons
            points = np.concatenate([vertices[corners[offsets[i]:offsets[i + 1]]] for i in named
                                     if 0 <= i < len(offsets) - 1] or [np.zeros((0, 2))])
            near = obstacles_near(obstacles, points, 2 * float(agent_radius) + 1e-6 * (1 + np.abs(vertices).max()))
            if not near:
                raise
            raise ValueError(f"{error} (near obstacles {', '.join(map(str, near))})") from error

    @classmethod
    def from_grid(cls, walkable: npt.ArrayLike, *, cell_size: float = 1.0,
                  origin: Tuple[float, float] = (0.0, 0.0)) -> "NavMesh":
        """A mesh of the walkable cells of a 2-D boolean array, row index = y: cell
        (y, x) is the square from `origin` + (x, y) * `cell_size` to `origin` + (x + 1,
        y + 1) * `cell_size`. Each row's runs of walkable cells, stacked with the same
        runs of the rows above, become rectangles; the mesh covers exactly the walkable
        cells, and cells that touch only at a corner are not joined.

        Raises TypeError for an array that is not boolean, ValueError for one that is
        not 2-D or has no walkable cell, or for a cell size or origin that is not finite.

        >>> import numpy as np, walkmesh_tools as tools
        >>> walkable = np.array([[1, 1, 1], [1, 0, 0], [1, 0, 1]], dtype=bool)
        >>> mesh = tools.NavMesh.from_grid(walkable, cell_size=2.0)
        >>> len(mesh), mesh.locate([(5, 1), (1, 5), (3, 3), (5, 5)]).tolist()
        (3, [0, 1, -1, 2])
        >>> len(mesh.find_path((5, 1), (1, 5))) > 0, mesh.find_path((5, 1), (5, 5))
        (True, [])
        """
        from .grids import grid_polygons
        vertices, polygons = grid_polygons(walkable, cell_size, origin)
        return cls(vertices, polygons)

    @classmethod
    def load(cls, path: "PathLike", *, up: str = "y", max_slope: float = 45.0, merge: bool = False,
             agent_height: float = AGENT_HEIGHT) -> "NavMesh":
        """Reads a mesh file, by its suffix: `.mesh` (the text mesh format of the
        shared navigation meshes), `.npz` (as `save` writes it), or a triangle mesh
        read by trimesh (`.obj`, `.ply`, `.stl`, `.off`, `.gltf`, `.glb`; `pip install
        'walkmesh[meshes]'`). A triangle mesh's faces whose normal lies within
        `max_slope` degrees of the `up` axis ("x", "y" or "z") are walkable; the mesh
        keeps them in plan on the other two axes, in order (x and z for "y"), with the
        `up` coordinate as their height; a walkable face with less than `agent_height`
        of headroom under another walkable face is dropped; faces in one plane are
        merged into convex polygons when `merge` is true. A `.map` file (the grid format of the
        pathfinding benchmarks, see `walkmesh_tools.grids`) gives `from_grid` of its
        passable cells. Whatever is wrong with the file, from its suffix to counts it
        cannot hold, is a ValueError naming the file.

        >>> import walkmesh_tools as tools
        >>> len(tools.NavMesh.load(tools._small_mesh_path()))
        19
        """
        return formats.load(cls, path, up=up, max_slope=max_slope, merge=merge, agent_height=agent_height)

    def save(self, path: "PathLike", *, up: str = "y") -> None:
        """Writes the mesh, by the suffix of `path`: `.mesh` (text; loading it gives
        this mesh back exactly, but it cannot hold cost factors or heights), `.npz`
        (vertices, heights, polygons, cost factors and tables), or a triangle mesh
        written by trimesh, with each polygon cut into a fan of triangles, the heights
        on the `up` axis (0 without heights; glTF as one file: `.glb`, or `.gltf` with
        its buffers embedded). Another suffix, or `.mesh` for a mesh with heights, is a
        ValueError naming the format. The file is written whole or not at all: a
        failure leaves an existing file unchanged.

        >>> import os, tempfile, walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> path = os.path.join(tempfile.mkdtemp(), "copy.mesh")
        >>> mesh.save(path)
        >>> bytes(tools.NavMesh.load(path).edges) == bytes(mesh.edges)
        True
        """
        formats.save(self, path, up=up)

    def __getstate__(self) -> Dict[str, Any]:
        # The native mesh is rebuilt from the arrays where the mesh is unpickled.
        state = self.__dict__.copy()
        del state["_mesh"]
        return state

    def __setstate__(self, state: Dict[str, Any]) -> None:
        self.__dict__.update(state)
        self._mesh = _native_mesh(self.vertices, self.polygon_offsets, self.polygon_corners, self.neighbours)

    @property
    def heights(self) -> Optional[npt.NDArray[np.float64]]:
        """The height of each vertex (a view of the third column of `vertices`), or
        None for a mesh in plan only."""
        return self.vertices[:, 2] if self.vertices.shape[1] == 3 else None

    @property
    def polygons(self) -> Sequence[npt.NDArray[np.int64]]:
        """Each polygon's vertex indices, counter-clockwise (views of `polygon_corners`)."""
        if self._polygons is None:
            self._polygons = ragged.rows(self.polygon_offsets, self.polygon_corners)
        return self._polygons

    def __len__(self) -> int:
        return len(self.polygon_offsets) - 1

    def __repr__(self) -> str:
        return f"<NavMesh: {len(self.vertices)} vertices, {len(self)} polygons, {len(self.edges)} edges>"

    @overload
    def locate(self, points: OnePoint, *, max_climb: float = MAX_CLIMB) -> int: ...

    @overload
    def locate(self, points: ManyPoints, *, max_climb: float = MAX_CLIMB) -> npt.NDArray[np.int64]: ...

    def locate(self, points: Union[OnePoint, ManyPoints], *,
               max_climb: float = MAX_CLIMB) -> Union[int, npt.NDArray[np.int64]]:
        """The polygon (node) of each point, -1 where no polygon contains it: the
        lowest-index polygon that holds the point, its boundary included. `points`
        is one point (x, y), which gives an int, or an array of shape (..., 2), which
        gives an int64 array of shape (...).

        On a mesh with heights a point may also be (x, y, z) (arrays (..., 3)): of the
        polygons holding (x, y), the one whose surface there is the highest at most
        `max_climb` above z (the surface nearest at or below the point, or a little
        above it). A point (x, y) that polygons at two heights hold is a ValueError
        asking for its height.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> mesh.locate((1, 1)), mesh.locate([[1, 1], [11, 7], [-5, 0]]).tolist()
        (0, [0, 18, -1])
        """
        array = _point_array(points, self.heights is not None)
        flat = array.reshape(-1, array.shape[-1])
        found = self._locate(flat, max_climb)
        self._refuse_levels(flat, found, "point" if array.ndim > 1 else "the point", numbered=array.ndim > 1)
        return int(found[0]) if array.ndim == 1 else found.reshape(array.shape[:-1])

    def _locate(self, points: np.ndarray, max_climb: float = MAX_CLIMB) -> np.ndarray:
        """The native location of (n, 2) or (n, 3) points; -2 for a point without height
        on two levels."""
        plan = np.ascontiguousarray(points[:, :2])
        if self.heights is None:
            found: np.ndarray = _native.locate(self._mesh, plan, None, 0.0)
            return found
        heights = np.ascontiguousarray(points[:, 2]) if points.shape[1] == 3 else None
        found = _native.locate(self._mesh, plan, heights, _max_climb(max_climb))
        return found

    def _refuse_levels(self, points: np.ndarray, found: np.ndarray, name: str, numbered: bool,
                       numbers: Optional[np.ndarray] = None) -> None:
        """A ValueError for the first point (x, y) that polygons at two heights hold
        (-2 in `found`), named as point i of the query, or as numbers[i]."""
        several = np.flatnonzero(found == -2)
        if len(several) == 0:
            return
        i = int(several[0])
        point = points[i, :2]
        levels = ", ".join(f"{h:g}" for h in _native.levels(self._mesh, (float(point[0]), float(point[1]))))
        label = f"{name} {i if numbers is None else int(numbers[i])}" if numbered else name
        raise ValueError(f"{label} {_text(point)} lies on more than one level of the mesh (at heights {levels}): "
                         f"give it a height, as (x, y, z)")

    def nearest(self, points: Any, *, max_distance: float = math.inf,
                max_climb: float = MAX_CLIMB) -> Tuple[Any, Any, Any]:
        """The nearest point of the mesh to each point, its polygon and the distance:
        a point inside the mesh is its own nearest point (its polygon as `locate`
        gives it, distance 0); outside, the nearest point of the polygons' sides (of
        the lowest-index polygon among equally near ones). Where the mesh lies farther
        than `max_distance`, the polygon is -1, the point NaN and the distance inf.

        `points` is one point (x, y), which gives (float64 array (2,), int, float), or
        an array of shape (..., 2), which gives arrays of shapes (..., 2), (...) and (...).

        On a mesh with heights the nearest points have a third coordinate, their
        height. A point (x, y, z) that `locate` places (with `max_climb`) stands on
        its polygon: its nearest point is the surface under it, at distance 0; any
        other is taken to the nearest point of the polygons in space. A point (x, y)
        is taken to the nearest point in plan; where that lies on two levels, it is a
        ValueError asking for a height.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> point, polygon, distance = mesh.nearest((-3, 1))
        >>> point.tolist(), polygon, distance
        ([0.0, 1.0], 0, 3.0)
        >>> mesh.nearest([(-3, 1), (1, 1)], max_distance=2)[1].tolist()
        [-1, 0]
        """
        limit = float(max_distance)
        if math.isnan(limit) or limit < 0:
            raise ValueError(f"max_distance must not be negative, not {max_distance}")
        array = _point_array(points, self.heights is not None)
        flat = array.reshape(-1, array.shape[-1])
        where, polygon, distance = self._nearest(flat, limit, max_climb)
        self._refuse_levels(flat, polygon, "point" if array.ndim > 1 else "the point", numbered=array.ndim > 1)
        if array.ndim == 1:
            return where[0], int(polygon[0]), float(distance[0])
        shape = array.shape[:-1]
        return where.reshape(shape + (where.shape[-1],)), polygon.reshape(shape), distance.reshape(shape)

    def _nearest(self, points: np.ndarray, limit: float,
                 max_climb: float = MAX_CLIMB) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
        """The native nearest points of (n, 2) or (n, 3) points: (n, 2) without heights,
        (n, 3) with them; polygon -2 for a point without height on two levels."""
        plan = np.ascontiguousarray(points[:, :2])
        layered = self.heights is not None
        heights = np.ascontiguousarray(points[:, 2]) if layered and points.shape[1] == 3 else None
        where, polygon, distance, height = _native.nearest(self._mesh, plan, limit, heights,
                                                           _max_climb(max_climb) if layered else 0.0)
        if layered:
            where = np.column_stack([where, height])
        return where, polygon, distance

    def _place(self, point: "PointLike", name: str, snap: float,
               max_climb: float = MAX_CLIMB) -> Tuple[int, Any]:
        """The polygon of a query point and the point the query uses: the point
        itself, or its nearest point of the mesh within `snap` (in plan, as a pair, on
        a mesh with heights)."""
        layered = self.heights is not None
        if not layered:
            node = _native.place(self._mesh, point)
            if node >= 0:
                return node, point
        if hasattr(point, "x") and hasattr(point, "y"):
            point = (point.x, point.y)
        xy = np.asarray(point, dtype=np.float64)
        if xy.shape != (2,) and not (layered and xy.shape == (3,)):
            shape = "(x, y) or (x, y, z)" if layered else "(x, y)"
            raise ValueError(f"the {name} must be one point {shape}, not shape {xy.shape}")
        if not np.all(np.isfinite(xy)):
            raise ValueError(f"the {name} {_text(xy) if layered else f'({xy[0]}, {xy[1]})'} is not finite")
        if layered:
            located = self._locate(xy[None], max_climb)
            self._refuse_levels(xy[None], located, f"the {name}", numbered=False)
            if located[0] >= 0:
                return int(located[0]), (float(xy[0]), float(xy[1]))
        where, polygon, _ = self._nearest(xy[None], snap, max_climb)
        if polygon[0] >= 0:
            return int(polygon[0]), (float(where[0, 0]), float(where[0, 1]))
        self._refuse_levels(xy[None], polygon, f"the {name}", numbered=False)
        distance = self._nearest(xy[None], math.inf, max_climb)[2][0]
        shown = _text(xy) if layered else f"({xy[0]}, {xy[1]})"
        raise ValueError(f"the {name} {shown} lies in no polygon of the mesh: it is {distance:.6g} "
                         f"from the mesh{_beyond(snap)}")

    def _lift(self, points: np.ndarray, offsets: np.ndarray, polygons: np.ndarray, starts: np.ndarray,
              lasts: np.ndarray) -> np.ndarray:
        """(m, 3) points of paths in plan ((m, 2), path i from offsets[i], reached from
        starts[i] in polygons[i] and ending on polygon lasts[i], -1 for any), each with
        the height of the surface it is reached on; in the dtype of `points`."""
        def indices(array: np.ndarray) -> np.ndarray:
            return np.ascontiguousarray(array, dtype=np.int64)
        heights = _native.lift(self._mesh, indices(offsets), np.ascontiguousarray(points, dtype=np.float64),
                               indices(polygons), np.ascontiguousarray(starts, dtype=np.float64).reshape(-1, 2),
                               indices(lasts))
        lifted: np.ndarray = np.column_stack([points, heights.astype(points.dtype)])
        return lifted

    def _lift_path(self, path: np.ndarray, polygon: int, start: Any, last: int) -> np.ndarray:
        """One path in plan with heights (see _lift)."""
        return self._lift(path, np.array([0, len(path)]), np.array([polygon]), np.array([_pair(start)], dtype=float),
                          np.array([last]))

    def find_path(self, start_point: "PointLike", target_point: "PointLike", *,
                  snap: float = 0.0, max_climb: float = MAX_CLIMB) -> "List[walkmesh.Point]":
        """`walkmesh.find_path` from the polygon of `start_point` to that of
        `target_point`: the portal midpoints crossed, then the target point, as a
        list of `walkmesh.Point`; `[target]` when both points lie in one polygon, and
        an empty list when the target cannot be reached (where `walkmesh.find_path`
        itself answers `[target]`). A point within `snap` of the mesh but outside it
        moves to its nearest point of the mesh; a point farther out is a ValueError
        naming it and its distance to the mesh. On a mesh with heights the points are
        located as `locate` places them (with `max_climb`); a `walkmesh.Point` has no
        height: `find_paths` gives the route with heights.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> [(p.x, p.y) for p in mesh.find_path((1, 1), (5, 1))]
        [(2.0, 1.0), (4.0, 1.0), (5.0, 1.0)]
        """
        import walkmesh
        snap = _snap(snap)
        start, _ = self._place(start_point, "start point", snap, max_climb)
        target, point = self._place(target_point, "target point", snap, max_climb)
        if not isinstance(point, walkmesh.Point):
            point = walkmesh.Point(*point) if not hasattr(point, "x") else walkmesh.Point(point.x, point.y)
        path = walkmesh.find_path(self.nodes, self.edges, start, target, point)
        # A route to another polygon crosses at least one portal.
        return [] if start != target and len(path) == 1 else path

    def straight_path(self, start_point: "PointLike", target_point: "PointLike", *, max_expansions: Optional[int] = None,
                      partial: bool = False, snap: float = 0.0, max_climb: float = MAX_CLIMB) -> np.ndarray:
        """`walkmesh_tools.straight_path` between the polygons of the two points: the
        shortest polyline from `start_point` to `target_point` through the portals of
        the route, as a (k, 2) float32 array ((0, 2) when the target cannot be reached
        and `partial` is false). `snap` is as for `find_path`. On a mesh with heights,
        (k, 3): each point at the height of the surface there, found by following the
        path from polygon to neighbouring polygon.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> mesh.straight_path((1, 1), (11, 7)).tolist()
        [[1.0, 1.0], [6.0, 2.0], [11.0, 7.0]]
        """
        snap = _snap(snap)
        start, start_xy = self._place(start_point, "start point", snap, max_climb)
        target, target_xy = self._place(target_point, "target point", snap, max_climb)
        path: np.ndarray = _native.straight_path(self.nodes, self.edges, start, target, start_xy, target_xy,
                                                 max_expansions, partial)
        # A partial path ends on the node the search came nearest by.
        return path if self.heights is None else self._lift_path(path, start, start_xy, -1 if partial else target)

    def _nodes_of(self, points: npt.ArrayLike, name: str, snap: float = 0.0,
                  max_climb: float = MAX_CLIMB) -> Tuple[np.ndarray, np.ndarray]:
        array = np.array(points, dtype=np.float64)
        layered = self.heights is not None
        if array.ndim != 2 or array.shape[1] not in ((2, 3) if layered else (2,)):
            also = " or (n, 3) with heights" if layered else ""
            raise ValueError(f"the {name}s must have shape (n, 2){also}, not {array.shape}")
        nodes = self._locate(array, max_climb)
        self._refuse_levels(array, nodes, name, numbered=True)
        outside = np.flatnonzero(nodes < 0)
        if len(outside) and snap > 0:
            where, polygon, _ = self._nearest(array[outside], snap, max_climb)
            self._refuse_levels(array[outside], polygon, name, numbered=True, numbers=outside)
            moved = polygon >= 0
            nodes[outside[moved]] = polygon[moved]
            array[outside[moved]] = where[moved][:, :array.shape[1]]
            outside = outside[~moved]
        if len(outside):
            i = int(outside[0])
            distance = self._nearest(array[i:i + 1], math.inf, max_climb)[2][0]
            shown = _text(array[i]) if layered else f"({array[i, 0]}, {array[i, 1]})"
            raise ValueError(f"{name} {i} {shown} lies in no polygon of the mesh: it is "
                             f"{distance:.6g} from the mesh{_beyond(snap)}")
        return nodes, array

    def find_paths(self, start_points: npt.ArrayLike, target_points: npt.ArrayLike, *, straight: bool = False,
                   threads: Optional[int] = None, max_expansions: Optional[int] = None,
                   partial: bool = False, snap: float = 0.0, max_climb: float = MAX_CLIMB) -> "Paths":
        """`walkmesh_tools.find_paths` for query i from `start_points[i]` to
        `target_points[i]` ((n, 2) arrays), each located in the mesh: routes through
        portal midpoints, or straight paths with `straight=True`, as one `Paths`.
        `snap` is as for `find_path`; the first point farther out is a ValueError
        naming it. A route to an unreachable target is that target point alone, as
        `find_paths` gives it, with `reached` false. On a mesh with heights the points
        may be (n, 3), and the paths' points are (m, 3), each at the height of the
        surface there (a lone unreached target on its own polygon).

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> paths = mesh.find_paths([(1, 1), (11, 7)], [(11, 7), (1, 1)], straight=True)
        >>> paths[0].tolist() == mesh.straight_path((1, 1), (11, 7)).tolist(), bool(paths.reached.all())
        (True, True)
        """
        from .batch import Paths, find_paths
        snap = _snap(snap)
        starts, start_xy = self._nodes_of(start_points, "start point", snap, max_climb)
        targets, target_xy = self._nodes_of(target_points, "target point", snap, max_climb)
        if len(starts) != len(targets):
            raise ValueError(f"{len(starts)} start points but {len(targets)} target points")
        paths = find_paths(self.nodes, self.edges, starts, targets, target_xy[:, :2], start_points=start_xy[:, :2],
                           straight=straight, threads=threads, max_expansions=max_expansions, partial=partial)
        if self.heights is None:
            return paths
        # A route that reached nothing is its target alone, on the target's polygon; a
        # partial one ends on the node the search came nearest by.
        from_start = paths.reached | partial
        polygons = np.where(from_start, starts, targets)
        origins = np.where(from_start[:, None], start_xy[:, :2], target_xy[:, :2])
        lasts = np.where(paths.reached | ~from_start, targets, -1)
        return Paths(paths.offsets, self._lift(paths.points, paths.offsets, polygons, origins, lasts), paths.reached)

    def shortest_path(self, start_point: "PointLike", target_point: "PointLike", *, snap: float = 0.0,
                      max_climb: float = MAX_CLIMB) -> np.ndarray:
        """The shortest path from `start_point` to `target_point` through the free
        space of the mesh, as a (k, 2) float64 array: the start point, the corners it
        turns at (mesh vertices, exactly) and the target point; (0, 2) when the target
        cannot be reached. Exact: every side decision is an exact orientation test, so
        points on sides, on vertices, and straight corners are handled as they are.
        Polygons are entered only across the sides the neighbour table joins. `snap`
        is as for `find_path`.

        On a mesh with heights the path is shortest in plan (the length of its
        projection onto the ground, as navigation meshes measure it) and comes back
        as (k, 3): each point at the height of the surface there (a corner at its
        vertex's height).

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> mesh.shortest_path((1, 1), (11, 7)).tolist()
        [[1.0, 1.0], [6.0, 2.0], [11.0, 7.0]]
        """
        snap = _snap(snap)
        start, start_xy = self._place(start_point, "start point", snap, max_climb)
        target, target_xy = self._place(target_point, "target point", snap, max_climb)
        start_xy, target_xy = _pair(start_xy), _pair(target_xy)
        points: np.ndarray = _native.shortest_path(self._mesh, start, start_xy, target, target_xy)[0]
        return points if self.heights is None else self._lift_path(points, start, start_xy, target)

    def shortest_paths(self, start_points: npt.ArrayLike, target_points: npt.ArrayLike, *,
                       threads: Optional[int] = None, progress: "ProgressArgument" = False,
                       snap: float = 0.0, max_climb: float = MAX_CLIMB) -> "Paths":
        """`shortest_path` for query i from `start_points[i]` to `target_points[i]`
        ((n, 2) arrays), on `threads` worker threads (None: the usable cores) with the
        interpreter lock released, as one `Paths` with float64 points and the paths'
        `lengths`; each query's points are exactly what `shortest_path` returns. The
        first point farther than `snap` from the mesh is a ValueError naming it (`snap`
        is as for `find_path`); Ctrl-C stops the workers between queries; `progress`
        is `find_paths`'. On a mesh with heights the points may be (n, 3), the paths'
        points are (m, 3) as `shortest_path` gives them, and `lengths` are in plan.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> paths = mesh.shortest_paths([(1, 1), (11, 7)], [(11, 7), (1, 1)])
        >>> paths[0].tolist(), round(float(paths.lengths[1]), 3)
        ([[1.0, 1.0], [6.0, 2.0], [11.0, 7.0]], 12.17)
        """
        from .batch import Paths, shortest_paths
        snap = _snap(snap)
        starts, start_xy = self._nodes_of(start_points, "start point", snap, max_climb)
        targets, target_xy = self._nodes_of(target_points, "target point", snap, max_climb)
        if len(starts) != len(targets):
            raise ValueError(f"{len(starts)} start points but {len(targets)} target points")
        paths = shortest_paths(self._mesh, starts, start_xy[:, :2], targets, target_xy[:, :2], threads=threads,
                               progress=progress)
        if self.heights is None:
            return paths
        points = self._lift(paths.points, paths.offsets, starts, start_xy[:, :2], targets)
        return Paths(paths.offsets, points, paths.reached, paths.lengths)

    def plot(self, paths: Sequence[Drawable] = (), ax: Optional["Axes"] = None, **style: Any) -> "Axes":
        """Draws the polygons, their portals and `paths` with matplotlib and returns
        the axes (a new figure's when `ax` is None). A path is either a route as
        `find_path` returns it (a list of `walkmesh.Point`, drawn dashed with a dot at
        each portal midpoint), optionally as a pair (start point, route) to draw it
        from its start, or an (k, 2) array of points such as a straight path (drawn
        as a solid line). Each path's start is a ring (a bare route has none: it begins
        at its first portal) and its target a cross, in the path's colour. The legend
        sits to the right of the axes, off the map: save with `bbox_inches="tight"` or
        a constrained layout to keep it in the picture. Keywords: `colors` (one per
        path, cycled), `face_color`, `edge_color`, `portal_color`, `linewidth`. Needs
        matplotlib (`pip install 'walkmesh[plot]'`).

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> route = mesh.find_path((1, 1), (11, 7))
        >>> ax = mesh.plot([((1, 1), route), mesh.straight_path((1, 1), (11, 7))])  # doctest: +SKIP
        """
        from .plot import plot_mesh
        return cast("Axes", plot_mesh(self, paths, ax, **style))
