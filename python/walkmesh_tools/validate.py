"""Checks of node and edge tables before a search reads them: what `find_path`
would refuse (an index or an edge run outside its table) and what makes its answers
wrong or odd (overlapping runs, a portal crossed one way only, a cost below the
estimate, a zero-length portal, a self-loop, a non-finite coordinate)."""
from __future__ import annotations

from dataclasses import dataclass
from typing import List

import numpy as np
import numpy.typing as npt

from .records import EDGE_DTYPE, NODE_DTYPE

__all__ = ["Problem", "PROBLEM_KINDS", "validate"]

PROBLEM_KINDS = ("run_outside", "to_outside", "overlapping_runs", "no_reverse", "cost_below_estimate",
                 "zero_length_portal", "self_loop", "not_finite")


@dataclass(frozen=True)
class Problem:
    """One problem: its kind (one of PROBLEM_KINDS), the node and the edge it is about
    (-1 where none), and a sentence saying what is wrong."""
    kind: str
    node: int
    edge: int
    message: str

    def __str__(self) -> str:
        return self.message


def _as_table(array: npt.ArrayLike, dtype: np.dtype, name: str) -> np.ndarray:
    array = np.asarray(array)
    if array.ndim != 1 or array.dtype != dtype:
        raise TypeError(f"{name} must be a one-dimensional array of {dtype}, not {array.ndim}-D {array.dtype}")
    return array


def estimates(from_x: np.ndarray, from_y: np.ndarray, to_x: np.ndarray, to_y: np.ndarray) -> np.ndarray:
    """The search's estimate between float32 points: float32 differences, products,
    sum and square root, truncated and saturated to uint32. Each step runs in float64
    and is rounded to float32 at once, which gives the float32 result exactly on
    every platform (NumPy's float32 square root is approximate on 32-bit ARM)."""
    def f32(values: np.ndarray) -> np.ndarray:
        return values.astype(np.float32).astype(np.float64)

    dx = f32(to_x.astype(np.float64) - from_x.astype(np.float64))
    dy = f32(to_y.astype(np.float64) - from_y.astype(np.float64))
    with np.errstate(invalid="ignore", over="ignore"):
        root = f32(np.sqrt(f32(f32(dy * dy) + f32(dx * dx))))
        return np.where(root >= 0, np.minimum(root, 2.0**32 - 1), 0).astype(np.uint64)


def validate(nodes: npt.ArrayLike, edges: npt.ArrayLike) -> List[Problem]:
    """Every problem found in the tables, grouped by kind; an empty list when there is
    none. Edges outside every node's run are never read and are not checked.

    >>> import numpy as np, walkmesh_tools as tools
    >>> nodes = np.zeros(2, tools.NODE_DTYPE); edges = np.zeros(1, tools.EDGE_DTYPE)
    >>> nodes["edge_start"], nodes["edge_count"] = [0, 1], [1, 0]
    >>> edges[0] = (1, 0, (0, 0), (0, 1), 0)
    >>> [p.kind for p in tools.validate(nodes, edges)]
    ['no_reverse']
    """
    nodes = _as_table(nodes, NODE_DTYPE, "nodes")
    edges = _as_table(edges, EDGE_DTYPE, "edges")
    node_count, edge_count = len(nodes), len(edges)
    problems: List[Problem] = []
    start = nodes["edge_start"].astype(np.int64)
    end = start + nodes["edge_count"].astype(np.int64)

    for i in np.flatnonzero(end > edge_count).tolist():
        problems.append(Problem("run_outside", i, -1, f"node {i}'s edge run [{start[i]}, {end[i]}) ends past the "
                                                      f"edge table ({edge_count} edges)"))

    # Who owns each edge: runs sorted by start; where runs overlap, one of them.
    runs = np.flatnonzero((end <= edge_count) & (end > start))
    runs = runs[np.lexsort((runs, start[runs]))]
    run_start, run_end = start[runs], end[runs]
    reach = np.maximum.accumulate(run_end) if len(runs) else run_end
    holder = np.maximum.accumulate(np.where(run_end == reach, np.arange(len(runs)), 0)) if len(runs) else runs
    for r in np.flatnonzero(run_start[1:] < reach[:-1]).tolist():
        a, b = runs[holder[r]], runs[r + 1]
        problems.append(Problem("overlapping_runs", int(b), int(run_start[r + 1]),
                                f"the edge runs of node {a} [{start[a]}, {end[a]}) and node {b} [{start[b]}, {end[b]}) "
                                "overlap"))
    owner = np.full(edge_count, -1, dtype=np.int64)
    if len(runs):
        index = np.arange(edge_count)
        run_of = np.searchsorted(run_start, index, side="right") - 1
        inside = run_of >= 0
        rc = np.maximum(run_of, 0)
        own = inside & (index < run_end[rc])
        shared = inside & ~own & (index < reach[rc])
        owner[own] = runs[rc[own]]
        owner[shared] = runs[holder[rc[shared]]]

    to = edges["to"].astype(np.int64)
    for k in np.flatnonzero(to >= node_count).tolist():
        of = f" of node {owner[k]}" if owner[k] >= 0 else ""
        problems.append(Problem("to_outside", int(owner[k]), k, f"edge {k}{of} leads to node {to[k]}, but there are "
                                                                f"{node_count} nodes"))

    cx, cy = nodes["centroid"]["x"], nodes["centroid"]["y"]
    lx, ly = edges["left"]["x"], edges["left"]["y"]
    rx, ry = edges["right"]["x"], edges["right"]["y"]
    checked = np.flatnonzero((owner >= 0) & (to < node_count))
    u, v = owner[checked], to[checked]
    finite_portal = np.isfinite(lx) & np.isfinite(ly) & np.isfinite(rx) & np.isfinite(ry)

    mirrored = checked[finite_portal[checked]]

    def keys(a: np.ndarray, b: np.ndarray, px: np.ndarray, py: np.ndarray, qx: np.ndarray,
             qy: np.ndarray) -> np.ndarray:
        # Bit patterns of + 0 make -0.0 and 0.0 the same corner.
        zero = np.float32(0)
        columns = [a.astype(np.uint32), b.astype(np.uint32)] + [
            (c + zero).astype(np.float32).view(np.uint32) for c in (px, py, qx, qy)]
        return np.ascontiguousarray(np.stack(columns, axis=1)).view(np.dtype((np.void, 24))).ravel()

    forward = keys(owner[mirrored], to[mirrored], lx[mirrored], ly[mirrored], rx[mirrored], ry[mirrored])
    backward = keys(to[mirrored], owner[mirrored], rx[mirrored], ry[mirrored], lx[mirrored], ly[mirrored])
    for k in mirrored[~np.isin(backward, forward)].tolist():
        problems.append(Problem("no_reverse", int(owner[k]), k,
                                f"edge {k} from node {owner[k]} to node {to[k]} has no edge back from node {to[k]} "
                                "through the same portal"))

    estimate = estimates(cx[u], cy[u], cx[v], cy[v])
    cost = edges["cost"][checked].astype(np.uint64)
    for j in np.flatnonzero(cost < estimate).tolist():
        k = int(checked[j])
        problems.append(Problem("cost_below_estimate", int(u[j]), k,
                                f"edge {k} from node {u[j]} to node {v[j]} costs {cost[j]}, below the straight-line "
                                f"estimate {estimate[j]} between their centroids: paths may not be shortest"))

    for k in checked[(lx[checked] == rx[checked]) & (ly[checked] == ry[checked])].tolist():
        problems.append(Problem("zero_length_portal", int(owner[k]), k,
                                f"edge {k} from node {owner[k]} to node {to[k]} has a zero-length portal at "
                                f"({lx[k]}, {ly[k]})"))

    for k in checked[u == v].tolist():
        problems.append(Problem("self_loop", int(owner[k]), k, f"edge {k} of node {owner[k]} leads back to node "
                                                               f"{owner[k]}"))

    for i in np.flatnonzero(~(np.isfinite(cx) & np.isfinite(cy))).tolist():
        problems.append(Problem("not_finite", i, -1, f"node {i}'s centroid ({cx[i]}, {cy[i]}) is not finite"))
    for k in checked[~finite_portal[checked]].tolist():
        problems.append(Problem("not_finite", int(owner[k]), k,
                                f"edge {k} of node {owner[k]} has a portal with a non-finite end: "
                                f"({lx[k]}, {ly[k]}) to ({rx[k]}, {ry[k]})"))
    return problems
