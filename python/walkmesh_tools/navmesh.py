"""NavMesh: convex polygons over a vertex array, with the node and edge tables that
`walkmesh.find_path` searches, point location, paths between points, files and a
drawing."""
from __future__ import annotations

import math
import re
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple, TypeVar, Union, cast, overload

import numpy as np
import numpy.typing as npt

from . import _native, formats, ragged
from .polygons import (CheckedPolygons, PolygonsLike, as_ragged, as_vertices, merge_equal_vertices, orient_and_check,
                       side_twins, split_sides_at_corners)
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

# One point: a walkmesh.Point or a pair of numbers (x, y).
OnePoint = Union["walkmesh.Point", Sequence[float]]
# Many points: an array of shape (..., 2), or nested sequences of pairs.
ManyPoints = Union[npt.NDArray[Any], Sequence[Sequence[float]], Sequence[Sequence[Sequence[float]]]]
# What NavMesh.plot draws: a route as find_path returns it, that route after its
# start point, or a (k, 2) array of points such as a straight path.
Drawable = Union[List["walkmesh.Point"], Tuple["PointLike", List["walkmesh.Point"]], npt.ArrayLike]

_Array = TypeVar("_Array", bound=np.ndarray)


def _read_only(array: _Array) -> _Array:
    array.setflags(write=False)
    return array


def _point_array(points: Any) -> np.ndarray:
    if hasattr(points, "x") and hasattr(points, "y"):
        points = (points.x, points.y)
    array = np.asarray(points, dtype=np.float64)
    if array.ndim == 0 or array.shape[-1] != 2:
        raise ValueError(f"points need 2 coordinates in their last axis, not shape {array.shape}")
    return array


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
                   tolerance: float) -> object:
    """The native mesh of the polygons, after a ValueError naming the first two that
    overlap, if any do. Without neighbours (sides that did not pair up), every side
    counts as a wall for the mesh, which is only built for this check."""
    try:
        native = _native_mesh(vertices, offsets, corners,
                              np.full(len(corners), -1, dtype=np.int64) if neighbours is None else neighbours)
    except ValueError:
        if neighbours is None:
            return None
        raise
    overlap = _native.first_overlap(native, tolerance)
    if overlap is not None:
        raise ValueError(f"polygons {overlap[0]} and {overlap[1]} overlap")
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
    """What the native queries read: the shortest-path search's index and the point
    locator, both built here, once."""
    def flat(array: np.ndarray) -> np.ndarray:
        return np.ascontiguousarray(array, dtype=np.int64)
    return _native.mesh(np.ascontiguousarray(vertices, dtype=np.float64), flat(offsets), flat(corners),
                        flat(neighbours))


class NavMesh:
    """A navigation mesh: `vertices` ((V, 2) float64), convex counter-clockwise
    `polygons` (vertex index arrays), and the tables `nodes` and `edges` (node i is
    polygon i; see `walkmesh_tools.tables` for the rules). Arrays are read-only.

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
                 cost_factors: Optional[npt.ArrayLike] = None, tolerance: float = 0.0) -> None:
        points = as_vertices(vertices)
        tolerance = float(tolerance)
        if not (math.isfinite(tolerance) and tolerance >= 0):
            raise ValueError(f"tolerance must be finite and not negative, not {tolerance}")
        offsets, corners = as_ragged(polygons)
        corners = orient_and_check(points, offsets, corners)
        factors = check_cost_factors(cost_factors, len(offsets) - 1)
        corners = merge_equal_vertices(points, corners, tolerance)
        _check_merged(offsets, corners)
        offsets, corners = split_sides_at_corners(points, offsets, corners, tolerance)
        try:
            twin = side_twins(len(points), offsets, corners)
        except ValueError:
            # A side shared the same way or by three polygons: polygons overlap, and
            # the first overlapping pair says more than the side does.
            _raise_overlap(points, offsets, corners, None, tolerance)
            raise
        native = _raise_overlap(points, offsets, corners, _neighbours(offsets, twin), tolerance)
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
        nodes, edges = build_tables(vertices, offsets, corners, twin, cost_factors)
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
                      cost_factors: Optional[npt.ArrayLike] = None, tolerance: float = 0.0) -> "NavMesh":
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

        Raises ValueError naming the first polygon that fails (self-intersecting, not
        convex, without area, ...), or the first two whose insides overlap.

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
        return cls(vertices, polygons, cost_factors=cost_factors, tolerance=tolerance)

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
    def load(cls, path: "PathLike", *, up: str = "y", max_slope: float = 45.0, merge: bool = False) -> "NavMesh":
        """Reads a mesh file, by its suffix: `.mesh` (the text mesh format of the
        shared navigation meshes), `.npz` (as `save` writes it), or a triangle mesh
        read by trimesh (`.obj`, `.ply`, `.stl`, `.off`, `.gltf`, `.glb`; `pip install
        'walkmesh[meshes]'`). A triangle mesh's faces whose normal lies within
        `max_slope` degrees of the `up` axis ("x", "y" or "z") are walkable; they are
        projected onto the other two axes, in order (x and z for "y"), and merged into
        convex polygons when `merge` is true. A `.map` file (the grid format of the
        pathfinding benchmarks, see `walkmesh_tools.grids`) gives `from_grid` of its
        passable cells. Whatever is wrong with the file, from its suffix to counts it
        cannot hold, is a ValueError naming the file.

        >>> import walkmesh_tools as tools
        >>> len(tools.NavMesh.load(tools._small_mesh_path()))
        19
        """
        return formats.load(cls, path, up=up, max_slope=max_slope, merge=merge)

    def save(self, path: "PathLike", *, up: str = "y") -> None:
        """Writes the mesh, by the suffix of `path`: `.mesh` (text; loading it gives
        this mesh back exactly, but it cannot hold cost factors), `.npz` (vertices,
        polygons, cost factors and tables), or a triangle mesh written by trimesh,
        with each polygon cut into a fan of triangles in the plane where the `up`
        coordinate is 0 (glTF as one file: `.glb`, or `.gltf` with its buffers
        embedded). Another suffix is a ValueError listing the supported ones. The file
        is written whole or not at all: a failure leaves an existing file unchanged.

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
    def locate(self, points: OnePoint) -> int: ...

    @overload
    def locate(self, points: ManyPoints) -> npt.NDArray[np.int64]: ...

    def locate(self, points: Union[OnePoint, ManyPoints]) -> Union[int, npt.NDArray[np.int64]]:
        """The polygon (node) of each point, -1 where no polygon contains it: the
        lowest-index polygon that holds the point, its boundary included. `points`
        is one point (x, y), which gives an int, or an array of shape (..., 2), which
        gives an int64 array of shape (...).

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> mesh.locate((1, 1)), mesh.locate([[1, 1], [11, 7], [-5, 0]]).tolist()
        (0, [0, 18, -1])
        """
        array = _point_array(points)
        found = _native.locate(self._mesh, np.ascontiguousarray(array.reshape(-1, 2)))
        return int(found[0]) if array.ndim == 1 else found.reshape(array.shape[:-1])

    def nearest(self, points: Any, *, max_distance: float = math.inf) -> Tuple[Any, Any, Any]:
        """The nearest point of the mesh to each point, its polygon and the distance:
        a point inside the mesh is its own nearest point (its polygon as `locate`
        gives it, distance 0); outside, the nearest point of the polygons' sides (of
        the lowest-index polygon among equally near ones). Where the mesh lies farther
        than `max_distance`, the polygon is -1, the point NaN and the distance inf.

        `points` is one point (x, y), which gives (float64 array (2,), int, float), or
        an array of shape (..., 2), which gives arrays of shapes (..., 2), (...) and (...).

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
        array = _point_array(points)
        where, polygon, distance = _native.nearest(self._mesh, np.ascontiguousarray(array.reshape(-1, 2)), limit)
        if array.ndim == 1:
            return where[0], int(polygon[0]), float(distance[0])
        shape = array.shape[:-1]
        return where.reshape(shape + (2,)), polygon.reshape(shape), distance.reshape(shape)

    def _place(self, point: "PointLike", name: str, snap: float) -> Tuple[int, Any]:
        """The polygon of a query point and the point the query uses: the point
        itself, or its nearest point of the mesh within `snap`."""
        node = _native.place(self._mesh, point)
        if node >= 0:
            return node, point
        if hasattr(point, "x") and hasattr(point, "y"):
            point = (point.x, point.y)
        xy = np.asarray(point, dtype=np.float64)
        if xy.shape != (2,):
            raise ValueError(f"the {name} must be one point (x, y), not shape {xy.shape}")
        if not np.all(np.isfinite(xy)):
            raise ValueError(f"the {name} ({xy[0]}, {xy[1]}) is not finite")
        where, node, distance = self.nearest(xy, max_distance=snap)
        if node >= 0:
            return node, (float(where[0]), float(where[1]))
        distance = self.nearest(xy)[2]
        raise ValueError(f"the {name} ({xy[0]}, {xy[1]}) lies in no polygon of the mesh: it is {distance:.6g} "
                         f"from the mesh{_beyond(snap)}")

    def find_path(self, start_point: "PointLike", target_point: "PointLike", *,
                  snap: float = 0.0) -> "List[walkmesh.Point]":
        """`walkmesh.find_path` from the polygon of `start_point` to that of
        `target_point`: the portal midpoints crossed, then the target point, as a
        list of `walkmesh.Point`; `[target]` when both points lie in one polygon, and
        an empty list when the target cannot be reached (where `walkmesh.find_path`
        itself answers `[target]`). A point within `snap` of the mesh but outside it
        moves to its nearest point of the mesh; a point farther out is a ValueError
        naming it and its distance to the mesh.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> [(p.x, p.y) for p in mesh.find_path((1, 1), (5, 1))]
        [(2.0, 1.0), (4.0, 1.0), (5.0, 1.0)]
        """
        import walkmesh
        snap = _snap(snap)
        start, _ = self._place(start_point, "start point", snap)
        target, point = self._place(target_point, "target point", snap)
        if not isinstance(point, walkmesh.Point):
            point = walkmesh.Point(*point) if not hasattr(point, "x") else walkmesh.Point(point.x, point.y)
        path = walkmesh.find_path(self.nodes, self.edges, start, target, point)
        # A route to another polygon crosses at least one portal.
        return [] if start != target and len(path) == 1 else path

    def straight_path(self, start_point: "PointLike", target_point: "PointLike", *, max_expansions: Optional[int] = None,
                      partial: bool = False, snap: float = 0.0) -> np.ndarray:
        """`walkmesh_tools.straight_path` between the polygons of the two points: the
        shortest polyline from `start_point` to `target_point` through the portals of
        the route, as a (k, 2) float32 array ((0, 2) when the target cannot be reached
        and `partial` is false). `snap` is as for `find_path`.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> mesh.straight_path((1, 1), (11, 7)).tolist()
        [[1.0, 1.0], [6.0, 2.0], [11.0, 7.0]]
        """
        snap = _snap(snap)
        start, start_xy = self._place(start_point, "start point", snap)
        target, target_xy = self._place(target_point, "target point", snap)
        return _native.straight_path(self.nodes, self.edges, start, target, start_xy, target_xy, max_expansions,
                                     partial)

    def _nodes_of(self, points: npt.ArrayLike, name: str, snap: float = 0.0) -> Tuple[np.ndarray, np.ndarray]:
        array = np.array(points, dtype=np.float64)
        if array.ndim != 2 or array.shape[1] != 2:
            raise ValueError(f"the {name}s must have shape (n, 2), not {array.shape}")
        nodes = self.locate(array)
        outside = np.flatnonzero(nodes < 0)
        if len(outside) and snap > 0:
            where, polygon, _ = self.nearest(array[outside], max_distance=snap)
            moved = polygon >= 0
            nodes[outside[moved]] = polygon[moved]
            array[outside[moved]] = where[moved]
            outside = outside[~moved]
        if len(outside):
            i = int(outside[0])
            distance = self.nearest(array[i])[2]
            raise ValueError(f"{name} {i} ({array[i, 0]}, {array[i, 1]}) lies in no polygon of the mesh: it is "
                             f"{distance:.6g} from the mesh{_beyond(snap)}")
        return nodes, array

    def find_paths(self, start_points: npt.ArrayLike, target_points: npt.ArrayLike, *, straight: bool = False,
                   threads: Optional[int] = None, max_expansions: Optional[int] = None,
                   partial: bool = False, snap: float = 0.0) -> "Paths":
        """`walkmesh_tools.find_paths` for query i from `start_points[i]` to
        `target_points[i]` ((n, 2) arrays), each located in the mesh: routes through
        portal midpoints, or straight paths with `straight=True`, as one `Paths`.
        `snap` is as for `find_path`; the first point farther out is a ValueError
        naming it. A route to an unreachable target is that target point alone, as
        `find_paths` gives it, with `reached` false.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> paths = mesh.find_paths([(1, 1), (11, 7)], [(11, 7), (1, 1)], straight=True)
        >>> paths[0].tolist() == mesh.straight_path((1, 1), (11, 7)).tolist(), bool(paths.reached.all())
        (True, True)
        """
        from .batch import find_paths
        snap = _snap(snap)
        starts, start_xy = self._nodes_of(start_points, "start point", snap)
        targets, target_xy = self._nodes_of(target_points, "target point", snap)
        if len(starts) != len(targets):
            raise ValueError(f"{len(starts)} start points but {len(targets)} target points")
        return find_paths(self.nodes, self.edges, starts, targets, target_xy, start_points=start_xy,
                          straight=straight, threads=threads, max_expansions=max_expansions, partial=partial)

    def shortest_path(self, start_point: "PointLike", target_point: "PointLike", *, snap: float = 0.0) -> np.ndarray:
        """The shortest path from `start_point` to `target_point` through the free
        space of the mesh, as a (k, 2) float64 array: the start point, the corners it
        turns at (mesh vertices, exactly) and the target point; (0, 2) when the target
        cannot be reached. Exact: every side decision is an exact orientation test, so
        points on sides, on vertices, and straight corners are handled as they are.
        Polygons are entered only across the sides the neighbour table joins. `snap`
        is as for `find_path`.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> mesh.shortest_path((1, 1), (11, 7)).tolist()
        [[1.0, 1.0], [6.0, 2.0], [11.0, 7.0]]
        """
        snap = _snap(snap)
        start, start_xy = self._place(start_point, "start point", snap)
        target, target_xy = self._place(target_point, "target point", snap)
        start_xy, target_xy = _pair(start_xy), _pair(target_xy)
        points: np.ndarray = _native.shortest_path(self._mesh, start, start_xy, target, target_xy)[0]
        return points

    def shortest_paths(self, start_points: npt.ArrayLike, target_points: npt.ArrayLike, *,
                       threads: Optional[int] = None, progress: "ProgressArgument" = False,
                       snap: float = 0.0) -> "Paths":
        """`shortest_path` for query i from `start_points[i]` to `target_points[i]`
        ((n, 2) arrays), on `threads` worker threads (None: the usable cores) with the
        interpreter lock released, as one `Paths` with float64 points and the paths'
        `lengths`; each query's points are exactly what `shortest_path` returns. The
        first point farther than `snap` from the mesh is a ValueError naming it (`snap`
        is as for `find_path`); Ctrl-C stops the workers between queries; `progress`
        is `find_paths`'.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> paths = mesh.shortest_paths([(1, 1), (11, 7)], [(11, 7), (1, 1)])
        >>> paths[0].tolist(), round(float(paths.lengths[1]), 3)
        ([[1.0, 1.0], [6.0, 2.0], [11.0, 7.0]], 12.17)
        """
        from .batch import shortest_paths
        snap = _snap(snap)
        starts, start_xy = self._nodes_of(start_points, "start point", snap)
        targets, target_xy = self._nodes_of(target_points, "target point", snap)
        if len(starts) != len(targets):
            raise ValueError(f"{len(starts)} start points but {len(targets)} target points")
        return shortest_paths(self._mesh, starts, start_xy, targets, target_xy, threads=threads, progress=progress)

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
