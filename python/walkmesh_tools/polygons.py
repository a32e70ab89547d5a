"""Convex polygons kept ragged over a vertex array: `offsets` (one more than there
are polygons) and `corners`, the vertex index of every corner, polygon after
polygon. Side k of a polygon runs from the corner before k to corner k, so each
corner also names the side that ends at it.

Here live the checks a polygon must pass, turning clockwise ones, joining corners at
one point into one vertex and splitting sides at the corners that lie on them
(T-junctions), the side across which each side is shared (its twin), the polygons
around each vertex, and the merging of neighbouring convex polygons into larger
convex ones. Polygons that
passed the checks travel as CheckedPolygons, with their twins, and are not checked
again.

Vertices may carry a height as a third column (levels with a bridge over a road):
polygons are then checked and turned in plan, each must be flat, and corners join,
split sides and merge only where their heights agree too."""
from __future__ import annotations

import math
from itertools import chain
from typing import List, NamedTuple, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import ragged

__all__ = ["PolygonsLike", "RaggedPolygons", "CheckedPolygons", "as_vertices", "as_ragged", "check_polygons",
           "corner_links", "orient_and_check", "merge_equal_vertices", "split_sides_at_corners", "side_twins",
           "vertex_fans", "merge_convex", "polygon_planes", "check_flat", "flat_tolerance"]

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
    """A (V, 2) float64 copy of the vertices, or (V, 3) with their heights."""
    array = np.array(vertices, dtype=np.float64)
    if array.ndim != 2 or array.shape[1] not in (2, 3):
        raise ValueError(f"vertices must have shape (V, 2), or (V, 3) with heights, not {array.shape}")
    return array


def flat_tolerance(points: np.ndarray) -> float:
    """How far from a plane the corners of a flat polygon may lie, and how far apart
    in height two corners that join may be: about 2^-20 of the largest coordinate,
    some roundings of 32-bit floats (as files keep them)."""
    return float(np.abs(points).max()) * 2.0**-20 if points.size else 0.0


def polygon_planes(vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray) -> np.ndarray:
    """(P, 5): each polygon's plane as (x, y, z, dx, dy), the height z at (x, y), the
    mean of its corners, rising dx per unit of x and dy per unit of y; from Newell's
    normal, as the native mesh computes it."""
    count = len(offsets) - 1
    if count == 0:
        return np.zeros((0, 5))
    polygon, _, after = corner_links(offsets)
    points = vertices[corners]
    centre = np.add.reduceat(points, ragged.starts(offsets), axis=0) / ragged.lengths(offsets)[:, None]
    here = points - centre[polygon]
    there = here[after]
    x, y, z = here[:, 0], here[:, 1], here[:, 2]
    nx = np.add.reduceat((y - there[:, 1]) * (z + there[:, 2]), ragged.starts(offsets))
    ny = np.add.reduceat((z - there[:, 2]) * (x + there[:, 0]), ragged.starts(offsets))
    nz = np.add.reduceat((x - there[:, 0]) * (y + there[:, 1]), ragged.starts(offsets))
    with np.errstate(divide="ignore", invalid="ignore"):
        dx, dy = np.where(nz > 0, -nx / nz, 0.0), np.where(nz > 0, -ny / nz, 0.0)
    planes: np.ndarray = np.column_stack([centre, dx, dy])
    return planes


def _off_plane(vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray) -> np.ndarray:
    """How far each corner's height lies from its polygon's plane."""
    planes = polygon_planes(vertices, offsets, corners)
    polygon = ragged.row_of(offsets)
    plane, points = planes[polygon], vertices[corners]
    at = plane[:, 2] + plane[:, 3] * (points[:, 0] - plane[:, 0]) + plane[:, 4] * (points[:, 1] - plane[:, 1])
    off: np.ndarray = np.abs(points[:, 2] - at)
    return off


def check_flat(vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray) -> None:
    """Raises ValueError naming the first polygon whose corners do not lie on one plane."""
    off = _off_plane(vertices, offsets, corners)
    bad = off > flat_tolerance(vertices[corners])
    if np.any(bad):
        k = _first(bad)
        i = int(np.searchsorted(offsets, k, side="right") - 1)
        raise ValueError(f"polygon {i} is not flat: its corner {k - offsets[i]} (vertex {corners[k]}) lies "
                         f"{off[k]:.6g} off the plane of its corners")


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
    # Heights, where there are any, play no part in the shape.
    xy = xy[:, :2]
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
    clockwise = twice_area < 0
    if np.any(clockwise):
        # Reversed with the first corner kept first: position p goes to (n - p) mod n.
        turned = clockwise[polygon]
        n = lengths[polygon]
        target = np.where(turned, offsets[:-1][polygon] + (n - position) % n, np.arange(len(corners)))
        oriented = np.empty_like(corners)
        oriented[target] = corners
        corners = oriented
        xy = vertices[corners][:, :2]
    cross, dot = corner_turns(xy, before, after)
    # All turns go one way; a simple polygon turns once around in all (2 pi), one that
    # winds around its inside twice or more turns 4 pi or more.
    turning = np.add.reduceat(np.arctan2(cross, dot), ragged.starts(offsets)) if len(lengths) else np.zeros(0)
    bad_corner = (cross < 0) | ((cross == 0) & (dot < 0))
    bad = (twice_area == 0) | (turning > 3 * math.pi)
    bad[polygon[bad_corner]] = True
    if np.any(bad):
        i = _first(bad)
        begin, end = int(offsets[i]), int(offsets[i + 1])
        raise ValueError(_shape_problem(i, vertices, corners[begin:end], cross[begin:end], dot[begin:end],
                                        float(twice_area[i])))
    return corners


def _segments_meet(p: np.ndarray, q: np.ndarray, r: np.ndarray, s: np.ndarray) -> bool:
    """Whether the closed segments p-q and r-s have a point in common."""
    def orientation(a: np.ndarray, b: np.ndarray, c: np.ndarray) -> float:
        return float((b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]))

    def within(a: np.ndarray, b: np.ndarray, c: np.ndarray) -> bool:
        return bool(min(a[0], b[0]) <= c[0] <= max(a[0], b[0]) and min(a[1], b[1]) <= c[1] <= max(a[1], b[1]))

    d1, d2 = orientation(r, s, p), orientation(r, s, q)
    d3, d4 = orientation(p, q, r), orientation(p, q, s)
    if ((d1 > 0 and d2 < 0) or (d1 < 0 and d2 > 0)) and ((d3 > 0 and d4 < 0) or (d3 < 0 and d4 > 0)):
        return True
    return ((d1 == 0 and within(r, s, p)) or (d2 == 0 and within(r, s, q)) or (d3 == 0 and within(p, q, r))
            or (d4 == 0 and within(p, q, s)))


def _shape_problem(i: int, vertices: np.ndarray, ring: np.ndarray, cross: np.ndarray, dot: np.ndarray,
                   twice_area: float) -> str:
    """What is wrong with polygon i, whose corners are `ring`: it folds back, its sides
    cross, it has no area, or it is not convex."""
    if np.all(cross == 0):
        return f"polygon {i} has no area: its corners lie on one line"
    folds = np.flatnonzero((cross == 0) & (dot < 0))
    if len(folds):
        k = int(folds[0])
        return f"polygon {i} folds back on itself at corner {k} (vertex {ring[k]})"
    points = vertices[ring]
    n = len(ring)
    # Side k runs from corner k - 1 to corner k; sides next to each other share a corner.
    for j in range(n):
        for k in range(j + 2, n):
            if j == 0 and k == n - 1:
                continue
            if _segments_meet(points[j - 1], points[j], points[k - 1], points[k]):
                return f"polygon {i} is not simple: it is self-intersecting (its sides {j} and {k} meet)"
    if twice_area == 0:
        return f"polygon {i} has no area: its corners lie on one line"
    right = np.flatnonzero(cross < 0)
    if len(right):
        k = int(right[0])
        return f"polygon {i} is not convex: it turns the other way at corner {k} (vertex {ring[k]})"
    return f"polygon {i} is not simple: its sides wind around its inside more than once"


def merge_equal_vertices(vertices: np.ndarray, corners: np.ndarray, tolerance: float) -> np.ndarray:
    """The corners with each vertex replaced by the lowest-index vertex at the same
    point, or, with a tolerance, within `tolerance` of it (through chains of such
    vertices; heights, where given, count in the distance). Only the vertices that
    corners use take part."""
    used = np.flatnonzero(np.bincount(corners.astype(np.intp), minlength=len(vertices)))
    if len(used) < 2:
        return corners
    # + 0.0 makes -0.0 and 0.0 one coordinate.
    xy = vertices[used] + 0.0
    label = np.arange(len(used))
    if tolerance == 0:
        order = np.lexsort((used,) + tuple(xy[:, k] for k in reversed(range(xy.shape[1]))))
        ordered = xy[order]
        new = np.r_[True, np.any(ordered[1:] != ordered[:-1], axis=1)]
        first = order[np.flatnonzero(new)]
        label[order] = first[np.cumsum(new) - 1]
    else:
        # Pairs closer than the tolerance meet in the same or a neighbouring cell.
        cell = np.floor((xy[:, :2] - xy[:, :2].min(axis=0)) / tolerance).astype(np.int64)
        columns = int(cell[:, 0].max()) + 3
        key = (cell[:, 1] + 1) * columns + cell[:, 0] + 1
        order = np.argsort(key, kind="stable")
        sorted_key = key[order]
        pairs_a, pairs_b = [], []
        for dx, dy in [(0, 0), (1, 0), (-1, 1), (0, 1), (1, 1)]:
            wanted = key + dy * columns + dx
            low = np.searchsorted(sorted_key, wanted, side="left")
            high = np.searchsorted(sorted_key, wanted, side="right")
            row, index = _ranges(low, high - low)
            a, b = row, order[index]
            keep = (a != b) & (np.sqrt(((xy[a] - xy[b]) ** 2).sum(axis=1)) <= tolerance)
            pairs_a.append(a[keep])
            pairs_b.append(b[keep])
        a, b = np.concatenate(pairs_a), np.concatenate(pairs_b)
        # Each vertex takes the lowest label among its near vertices until none changes.
        while len(a):
            lowest = label.copy()
            np.minimum.at(lowest, a, label[b])
            np.minimum.at(lowest, b, label[a])
            lowest = lowest[lowest]
            if np.array_equal(lowest, label):
                break
            label = lowest
    representative = np.arange(len(vertices), dtype=np.int64)
    representative[used] = used[label]
    merged: np.ndarray = representative[corners]
    return merged


def _ranges(starts: np.ndarray, counts: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
    """(row, index): for each row r, the indices starts[r] .. starts[r] + counts[r] - 1."""
    return ragged.ranges(np.asarray(starts, dtype=np.int64), ragged.offsets_from_lengths(counts))


def _unmatched_sides(vertex_count: int, offsets: np.ndarray, corners: np.ndarray) -> np.ndarray:
    """The sides whose pair of vertices no other side has."""
    _, before, _ = corner_links(offsets)
    start, end = corners[before], corners
    key = np.minimum(start, end) * max(vertex_count, 1) + np.maximum(start, end)
    order = np.argsort(key, kind="stable")
    ordered = key[order]
    alone = np.ones(len(key), dtype=bool)
    repeated = np.flatnonzero(ordered[1:] == ordered[:-1])
    alone[repeated] = alone[repeated + 1] = False
    return np.sort(order[alone])


def _rank(values: np.ndarray, within: np.ndarray) -> np.ndarray:
    return np.searchsorted(within, values)


def _pairs_on_lines(a: np.ndarray, b: np.ndarray, chosen: np.ndarray, points: np.ndarray,
                    axis: int) -> Tuple[np.ndarray, np.ndarray]:
    """(side, point) pairs for the sides `chosen` that run along `axis` (their other
    coordinate constant) and the points on their line strictly between their ends."""
    other = 1 - axis
    lines = np.unique(points[:, other])
    along = np.unique(points[:, axis])
    line_of = _rank(points[:, other], lines)
    key = line_of * (len(along) + 1) + _rank(points[:, axis], along)
    order = np.argsort(key, kind="stable")
    sorted_key = key[order]
    line = _rank(a[chosen, other], lines)
    # Sides off every point's line find nothing there.
    on_a_line = (line < len(lines)) & (lines[np.minimum(line, len(lines) - 1)] == a[chosen, other])
    low = np.minimum(a[chosen, axis], b[chosen, axis])
    high = np.maximum(a[chosen, axis], b[chosen, axis])
    base = line * (len(along) + 1)
    first = np.searchsorted(sorted_key, base + np.searchsorted(along, low, side="right"), side="left")
    last = np.searchsorted(sorted_key, base + np.searchsorted(along, high, side="left"), side="left")
    count = np.where(on_a_line, np.maximum(last - first, 0), 0)
    row, index = _ranges(first, count)
    return chosen[row], order[index]


def _pairs_near_sides(a: np.ndarray, b: np.ndarray, chosen: np.ndarray, points: np.ndarray,
                      tolerance: float) -> Tuple[np.ndarray, np.ndarray]:
    """(side, point) pairs for the sides `chosen` and the points in the cells of a
    grid that each side crosses (a thick line: every row of cells it crosses in each
    column, or the other way round for steep sides), with a margin of `tolerance`."""
    if len(chosen) == 0:
        return np.zeros(0, np.int64), np.zeros(0, np.int64)
    a, b = a[chosen], b[chosen]
    low = np.minimum(np.minimum(a, b).min(axis=0), points.min(axis=0)) - tolerance
    cell = max(float(np.mean(np.hypot(*(b - a).T))), tolerance, 1e-300)
    point_cells = np.floor((points - low) / cell).astype(np.int64)
    width = int(max(point_cells[:, 0].max(), np.floor((np.maximum(a, b)[:, 0] + tolerance - low[0]) / cell).max())) + 3
    by_key = np.argsort(point_cells[:, 1] * width + point_cells[:, 0], kind="stable")
    sorted_key = (point_cells[:, 1] * width + point_cells[:, 0])[by_key]
    steep = np.abs(b[:, 1] - a[:, 1]) > np.abs(b[:, 0] - a[:, 0])
    sides_found, points_found = [], []
    for axis in (0, 1):
        mine = np.flatnonzero(steep == bool(axis))
        if len(mine) == 0:
            continue
        pa, pb = a[mine], b[mine]
        first = np.floor((np.minimum(pa[:, axis], pb[:, axis]) - tolerance - low[axis]) / cell).astype(np.int64)
        last = np.floor((np.maximum(pa[:, axis], pb[:, axis]) + tolerance - low[axis]) / cell).astype(np.int64)
        side_row, step = _ranges(first, last - first + 1)
        sa, span = pa[side_row], pb[side_row] - pa[side_row]
        with np.errstate(divide="ignore", invalid="ignore"):
            t0 = np.clip((low[axis] + step * cell - sa[:, axis]) / span[:, axis], 0, 1)
            t1 = np.clip((low[axis] + (step + 1) * cell - sa[:, axis]) / span[:, axis], 0, 1)
        flat = span[:, axis] == 0
        t0[flat], t1[flat] = 0.0, 1.0
        other = 1 - axis
        o0, o1 = sa[:, other] + t0 * span[:, other], sa[:, other] + t1 * span[:, other]
        other_first = np.floor((np.minimum(o0, o1) - tolerance - low[other]) / cell).astype(np.int64)
        other_last = np.floor((np.maximum(o0, o1) + tolerance - low[other]) / cell).astype(np.int64)
        cell_row, other_step = _ranges(other_first, other_last - other_first + 1)
        column = step[cell_row] if axis == 0 else other_step
        row = other_step if axis == 0 else step[cell_row]
        key = row * width + column
        begin = np.searchsorted(sorted_key, key, side="left")
        end = np.searchsorted(sorted_key, key, side="right")
        found_row, found = _ranges(begin, end - begin)
        sides_found.append(chosen[mine[side_row[cell_row[found_row]]]])
        points_found.append(by_key[found])
    return np.concatenate(sides_found), np.concatenate(points_found)


def split_sides_at_corners(vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray,
                           tolerance: float = 0.0) -> RaggedPolygons:
    """Inserts into every side that no other side matches each corner of such a side
    that lies on it, strictly between its ends (on its line exactly, or within
    `tolerance` of it, and with heights, at the side's height there): a polygon whose
    side another polygon's corner touches (a T-junction) gets a straight corner there,
    so the two share a side by vertices."""
    sides = _unmatched_sides(len(vertices), offsets, corners)
    heights = vertices[:, 2] if vertices.shape[1] == 3 else None
    vertices = vertices[:, :2]
    if len(sides) == 0:
        return RaggedPolygons(offsets, corners)
    _, before, _ = corner_links(offsets)
    a_index, b_index = corners[before[sides]], corners[sides]
    a, b = vertices[a_index], vertices[b_index]
    candidates = np.flatnonzero(np.bincount(np.r_[a_index, b_index].astype(np.intp), minlength=len(vertices)))
    points = vertices[candidates]
    everything = np.arange(len(sides))
    if tolerance == 0:
        # Level and upright sides (most of a grid's or an editor's) by sorting.
        level, upright = a[:, 1] == b[:, 1], a[:, 0] == b[:, 0]
        found = [_pairs_on_lines(a, b, np.flatnonzero(level), points, 0),
                 _pairs_on_lines(a, b, np.flatnonzero(upright & ~level), points, 1),
                 _pairs_near_sides(a, b, everything[~level & ~upright], points, 0.0)]
    else:
        found = [_pairs_near_sides(a, b, everything, points, tolerance)]
    side = np.concatenate([pair[0] for pair in found])
    vertex = candidates[np.concatenate([pair[1] for pair in found])]
    keep = (vertex != a_index[side]) & (vertex != b_index[side])
    side, vertex = side[keep], vertex[keep]
    sa, sb, p = a[side], b[side], vertices[vertex]
    ex, ey = sb[:, 0] - sa[:, 0], sb[:, 1] - sa[:, 1]
    cross = ex * (p[:, 1] - sa[:, 1]) - ey * (p[:, 0] - sa[:, 0])
    along = ex * (p[:, 0] - sa[:, 0]) + ey * (p[:, 1] - sa[:, 1])
    squared = ex * ex + ey * ey
    on_line = cross == 0 if tolerance == 0 else np.abs(cross) <= tolerance * np.sqrt(squared)
    on = on_line & (along > 0) & (along < squared)
    if heights is not None:
        # A corner under or over a side, in plan only, does not join it.
        slack = max(tolerance, flat_tolerance(np.column_stack([vertices, heights])))
        height_there = heights[a_index[side]] + along / squared * (heights[b_index[side]] - heights[a_index[side]])
        on &= np.abs(heights[vertex] - height_there) <= slack
    side, vertex, t = side[on], vertex[on], along[on] / squared[on]
    if len(side) == 0:
        return RaggedPolygons(offsets, corners)
    # A point met in two cells counts once.
    pair = side * len(vertices) + vertex
    order = np.argsort(pair, kind="stable")
    once = order[np.r_[True, pair[order][1:] != pair[order][:-1]]]
    side, vertex, t = side[once], vertex[once], t[once]
    polygon_of = ragged.row_of(offsets)
    global_side = sides[side]
    owner = polygon_of[global_side]
    is_first = global_side == offsets[:-1][owner]
    # Inserted corners go before the corner their side ends at, or after the last
    # corner for a polygon's first side, so that its first corner stays first.
    primary = np.r_[np.arange(len(corners)), np.where(is_first, offsets[1:][owner] - 1, global_side)]
    secondary = np.r_[np.zeros(len(corners)), np.where(is_first, t, t - 1)]
    order = np.lexsort((secondary, primary))
    new_corners = np.r_[corners, vertex][order]
    added = np.bincount(owner.astype(np.intp), minlength=len(offsets) - 1)
    new_offsets = offsets.copy()
    new_offsets[1:] += np.cumsum(added)
    return RaggedPolygons(new_offsets, new_corners.astype(np.int64))


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


class _PlaneGroups:
    """The polygons merge_convex has joined, each group with the plane of its first
    polygon: two rings join only if each one's corners lie on the other's plane."""

    def __init__(self, vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray, polygon_of: np.ndarray,
                 next_: List[int], end: List[int]) -> None:
        self.planes = polygon_planes(vertices, offsets, corners).tolist()
        self.parent = list(range(len(offsets) - 1))
        self.polygon_of = polygon_of.tolist()
        self.points = vertices.tolist()
        self.next_, self.end = next_, end
        self.tolerance = flat_tolerance(vertices[corners])

    def _group(self, polygon: int) -> int:
        while self.parent[polygon] != polygon:
            self.parent[polygon] = self.parent[self.parent[polygon]]
            polygon = self.parent[polygon]
        return polygon

    def _on_plane(self, side: int, group: int) -> bool:
        x0, y0, z0, dx, dy = self.planes[group]
        k = side
        while True:
            x, y, z = self.points[self.end[k]]
            if abs(z - (z0 + dx * (x - x0) + dy * (y - y0))) > self.tolerance:
                return False
            k = self.next_[k]
            if k == side:
                return True

    def join(self, side: int, twin: int) -> bool:
        """Whether the rings of `side` and of `twin` lie in one plane; if so they are one
        group from now on."""
        first, second = self._group(self.polygon_of[side]), self._group(self.polygon_of[twin])
        if not (self._on_plane(side, second) and self._on_plane(twin, first)):
            return False
        self.parent[second] = first
        return True


def merge_convex(polygons: CheckedPolygons) -> CheckedPolygons:
    """Hertel-Mehlhorn: removes shared sides, longest first, wherever the two polygons
    on either side form a convex polygon together (a straight corner counts as
    convex). The merged polygons come in the order of their first side; each is
    convex and counter-clockwise (the test below is the one orient_and_check makes),
    and each kept side keeps its twin. With heights, only polygons in one plane merge."""
    vertices, offsets, corners, twin = polygons
    polygon_of, before, after = corner_links(offsets)
    x, y = vertices[:, 0].tolist(), vertices[:, 1].tolist()
    end = corners.tolist()
    prev, next_ = before.tolist(), after.tolist()
    twins = twin.tolist()
    shared = np.flatnonzero(twin > np.arange(len(twin)))
    start_xy, end_xy = vertices[corners[before[shared]]], vertices[corners[shared]]
    length = np.hypot(*(end_xy - start_xy).T)
    alive = [True] * len(end)
    in_plane = _PlaneGroups(vertices, offsets, corners, polygon_of, next_, end) if vertices.shape[1] == 3 else None
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
        if in_plane is not None and not in_plane.join(k, t):
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
