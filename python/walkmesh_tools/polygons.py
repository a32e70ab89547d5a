"""Convex polygons kept ragged over a vertex array: `offsets` (one more than there
are polygons) and `corners`, the vertex index of every corner, polygon after
polygon. Side k of a polygon runs from the corner before k to corner k, so each
corner also names the side that ends at it.

Here live the checks a polygon must pass, turning clockwise ones, the side across
which each side is shared (its twin), the polygons around each vertex, and the
merging of neighbouring convex polygons into larger convex ones. Polygons that
passed the checks travel as CheckedPolygons, with their twins, and are not checked
again."""
from __future__ import annotations

import math
from itertools import chain
from typing import List, NamedTuple, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import ragged

__all__ = ["PolygonsLike", "RaggedPolygons", "CheckedPolygons", "as_vertices", "as_ragged", "check_polygons",
           "corner_links", "orient_and_check", "side_twins", "vertex_fans", "merge_convex"]

# Polygons as NavMesh takes them: vertex index sequences, or one polygon per row of
# a 2-D integer array.
PolygonsLike = Union[Sequence[Union[Sequence[int], npt.NDArray[np.integer]]], npt.NDArray[np.integer]]


class RaggedPolygons(NamedTuple):
    """Polygons already in ragged form, as the readers produce them."""
    offsets: np.ndarray
    corners: np.ndarray


class CheckedPolygons(NamedTuple):
    """Polygons that passed orient_and_check, counter-clockwise, over float64
    `vertices`, with the twin of each side (side_twins)."""
    vertices: np.ndarray
    offsets: np.ndarray
    corners: np.ndarray
    twin: np.ndarray


def as_vertices(vertices: npt.ArrayLike) -> np.ndarray:
    """A (V, 2) float64 copy of the vertices."""
    array = np.array(vertices, dtype=np.float64)
    if array.ndim != 2 or array.shape[1] != 2:
        raise ValueError(f"vertices must have shape (V, 2), not {array.shape}")
    return array


def as_ragged(polygons: Union[PolygonsLike, RaggedPolygons]) -> Tuple[np.ndarray, np.ndarray]:
    """(offsets, corners) of a sequence of vertex index sequences, of a 2-D integer
    array with one polygon per row, or of RaggedPolygons."""
    if isinstance(polygons, RaggedPolygons):
        offsets, corners = np.asarray(polygons.offsets, dtype=np.int64), np.asarray(polygons.corners)
    elif isinstance(polygons, np.ndarray) and polygons.ndim == 2:
        count, size = polygons.shape
        corners = polygons.reshape(-1)
        offsets = np.arange(count + 1, dtype=np.int64) * size
    else:
        rows = list(polygons)
        offsets = ragged.offsets_from_lengths(np.fromiter(map(len, rows), dtype=np.int64, count=len(rows)))
        corners = np.array(list(chain.from_iterable(rows)))
    if corners.size and corners.dtype.kind not in "iu":
        raise ValueError(f"polygon corners must be vertex indices (integers), not {corners.dtype}")
    return offsets, corners.astype(np.int64)


def corner_links(offsets: np.ndarray) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
    """For every corner: its polygon, and the indices of the corners before and after
    it in that polygon (wrapping)."""
    polygon = ragged.row_of(offsets)
    index = np.arange(offsets[-1], dtype=np.int64)
    first = offsets[:-1][polygon]
    last = offsets[1:][polygon] - 1
    before = np.where(index == first, last, index - 1)
    after = np.where(index == last, first, index + 1)
    return polygon, before, after


def corner_turns(xy: np.ndarray, before: np.ndarray, after: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
    """Cross and dot products of the two sides meeting at each corner, a -> b -> c.
    The merge below decides with the same expression, so what it builds passes."""
    a, b, c = xy[before], xy, xy[after]
    ux, uy = b[:, 0] - a[:, 0], b[:, 1] - a[:, 1]
    vx, vy = c[:, 0] - b[:, 0], c[:, 1] - b[:, 1]
    return ux * vy - uy * vx, ux * vx + uy * vy


def _turns_left_or_straight(ax: float, ay: float, bx: float, by: float, cx: float, cy: float) -> bool:
    ux, uy, vx, vy = bx - ax, by - ay, cx - bx, cy - by
    cross = ux * vy - uy * vx
    return cross > 0.0 or (cross == 0.0 and ux * vx + uy * vy > 0.0)


def _first(mask: np.ndarray) -> int:
    return int(np.flatnonzero(mask)[0])


def orient_and_check(vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray) -> np.ndarray:
    """The corners with every clockwise polygon turned counter-clockwise (keeping its
    first corner first). Raises ValueError naming the first polygon that is not a
    simple convex polygon of at least three distinct corners."""
    lengths = ragged.lengths(offsets)
    if np.any(lengths < 3):
        i = _first(lengths < 3)
        raise ValueError(f"polygon {i} has {lengths[i]} corners; a polygon needs at least 3")
    polygon, before, after = corner_links(offsets)
    position = ragged.position_in_row(offsets, polygon)
    outside = (corners < 0) | (corners >= len(vertices))
    if np.any(outside):
        k = _first(outside)
        raise ValueError(f"polygon {polygon[k]} refers to vertex {corners[k]}, "
                         f"but there are {len(vertices)} vertices")
    xy = vertices[corners]
    if not np.all(np.isfinite(xy)):
        k = _first(~np.isfinite(xy).all(axis=1))
        raise ValueError(f"polygon {polygon[k]} has a corner at a non-finite point: vertex {corners[k]} "
                         f"is {tuple(vertices[corners[k]].tolist())}")
    by_vertex = np.lexsort((corners, polygon))
    repeated = (polygon[by_vertex][1:] == polygon[by_vertex][:-1]) & (corners[by_vertex][1:] == corners[by_vertex][:-1])
    if np.any(repeated):
        k = by_vertex[_first(repeated)]
        raise ValueError(f"polygon {polygon[k]} uses vertex {corners[k]} twice")
    coincident = np.all(xy == xy[after], axis=1)
    if np.any(coincident):
        k = _first(coincident)
        raise ValueError(f"polygon {polygon[k]} has two corners at the same point "
                         f"{tuple(xy[k].tolist())} (vertices {corners[k]} and {corners[after[k]]})")
    x, y = xy[:, 0], xy[:, 1]
    twice_area = np.add.reduceat(x * y[after] - x[after] * y, ragged.starts(offsets)) if len(lengths) else np.zeros(0)
    if np.any(twice_area == 0):
        i = _first(twice_area == 0)
        raise ValueError(f"polygon {i} has no area: its corners lie on one line")
    clockwise = twice_area < 0
    if np.any(clockwise):
        # Reversed with the first corner kept first: position p goes to (n - p) mod n.
        turned = clockwise[polygon]
        n = lengths[polygon]
        target = np.where(turned, offsets[:-1][polygon] + (n - position) % n, np.arange(len(corners)))
        oriented = np.empty_like(corners)
        oriented[target] = corners
        corners = oriented
        xy = vertices[corners]
    cross, dot = corner_turns(xy, before, after)
    right = cross < 0
    if np.any(right):
        k = _first(right)
        raise ValueError(f"polygon {polygon[k]} is not convex: it turns the other way at corner "
                         f"{position[k]} (vertex {corners[k]})")
    folds = (cross == 0) & (dot < 0)
    if np.any(folds):
        k = _first(folds)
        raise ValueError(f"polygon {polygon[k]} folds back on itself at corner {position[k]} (vertex {corners[k]})")
    # All turns go one way; a simple polygon turns once around in all (2 pi), one that
    # winds around its inside twice or more turns 4 pi or more.
    turning = np.add.reduceat(np.arctan2(cross, dot), ragged.starts(offsets))
    if np.any(turning > 3 * math.pi):
        i = _first(turning > 3 * math.pi)
        raise ValueError(f"polygon {i} is not simple: its sides wind around its inside more than once")
    return corners


def side_twins(vertex_count: int, offsets: np.ndarray, corners: np.ndarray) -> np.ndarray:
    """For every side, the index of the side of another polygon that runs along it the
    other way, or -1. Sides are matched by their vertex indices (a hash of the sorted
    pair), so neighbours must share vertices, not only coordinates."""
    polygon, before, _ = corner_links(offsets)
    start, end = corners[before], corners
    key = np.minimum(start, end) * max(vertex_count, 1) + np.maximum(start, end)
    order = np.argsort(key, kind="stable")
    groups = ragged.runs(key[order])
    group, sizes = groups[:-1], ragged.lengths(groups)
    if np.any(sizes > 2):
        g = _first(sizes > 2)
        sides = order[group[g]:group[g] + sizes[g]]
        names = ", ".join(str(p) for p in sorted(polygon[sides].tolist()))
        raise ValueError(f"the side between vertices {start[sides[0]]} and {end[sides[0]]} belongs to "
                         f"{sizes[g]} polygons ({names}); a side joins at most two")
    first, second = order[group[sizes == 2]], order[group[sizes == 2] + 1]
    same_way = start[first] == start[second]
    if np.any(same_way):
        k, m = first[_first(same_way)], second[_first(same_way)]
        raise ValueError(f"polygons {polygon[k]} and {polygon[m]} overlap: both run from vertex "
                         f"{start[k]} to vertex {end[k]}")
    twin = np.full(len(corners), -1, dtype=np.int64)
    twin[first] = second
    twin[second] = first
    return twin


def vertex_fans(vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray,
                neighbours: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
    """The polygons around each vertex, counter-clockwise, with -1 for each gap
    between them (outside the mesh), starting from the lowest-index polygon:
    (offsets per vertex, flat polygon indices). `neighbours` holds the polygon across
    each side, -1 for none."""
    polygon, _, after = corner_links(offsets)
    vertex = corners
    # A polygon's corner spans, counter-clockwise, from the side towards its next
    # corner to the side from its previous one; the polygon across that second side
    # comes next around the vertex, or a gap when there is none.
    toward = vertices[corners[after]] - vertices[corners]
    angle = np.arctan2(toward[:, 1], toward[:, 0])
    order = np.lexsort((angle, vertex))
    vertex_sorted, polygon_sorted = vertex[order], polygon[order]
    # Each vertex's corners, turned to start from its lowest-index polygon (a polygon
    # has a vertex once).
    groups = ragged.runs(vertex_sorted)
    group = ragged.row_of(groups)
    lowest = np.minimum.reduceat(polygon_sorted, ragged.starts(groups)) if len(order) else polygon_sorted
    lowest_at = np.flatnonzero(polygon_sorted == lowest[group]) - groups[:-1]
    turned = (ragged.position_in_row(groups, group) - lowest_at[group]) % ragged.lengths(groups)[group]
    order = order[np.lexsort((turned, vertex_sorted))]
    # A corner's polygon, followed by a -1 where no polygon lies across its side.
    width = 1 + (neighbours[order] < 0)
    at = ragged.offsets_from_lengths(width)
    fan = np.full(int(at[-1]), -1, dtype=np.int64)
    fan[at[:-1]] = polygon[order]
    per_vertex = np.bincount(vertex[order].astype(np.intp), weights=width, minlength=len(vertices))
    return ragged.offsets_from_lengths(per_vertex.astype(np.int64)), fan


def check_polygons(vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray) -> CheckedPolygons:
    """orient_and_check, then side_twins: what every polygon passes once."""
    corners = orient_and_check(vertices, offsets, corners)
    return CheckedPolygons(vertices, offsets, corners, side_twins(len(vertices), offsets, corners))


def merge_convex(polygons: CheckedPolygons) -> CheckedPolygons:
    """Hertel-Mehlhorn: removes shared sides, longest first, wherever the two polygons
    on either side form a convex polygon together (a straight corner counts as
    convex). The merged polygons come in the order of their first side; each is
    convex and counter-clockwise (the test below is the one orient_and_check makes),
    and each kept side keeps its twin."""
    vertices, offsets, corners, twin = polygons
    _, before, after = corner_links(offsets)
    x, y = vertices[:, 0].tolist(), vertices[:, 1].tolist()
    end = corners.tolist()
    prev, next_ = before.tolist(), after.tolist()
    twins = twin.tolist()
    shared = np.flatnonzero(twin > np.arange(len(twin)))
    start_xy, end_xy = vertices[corners[before[shared]]], vertices[corners[shared]]
    length = np.hypot(*(end_xy - start_xy).T)
    alive = [True] * len(end)
    # A linked ring of sides per polygon: merging across side k (a -> b) and its twin
    # t (b -> a) splices the two rings, and only the corners at a and b change.
    for k in shared[np.argsort(-length, kind="stable")].tolist():
        t = twins[k]
        pk, nk, pt, nt = prev[k], next_[k], prev[t], next_[t]
        a, b = end[pk], end[k]
        before_a, after_a = end[prev[pk]], end[nt]
        before_b, after_b = end[prev[pt]], end[nk]
        if not (_turns_left_or_straight(x[before_a], y[before_a], x[a], y[a], x[after_a], y[after_a])
                and _turns_left_or_straight(x[before_b], y[before_b], x[b], y[b], x[after_b], y[after_b])):
            continue
        next_[pk], prev[nt] = nt, pk
        next_[pt], prev[nk] = nk, pt
        alive[k] = alive[t] = False
    merged_offsets = [0]
    # The side kept as each corner of the merged polygons (side k ends at corner k).
    kept: List[int] = []
    seen = [False] * len(end)
    for side in range(len(end)):
        if not alive[side] or seen[side]:
            continue
        k = side
        while not seen[k]:
            seen[k] = True
            kept.append(k)
            k = next_[k]
        merged_offsets.append(len(kept))
    sides = np.array(kept, dtype=np.int64)
    # A side is removed together with its twin, so a kept side's twin is kept too.
    renumbered = np.full(len(end), -1, dtype=np.int64)
    renumbered[sides] = np.arange(len(sides))
    merged_twin = np.where(twin[sides] >= 0, renumbered[np.maximum(twin[sides], 0)], -1)
    return CheckedPolygons(vertices, np.array(merged_offsets, dtype=np.int64), corners[sides], merged_twin)
