"""NavMesh: convex polygons over a vertex array, with the node and edge tables that
`walkmesh.find_path` searches, point location, paths between points, files and a
drawing."""
from __future__ import annotations

from typing import TYPE_CHECKING, Any, List, Optional, Sequence, Tuple, TypeVar, Union, cast, overload

import numpy as np
import numpy.typing as npt

from . import formats, ragged
from .locate import PolygonGrid
from .polygons import CheckedPolygons, PolygonsLike, as_ragged, as_vertices, orient_and_check, side_twins
from .tables import build_tables, check_cost_factors

if TYPE_CHECKING:
    # matplotlib is an optional extra: without it, axes are typed as Any.
    from matplotlib.axes import Axes  # type: ignore[import-not-found, unused-ignore]

    import walkmesh

    from .batch import Paths
    from .formats import PathLike
    from .paths import PointLike
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
                 cost_factors: Optional[npt.ArrayLike] = None) -> None:
        points = as_vertices(vertices)
        offsets, corners = as_ragged(polygons)
        corners = orient_and_check(points, offsets, corners)
        factors = check_cost_factors(cost_factors, len(offsets) - 1)
        twin = side_twins(len(points), offsets, corners)
        self._build(CheckedPolygons(points, offsets, corners, twin), factors)

    @classmethod
    def _from_checked(cls, polygons: CheckedPolygons, cost_factors: Optional[np.ndarray] = None) -> "NavMesh":
        """A mesh of polygons that passed check_polygons (and cost factors that passed
        check_cost_factors), which are not checked again."""
        mesh = cls.__new__(cls)
        mesh._build(polygons, cost_factors)
        return mesh

    def _build(self, polygons: CheckedPolygons, cost_factors: Optional[np.ndarray]) -> None:
        vertices, offsets, corners, twin = polygons
        nodes, edges = build_tables(vertices, offsets, corners, twin, cost_factors)
        polygon_of_corner = ragged.row_of(offsets)
        self.vertices = _read_only(vertices)
        self.polygon_offsets = _read_only(offsets)
        self.polygon_corners = _read_only(corners)
        self.neighbours = _read_only(np.where(twin >= 0, polygon_of_corner[np.maximum(twin, 0)], -1))
        self.cost_factors = None if cost_factors is None else _read_only(cost_factors)
        self.nodes = _read_only(nodes)
        self.edges = _read_only(edges)
        self._polygons: Optional[List[npt.NDArray[np.int64]]] = None
        self._grid: Optional[PolygonGrid] = None

    @classmethod
    def from_polygons(cls, vertices: npt.ArrayLike, polygons: PolygonsLike, *,
                      cost_factors: Optional[npt.ArrayLike] = None) -> "NavMesh":
        """A mesh of the given polygons: each a sequence of vertex indices (or one per
        row of a 2-D array), simple and convex, with at least three distinct corners;
        clockwise ones are turned, keeping their first corner first. Polygons that
        share a side by vertex indices are neighbours. `cost_factors`, one per polygon
        and each at least 1, scale the cost of the edges into and out of it.

        Raises ValueError naming the first polygon that fails, or two that overlap.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.from_polygons([(0, 0), (4, 0), (4, 4), (0, 4)], [(0, 2, 1), (0, 2, 3)])
        >>> [p.tolist() for p in mesh.polygons], mesh.edges["cost"].tolist()
        ([[0, 1, 2], [0, 2, 3]], [2, 2])
        """
        return cls(vertices, polygons, cost_factors=cost_factors)

    @classmethod
    def from_shapes(cls, walkable: "ShapeLike", obstacles: "ObstaclesLike" = (), *, agent_radius: float = 0.0,
                    merge: bool = True, quad_segs: int = 2) -> "NavMesh":
        """A mesh of the free space: `walkable` shrunk by `agent_radius`, minus the
        `obstacles` grown by it (shapely geometries or coordinate sequences of outer
        rings; corners of grown shapes are rounded with `quad_segs` segments per
        quarter circle). The free space is cut into triangles by shapely's constrained
        Delaunay triangulation, which are merged into convex polygons (Hertel-Mehlhorn,
        longest shared sides first) unless `merge` is false. Needs shapely 2.1 or
        later (`pip install 'walkmesh[shapes]'`).

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.from_shapes([(0, 0), (10, 0), (10, 10), (0, 10)],
        ...                                  [[(4, 4), (6, 4), (6, 6), (4, 6)]])
        >>> len(mesh), mesh.locate((5, 5)), mesh.locate((1, 1)) >= 0
        (4, -1, True)
        """
        from .shapes import free_space_polygons
        return cls._from_checked(free_space_polygons(walkable, obstacles, agent_radius=agent_radius, merge=merge,
                                                     quad_segs=quad_segs))

    @classmethod
    def load(cls, path: "PathLike", *, up: str = "y", max_slope: float = 45.0, merge: bool = False) -> "NavMesh":
        """Reads a mesh file, by its suffix: `.mesh` (the text mesh format of the
        shared navigation meshes), `.npz` (as `save` writes it), or a triangle mesh
        read by trimesh (`.obj`, `.ply`, `.stl`, `.off`, `.gltf`, `.glb`; `pip install
        'walkmesh[meshes]'`). A triangle mesh's faces whose normal lies within
        `max_slope` degrees of the `up` axis ("x", "y" or "z") are walkable; they are
        projected onto the other two axes, in order (x and z for "y"), and merged into
        convex polygons when `merge` is true. Whatever is wrong with the file, from
        its suffix to counts it cannot hold, is a ValueError naming the file.

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
        if hasattr(points, "x") and hasattr(points, "y"):
            points = (points.x, points.y)
        array = np.asarray(points, dtype=np.float64)
        if array.ndim == 0 or array.shape[-1] != 2:
            raise ValueError(f"points need 2 coordinates in their last axis, not shape {array.shape}")
        if self._grid is None:
            self._grid = PolygonGrid(self.vertices, self.polygon_offsets, self.polygon_corners)
        flat = array.reshape(-1, 2)
        found = self._grid.locate(np.ascontiguousarray(flat[:, 0]), np.ascontiguousarray(flat[:, 1]))
        return int(found[0]) if array.ndim == 1 else found.reshape(array.shape[:-1])

    def _node_of(self, point: "PointLike", name: str) -> Tuple[int, Tuple[float, float]]:
        if hasattr(point, "x") and hasattr(point, "y"):
            point = (point.x, point.y)
        xy = np.asarray(point, dtype=np.float64)
        if xy.shape != (2,):
            raise ValueError(f"the {name} must be one point (x, y), not shape {xy.shape}")
        node = int(self.locate(xy))
        if node < 0:
            raise ValueError(f"the {name} ({xy[0]}, {xy[1]}) lies in no polygon of the mesh")
        return node, (float(xy[0]), float(xy[1]))

    def find_path(self, start_point: "PointLike", target_point: "PointLike") -> "List[walkmesh.Point]":
        """`walkmesh.find_path` from the polygon of `start_point` to that of
        `target_point`: the portal midpoints crossed, then the target point, as a
        list of `walkmesh.Point`. A point in no polygon is a ValueError naming it.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> [(p.x, p.y) for p in mesh.find_path((1, 1), (5, 1))]
        [(2.0, 1.0), (4.0, 1.0), (5.0, 1.0)]
        """
        import walkmesh
        start, _ = self._node_of(start_point, "start point")
        target, (x, y) = self._node_of(target_point, "target point")
        return walkmesh.find_path(self.nodes, self.edges, start, target, walkmesh.Point(x, y))

    def straight_path(self, start_point: "PointLike", target_point: "PointLike", *, max_expansions: Optional[int] = None,
                      partial: bool = False) -> npt.NDArray[np.float32]:
        """`walkmesh_tools.straight_path` between the polygons of the two points: the
        shortest polyline from `start_point` to `target_point` through the portals of
        the route, as a (k, 2) float32 array ((0, 2) when the target cannot be reached
        and `partial` is false). A point in no polygon is a ValueError naming it.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> mesh.straight_path((1, 1), (11, 7)).tolist()
        [[1.0, 1.0], [6.0, 2.0], [11.0, 7.0]]
        """
        from .paths import straight_path
        start, start_xy = self._node_of(start_point, "start point")
        target, target_xy = self._node_of(target_point, "target point")
        return straight_path(self.nodes, self.edges, start, target, start_xy, target_xy,
                             max_expansions=max_expansions, partial=partial)

    def _nodes_of(self, points: npt.ArrayLike, name: str) -> Tuple[npt.NDArray[np.int64], npt.NDArray[np.float64]]:
        array = np.asarray(points, dtype=np.float64)
        if array.ndim != 2 or array.shape[1] != 2:
            raise ValueError(f"the {name}s must have shape (n, 2), not {array.shape}")
        nodes = self.locate(array)
        outside = np.flatnonzero(nodes < 0)
        if len(outside):
            i = int(outside[0])
            raise ValueError(f"{name} {i} ({array[i, 0]}, {array[i, 1]}) lies in no polygon of the mesh")
        return nodes, array

    def find_paths(self, start_points: npt.ArrayLike, target_points: npt.ArrayLike, *, straight: bool = False,
                   threads: Optional[int] = None, max_expansions: Optional[int] = None,
                   partial: bool = False) -> "Paths":
        """`walkmesh_tools.find_paths` for query i from `start_points[i]` to
        `target_points[i]` ((n, 2) arrays), each located in the mesh: routes through
        portal midpoints, or straight paths with `straight=True`, as one `Paths`. The
        first point in no polygon is a ValueError naming it.

        >>> import walkmesh_tools as tools
        >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
        >>> paths = mesh.find_paths([(1, 1), (11, 7)], [(11, 7), (1, 1)], straight=True)
        >>> paths[0].tolist() == mesh.straight_path((1, 1), (11, 7)).tolist(), bool(paths.reached.all())
        (True, True)
        """
        from .batch import find_paths
        starts, start_xy = self._nodes_of(start_points, "start point")
        targets, target_xy = self._nodes_of(target_points, "target point")
        if len(starts) != len(targets):
            raise ValueError(f"{len(starts)} start points but {len(targets)} target points")
        return find_paths(self.nodes, self.edges, starts, targets, target_xy, start_points=start_xy,
                          straight=straight, threads=threads, max_expansions=max_expansions, partial=partial)

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
