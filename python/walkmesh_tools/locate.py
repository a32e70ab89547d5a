"""Point location in convex polygons, vectorised with NumPy.

A point's polygon is the lowest-index polygon that contains it, boundary included:
for every side from a to b, (b.x - a.x)(p.y - a.y) - (b.y - a.y)(p.x - a.x),
computed in double precision, is not negative (bench/mesh.cpp's locator decides
the same way). A uniform grid over the mesh lists, per cell, the polygons whose
bounding boxes touch it, in ascending order. Where the first of them holds the
whole cell with a margin that rounding cannot cross, the cell answers at once;
points in the other cells test their cell's polygons side by side.
"""
from __future__ import annotations

from typing import Tuple

import numpy as np

from . import ragged
from .polygons import corner_links

__all__ = ["PolygonGrid"]

# Empty cells answer -1; cells that need tests hold MIXED.
MIXED = -2
# About this many cells per polygon: finer cells answer more points at once and cost
# memory and build time (measured on aurora by bench/navmesh.py).
CELLS_PER_POLYGON = 8
CHUNK = 1 << 16


class PolygonGrid:
    """Locates points in the polygons (offsets, corners) over `vertices`."""

    def __init__(self, vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray):
        polygon, before, _ = corner_links(offsets)
        self._offsets = offsets
        self._lengths = ragged.lengths(offsets)
        a, b = vertices[corners[before]], vertices[corners]
        # The side ending at each corner: its start and its direction.
        self._ax, self._ay = np.ascontiguousarray(a[:, 0]), np.ascontiguousarray(a[:, 1])
        self._ex, self._ey = b[:, 0] - a[:, 0], b[:, 1] - a[:, 1]
        count = len(self._lengths)
        if count == 0:
            self._min = self._max = np.zeros(2)
            self._cell, self._columns, self._rows = 1.0, 1, 1
            self._answer = np.full(1, -1, dtype=np.int64)
            self._cell_start = np.zeros(2, dtype=np.int64)
            self._candidates = np.zeros(0, dtype=np.int64)
            return
        xy = vertices[corners]
        firsts = ragged.starts(offsets)
        low = np.stack([np.minimum.reduceat(xy[:, 0], firsts), np.minimum.reduceat(xy[:, 1], firsts)], 1)
        high = np.stack([np.maximum.reduceat(xy[:, 0], firsts), np.maximum.reduceat(xy[:, 1], firsts)], 1)
        self._min, self._max = low.min(axis=0), high.max(axis=0)
        width, height = np.maximum(self._max - self._min, 1e-300)
        self._cell = float(max(np.sqrt(width * height / (CELLS_PER_POLYGON * count)), 1e-300))
        self._columns = int(width / self._cell) + 1
        self._rows = int(height / self._cell) + 1
        column0, row0 = self._cells(low[:, 0], low[:, 1])
        column1, row1 = self._cells(high[:, 0], high[:, 1])
        spans = column1 - column0 + 1
        # Every (polygon, cell of its bounding box) pair.
        pairs = ragged.offsets_from_lengths(spans * (row1 - row0 + 1))
        owner = ragged.row_of(pairs)
        local = ragged.position_in_row(pairs, owner)
        cell = (row0[owner] + local // spans[owner]) * self._columns + column0[owner] + local % spans[owner]
        extent = float(width + height)
        # Polygons whose box touches a cell but that lie wholly outside it (one side
        # has the whole cell beyond it) are no candidates there.
        touches = ~self._cross_range(owner, cell, extent, inward=False)
        owner, cell = owner[touches], cell[touches]
        # Stable: within a cell the polygons stay in ascending order.
        order = np.argsort(cell, kind="stable")
        self._candidates = owner[order]
        cell_count = self._columns * self._rows
        self._cell_start = ragged.offsets_from_lengths(np.bincount(cell.astype(np.intp), minlength=cell_count))
        self._answer = self._cell_answers(extent)

    def _square(self, cell: np.ndarray, extent: float) -> Tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray]:
        """Corners (x0, y0, x1, y1) of each cell's square, widened past what a point's
        rounded cell index can stray."""
        slack = 1e-9 * self._cell + 1e-12 * extent
        x0 = self._min[0] + (cell % self._columns) * self._cell - slack
        y0 = self._min[1] + (cell // self._columns) * self._cell - slack
        return x0, y0, x0 + self._cell + 2 * slack, y0 + self._cell + 2 * slack

    def _cross_range(self, polygon: np.ndarray, cell: np.ndarray, extent: float, inward: bool) -> np.ndarray:
        """For each (polygon, cell) pair, whether every side has the whole cell on its
        inner side (inward) or some side has it wholly beyond (not inward), with a
        margin that rounding cannot cross."""
        x0, y0, x1, _ = self._square(cell, extent)
        size = x1 - x0
        lengths = self._lengths[polygon]
        first = self._offsets[polygon]
        result = np.full(len(polygon), inward)
        for j in range(int(lengths.max()) if len(lengths) else 0):
            at = np.flatnonzero(lengths > j) if j >= 3 else slice(None)
            side = first[at] + j
            ax, ay, ex, ey = self._ax[side], self._ay[side], self._ex[side], self._ey[side]
            margin = 1e-12 * (np.abs(ex) + np.abs(ey)) * extent
            # The cross product is linear over the square: its extremes lie at the
            # corners picked by the signs of the side's direction.
            base = ex * (y0[at] - ay) - ey * (x0[at] - ax)
            if inward:
                result[at] &= base + size[at] * (np.minimum(ex, 0) + np.minimum(-ey, 0)) > margin
            else:
                result[at] |= base + size[at] * (np.maximum(ex, 0) + np.maximum(-ey, 0)) < -margin
        return result

    def _cells(self, x: np.ndarray, y: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
        # One expression for polygons and points: a point inside a polygon's bounding
        # box always falls in one of that box's cells.
        column = np.clip(np.floor((x - self._min[0]) / self._cell), 0, self._columns - 1).astype(np.int64)
        row = np.clip(np.floor((y - self._min[1]) / self._cell), 0, self._rows - 1).astype(np.int64)
        return column, row

    def _cell_answers(self, extent: float) -> np.ndarray:
        counts = ragged.lengths(self._cell_start)
        answer = np.where(counts == 0, -1, MIXED).astype(np.int64)
        full = np.flatnonzero(counts > 0)
        first = self._candidates[self._cell_start[full]]
        # A cell wholly inside its lowest-index candidate answers that candidate for
        # every point it can receive.
        holds = self._cross_range(first, full, extent, inward=True)
        answer[full[holds]] = first[holds]
        return answer

    def locate(self, x: np.ndarray, y: np.ndarray) -> np.ndarray:
        """int64 polygon index of each point, -1 where none contains it."""
        result = np.empty(len(x), dtype=np.int64)
        for begin in range(0, len(x), CHUNK):
            result[begin:begin + CHUNK] = self._locate_chunk(x[begin:begin + CHUNK], y[begin:begin + CHUNK])
        return result

    def _locate_chunk(self, x: np.ndarray, y: np.ndarray) -> np.ndarray:
        result = np.full(len(x), -1, dtype=np.int64)
        within = np.flatnonzero((x >= self._min[0]) & (x <= self._max[0]) & (y >= self._min[1]) & (y <= self._max[1]))
        column, row = self._cells(x[within], y[within])
        cell = row * self._columns + column
        answer = self._answer[cell]
        result[within] = answer
        mixed = answer == MIXED
        points, cell = within[mixed], cell[mixed]
        # Every (point, candidate) pair, then every side of each candidate.
        pair_counts = ragged.lengths(self._cell_start)[cell]
        pairs = ragged.offsets_from_lengths(pair_counts)
        pair_point, candidate = ragged.ranges(self._cell_start[cell], pairs)
        polygon = self._candidates[candidate]
        sides = ragged.offsets_from_lengths(self._lengths[polygon])
        pair_of_side, side = ragged.ranges(self._offsets[polygon], sides)
        px, py = x[points][pair_point][pair_of_side], y[points][pair_point][pair_of_side]
        inside = self._ex[side] * (py - self._ay[side]) - self._ey[side] * (px - self._ax[side]) >= 0
        pair_inside = np.logical_and.reduceat(inside, ragged.starts(sides)) if len(side) else inside
        # Candidates ascend within a cell: the smallest containing one is the first.
        found = np.where(pair_inside, polygon, np.iinfo(np.int64).max)
        best = np.full(len(points), np.iinfo(np.int64).max)
        nonempty = pair_counts > 0
        if np.any(nonempty):
            best[nonempty] = np.minimum.reduceat(found, ragged.starts(pairs)[nonempty])
        result[points] = np.where(best == np.iinfo(np.int64).max, -1, best)
        return result
