"""Grid maps: walkable cells merged into rectangles, and the text grid format of the
pathfinding benchmarks (`.map`) that the shared scenario files come from.

The `.map` format: a header of `type NAME`, `height H`, `width W` and `map`, then H
lines of W characters; `.`, `G` and `S` are passable, every other character blocks.
Line y holds the cells of row y, so the cell in column x of line y covers the square
from (x, y) to (x + 1, y + 1).
"""
from __future__ import annotations

import math
from pathlib import Path
from typing import Any, Tuple

import numpy as np

from .polygons import RaggedPolygons

__all__ = ["grid_polygons", "read_map"]

PASSABLE = b".GS"


def _rectangles(free: np.ndarray) -> Tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray]:
    """(x0, x1, y0, y1), ends excluded: the runs of free cells of each row, with the
    runs of the same columns in consecutive rows stacked into one rectangle."""
    height, width = free.shape
    padded = np.zeros((height, width + 2), dtype=np.int8)
    padded[:, 1:-1] = free
    steps = np.diff(padded, axis=1)
    row, x0 = np.nonzero(steps == 1)
    _, x1 = np.nonzero(steps == -1)
    order = np.lexsort((row, x1, x0))
    row, x0, x1 = row[order], x0[order], x1[order]
    same = np.r_[False, (x0[1:] == x0[:-1]) & (x1[1:] == x1[:-1]) & (row[1:] == row[:-1] + 1)]
    first = np.flatnonzero(~same)
    last = np.r_[first[1:], len(row)] - 1
    # Row by row, left to right, by their first row.
    by_row = np.lexsort((x0[first], row[first]))
    first, last = first[by_row], last[by_row]
    return x0[first], x1[first], row[first], row[last] + 1


def grid_polygons(walkable: Any, cell_size: float = 1.0,
                  origin: Tuple[float, float] = (0.0, 0.0)) -> Tuple[np.ndarray, RaggedPolygons]:
    """(vertices, rectangles) covering exactly the walkable cells of a 2-D boolean
    array whose row index is y: cell (y, x) is the square from origin + (x, y) *
    cell_size to origin + (x + 1, y + 1) * cell_size. Rectangles touch where cells do;
    where one's corner lies on another's side, `NavMesh` splits that side."""
    free = np.asarray(walkable)
    if free.dtype != np.bool_:
        raise TypeError(f"walkable must be an array of booleans, not {free.dtype}")
    if free.ndim != 2:
        raise ValueError(f"walkable must be a 2-D array (rows are y), not {free.ndim}-D")
    size = float(cell_size)
    if not (math.isfinite(size) and size > 0):
        raise ValueError(f"cell_size must be finite and positive, not {cell_size}")
    base = np.asarray(origin, dtype=np.float64)
    if base.shape != (2,) or not np.all(np.isfinite(base)):
        raise ValueError(f"origin must be one finite point (x, y), not {origin!r}")
    if not free.any():
        raise ValueError("walkable has no walkable cell")
    x0, x1, y0, y1 = _rectangles(free)
    # Corners counter-clockwise with y up: (x0, y0), (x1, y0), (x1, y1), (x0, y1).
    xs = np.stack([x0, x1, x1, x0], axis=1).reshape(-1)
    ys = np.stack([y0, y0, y1, y1], axis=1).reshape(-1)
    key = ys.astype(np.int64) * (free.shape[1] + 1) + xs
    used, corners = np.unique(key, return_inverse=True)
    columns, rows = used % (free.shape[1] + 1), used // (free.shape[1] + 1)
    # One expression per grid line, so that corners on one line have equal coordinates.
    vertices = np.stack([base[0] + columns * size, base[1] + rows * size], axis=1)
    offsets = np.arange(len(x0) + 1, dtype=np.int64) * 4
    return vertices, RaggedPolygons(offsets, corners.reshape(-1).astype(np.int64))


def read_map(path: Any) -> np.ndarray:
    """The walkable cells of a `.map` file as a boolean array (rows are y). The
    declared height and width are checked against the lines the file holds before
    anything of that size is made."""
    path = Path(path)
    lines = path.read_bytes().split(b"\n")
    header = {}
    at = 0
    while at < len(lines) and lines[at].strip() != b"map":
        words = lines[at].split()
        if len(words) == 2:
            header[words[0].decode("ascii", "replace").lower()] = words[1]
        elif words:
            raise ValueError(f"{path}: line {at + 1} of the header is not 'name value'")
        at += 1
    if at == len(lines):
        raise ValueError(f"{path}: no 'map' line; not a grid map file")
    sizes = []
    for name in ("height", "width"):
        if name not in header:
            raise ValueError(f"{path}: the header has no {name}")
        try:
            sizes.append(int(header[name]))
        except ValueError:
            raise ValueError(f"{path}: the {name} {header[name]!r} is not an integer") from None
    height, width = sizes
    rows = [line.rstrip(b"\r") for line in lines[at + 1:]]
    while rows and not rows[-1]:
        rows.pop()
    if height <= 0 or width <= 0:
        raise ValueError(f"{path}: a map needs a positive height and width, not {height} x {width}")
    if len(rows) != height:
        raise ValueError(f"{path}: the header declares {height} rows, the file holds {len(rows)}")
    short = [y for y, row in enumerate(rows) if len(row) != width]
    if short:
        y = short[0]
        raise ValueError(f"{path}: row {y} has {len(rows[y])} cells, the header declares {width}")
    cells = np.frombuffer(b"".join(rows), dtype=np.uint8).reshape(height, width)
    return np.isin(cells, np.frombuffer(PASSABLE, dtype=np.uint8))
