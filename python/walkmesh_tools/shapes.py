"""From level geometry to convex polygons with shapely: the free space left to an
agent of some radius, cut into triangles by shapely's constrained Delaunay
triangulation, merged into convex polygons."""
from __future__ import annotations

import math
from typing import TYPE_CHECKING, Any, Iterable, List, Sequence, Union, cast

import numpy as np
import numpy.typing as npt

from .arguments import index_argument
from .polygons import CheckedPolygons, check_polygons, merge_convex, split_sides_at_corners

if TYPE_CHECKING:
    from shapely import Geometry

__all__ = ["ShapeLike", "ObstaclesLike", "free_space", "free_space_polygons", "precision_grid", "obstacles_near"]

# A shape: a shapely geometry, or the points (x, y) of a polygon's outer ring.
ShapeLike = Union["Geometry", Sequence[Sequence[float]], npt.NDArray[np.floating]]
# Obstacles: one shapely geometry, or any number of shapes.
ObstaclesLike = Union["Geometry", Iterable[ShapeLike]]


def _shapely() -> Any:
    try:
        import shapely
    except ImportError:
        raise ImportError("NavMesh.from_shapes needs shapely 2.1 or later: pip install 'walkmesh[shapes]'") from None
    if not hasattr(shapely, "constrained_delaunay_triangles"):
        found = f" (found shapely {shapely.__version__})"
        raise ImportError(f"NavMesh.from_shapes needs shapely 2.1 or later{found}: "
                          "pip install 'walkmesh[shapes]'")
    return shapely


def _geometry(shapely: Any, value: Any, name: str) -> Any:
    if isinstance(value, shapely.Geometry):
        geometry = value
    else:
        ring = np.asarray(value, dtype=np.float64)
        if ring.ndim != 2 or ring.shape[1] != 2 or len(ring) < 3:
            raise ValueError(f"{name} must be a shapely geometry or a sequence of at least 3 points (x, y), "
                             f"not an array of shape {ring.shape}")
        if not np.all(np.isfinite(ring)):
            raise ValueError(f"{name} has a non-finite coordinate")
        geometry = shapely.Polygon(ring)
    if not np.all(np.isfinite(shapely.get_coordinates(geometry))):
        raise ValueError(f"{name} has a non-finite coordinate")
    if not shapely.is_valid(geometry):
        raise ValueError(f"{name} is not a valid shape: {shapely.is_valid_reason(geometry)}")
    return geometry


def _obstacle_list(shapely: Any, obstacles: Any) -> List[Any]:
    if isinstance(obstacles, shapely.Geometry):
        return [_geometry(shapely, obstacles, "the obstacles")]
    return [_geometry(shapely, obstacle, f"obstacle {i}") for i, obstacle in enumerate(obstacles)]


def precision_grid(shapely: Any, geometries: List[Any], reach: float) -> float:
    """The spacing of the grid the free space is snapped to: a power of two such that
    every coordinate on it within the geometries' extent (grown by `reach`) has at
    most 22 significant bits. Such coordinates are exact as the tables' 32-bit
    floats, their differences and products exact in double precision, and corners
    closer than one step are one corner, so no portal can shrink to nothing."""
    bounds = shapely.total_bounds(np.array(geometries, dtype=object))
    largest = float(np.max(np.abs(bounds))) + reach if np.all(np.isfinite(bounds)) else 1.0
    return math.ldexp(1.0, math.frexp(max(largest, 1e-300))[1] - 22)


def _round_reach(radius: float, quad_segs: int) -> float:
    """The buffer distance whose round joins hold the circle of `radius`. A buffer's
    arc corners lie on its circle, and GEOS rounds the number of steps of each arc to
    the nearest integer, so one step spans up to 1.5 times the nominal angle of
    pi / (2 quad_segs): a chord over that angle stays outside the circle of radius
    `radius` when its ends lie on the circle of radius / cos(3 pi / (8 quad_segs))."""
    return radius / math.cos(3 * math.pi / (8 * quad_segs))


def _grown(shapely: Any, geometry: Any, radius: float, quad_segs: int) -> Any:
    """`geometry` grown by a polygon that holds its true round offset by `radius`:
    the round buffer pushed out far enough (see _round_reach), cut back to the offset
    with sharp corners, whose sides lie at exactly `radius`."""
    if shapely.get_dimensions(geometry) == 0:
        # Around a point the circle is drawn whole, in 4 quad_segs equal steps.
        return shapely.buffer(geometry, radius / math.cos(math.pi / (4 * quad_segs)), quad_segs=quad_segs)
    rounded = shapely.buffer(geometry, _round_reach(radius, quad_segs), quad_segs=quad_segs)
    sharp = shapely.buffer(geometry, radius, cap_style="square", join_style="mitre", mitre_limit=10.0)
    return shapely.intersection(rounded, sharp)


def _shrunk(shapely: Any, area: Any, radius: float, quad_segs: int) -> Any:
    """The walkable area less everything within `radius` of its edge, by the same
    polygons as _grown: what neither grown offset of the outside covers."""
    rounded = shapely.buffer(area, -_round_reach(radius, quad_segs), quad_segs=quad_segs)
    sharp = shapely.buffer(area, -radius, join_style="mitre", mitre_limit=10.0)
    return shapely.union(rounded, sharp)


def free_space(walkable: ShapeLike, obstacles: ObstaclesLike = (), *, agent_radius: float = 0.0,
               quad_segs: int = 2) -> "Geometry":
    """The polygonal free space: `walkable` shrunk by `agent_radius`, minus the
    obstacles grown by it, as a shapely (Multi)Polygon whose corners lie on a
    precision grid (see `precision_grid`).

    Obstacles may be polygons, lines or points. Round offsets are drawn with
    `quad_segs` segments per quarter circle (1 to 64) by polygons that hold the round
    offset: their sides, not their corners, touch the circle, so no point of the free
    space comes nearer than `agent_radius` to an obstacle or to the walkable area's
    edge. At radius 0 a line is a wall of (almost) no thickness that the free space is
    cut along, and a point blocks nothing.

    >>> from walkmesh_tools.shapes import free_space
    >>> free_space([(0, 0), (10, 0), (10, 10), (0, 10)], [[(4, 4), (6, 4), (6, 6), (4, 6)]]).area
    96.0
    """
    shapely = _shapely()
    radius = float(agent_radius)
    if not (math.isfinite(radius) and radius >= 0):
        raise ValueError(f"agent_radius must be finite and not negative, not {agent_radius}")
    quad_segs = index_argument("quad_segs", quad_segs)
    if not 1 <= quad_segs <= 64:
        raise ValueError(f"quad_segs must be from 1 to 64, not {quad_segs}")
    area = _geometry(shapely, walkable, "the walkable area")
    if shapely.get_type_id(area) not in (3, 6):
        raise ValueError(f"the walkable area must be a polygon or a multipolygon, not a {area.geom_type}")
    blocked = _obstacle_list(shapely, obstacles)
    grid = precision_grid(shapely, [area] + blocked, 2 * radius)
    if radius > 0:
        # Snapping to the grid moves a corner by under one step: grown by two more,
        # the free space keeps its distance.
        area = _shrunk(shapely, area, radius + 2 * grid, quad_segs)
        blocked = [_grown(shapely, obstacle, radius + 2 * grid, quad_segs) for obstacle in blocked]
    else:
        # Walls: two steps either side, so that snapping keeps them closed; points go.
        blocked = [obstacle if shapely.get_dimensions(obstacle) == 2 else
                   shapely.buffer(obstacle, 2 * grid, cap_style="square", join_style="mitre")
                   for obstacle in blocked if shapely.get_dimensions(obstacle) > 0]
    blocked = [obstacle for obstacle in blocked if not shapely.is_empty(obstacle)]
    if blocked:
        area = shapely.difference(area, shapely.union_all(np.array(blocked, dtype=object)))
    area = shapely.set_precision(area, grid)
    parts = [part for part in shapely.get_parts(area) if isinstance(part, shapely.Polygon) and part.area > 0]
    if not parts:
        raise ValueError("no free space is left: the obstacles, grown by the agent radius, cover the walkable area")
    return cast("Geometry", shapely.MultiPolygon(parts) if len(parts) > 1 else parts[0])


def obstacles_near(obstacles: ObstaclesLike, points: np.ndarray, distance: float) -> List[int]:
    """The indices of the obstacles within `distance` of any of `points`."""
    shapely = _shapely()
    blocked = _obstacle_list(shapely, obstacles)
    if not blocked or len(points) == 0:
        return []
    near = shapely.dwithin(np.array(blocked, dtype=object)[:, None], shapely.points(points)[None, :], distance)
    return np.flatnonzero(near.any(axis=1)).tolist()


def free_space_polygons(walkable: ShapeLike, obstacles: ObstaclesLike = (), *, agent_radius: float = 0.0,
                        merge: bool = True, quad_segs: int = 2) -> CheckedPolygons:
    """Checked polygons covering the free space: its constrained Delaunay triangles,
    merged into convex polygons when `merge` is true."""
    shapely = _shapely()
    space = free_space(walkable, obstacles, agent_radius=agent_radius, quad_segs=quad_segs)
    triangles = shapely.get_parts(shapely.constrained_delaunay_triangles(space))
    # Each triangle comes as a closed ring of four points; its corners are input
    # points, so equal coordinates are the same vertex.
    points = shapely.get_coordinates(triangles).reshape(-1, 4, 2)[:, :3].reshape(-1, 2) + 0.0
    order = np.lexsort((points[:, 1], points[:, 0]))
    ordered = points[order]
    new = np.r_[True, np.any(ordered[1:] != ordered[:-1], axis=1)]
    vertices = ordered[new]
    index = np.empty(len(points), dtype=np.int64)
    index[order] = np.cumsum(new) - 1
    corners = index.reshape(-1, 3)
    # Slivers whose corners lie on one line cover nothing.
    a, b, c = vertices[corners[:, 0]], vertices[corners[:, 1]], vertices[corners[:, 2]]
    area = (b[:, 0] - a[:, 0]) * (c[:, 1] - a[:, 1]) - (b[:, 1] - a[:, 1]) * (c[:, 0] - a[:, 0])
    corners = corners[area != 0].reshape(-1)
    offsets = np.arange(len(corners) // 3 + 1, dtype=np.int64) * 3
    if not np.all(area != 0):
        # A sliver dropped between a side and the corners along it leaves them to be
        # joined through straight corners.
        offsets, corners = split_sides_at_corners(vertices, offsets, corners)
    polygons = check_polygons(vertices, offsets, corners)
    return merge_convex(polygons) if merge else polygons
