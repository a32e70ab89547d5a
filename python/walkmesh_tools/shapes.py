"""From level geometry to convex polygons with shapely: the free space left to an
agent of some radius, cut into triangles by shapely's constrained Delaunay
triangulation, merged into convex polygons."""
from __future__ import annotations

import math
from typing import TYPE_CHECKING, Any, Iterable, List, Sequence, Union, cast

import numpy as np
import numpy.typing as npt

from .arguments import index_argument
from .polygons import CheckedPolygons, check_polygons, merge_convex

if TYPE_CHECKING:
    from shapely import Geometry

__all__ = ["ShapeLike", "ObstaclesLike", "free_space", "free_space_polygons"]

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
    if not shapely.is_valid(geometry):
        raise ValueError(f"{name} is not a valid shape: {shapely.is_valid_reason(geometry)}")
    return geometry


def _obstacle_list(shapely: Any, obstacles: Any) -> List[Any]:
    if isinstance(obstacles, shapely.Geometry):
        return [_geometry(shapely, obstacles, "the obstacles")]
    return [_geometry(shapely, obstacle, f"obstacle {i}") for i, obstacle in enumerate(obstacles)]


def free_space(walkable: ShapeLike, obstacles: ObstaclesLike = (), *, agent_radius: float = 0.0,
               quad_segs: int = 2) -> "Geometry":
    """The polygonal free space: `walkable` shrunk by `agent_radius`, minus the
    obstacles grown by it, as a shapely (Multi)Polygon.

    >>> from walkmesh_tools.shapes import free_space
    >>> free_space([(0, 0), (10, 0), (10, 10), (0, 10)], [[(4, 4), (6, 4), (6, 6), (4, 6)]]).area
    96.0
    """
    shapely = _shapely()
    if not (math.isfinite(agent_radius) and agent_radius >= 0):
        raise ValueError(f"agent_radius must be finite and not negative, not {agent_radius}")
    quad_segs = index_argument("quad_segs", quad_segs)
    if quad_segs < 1:
        raise ValueError(f"quad_segs must be at least 1, not {quad_segs}")
    area = _geometry(shapely, walkable, "the walkable area")
    blocked = _obstacle_list(shapely, obstacles)
    if agent_radius > 0:
        area = shapely.buffer(area, -agent_radius, quad_segs=quad_segs)
        blocked = list(shapely.buffer(np.array(blocked, dtype=object), agent_radius, quad_segs=quad_segs))
    if blocked:
        area = shapely.difference(area, shapely.union_all(np.array(blocked, dtype=object)))
    parts = [part for part in shapely.get_parts(area) if isinstance(part, shapely.Polygon) and part.area > 0]
    if not parts:
        raise ValueError("no free space is left: the obstacles, grown by the agent radius, cover the walkable area")
    return cast("Geometry", shapely.MultiPolygon(parts) if len(parts) > 1 else parts[0])


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
    polygons = check_polygons(vertices, offsets, corners)
    return merge_convex(polygons) if merge else polygons
