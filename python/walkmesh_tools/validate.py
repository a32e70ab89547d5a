"""Checks of node and edge tables before a search reads them: what `find_path`
would refuse (an index or an edge run outside its table) and what makes its answers
wrong or odd (overlapping runs, a portal crossed one way only, a cost below the
estimate, a zero-length portal, a self-loop, a non-finite coordinate)."""
from __future__ import annotations

from dataclasses import dataclass
from typing import Callable, List, NamedTuple, Tuple

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


class _Runs(NamedTuple):
    """The non-empty edge runs inside the edge table, sorted by start: `node` owns
    each, `reach` is the furthest end of the runs so far and `holder` the position of
    the run that reaches it."""
    node: np.ndarray
    start: np.ndarray
    end: np.ndarray
    reach: np.ndarray
    holder: np.ndarray


class _Edges(NamedTuple):
    """The columns the edge checks read. `owner` is the node whose run holds each edge
    (one of them where runs overlap, -1 for none); `read` lists the edges a search
    can read: inside a run and leading to a node of the table."""
    node_count: int
    cx: np.ndarray
    cy: np.ndarray
    to: np.ndarray
    cost: np.ndarray
    lx: np.ndarray
    ly: np.ndarray
    rx: np.ndarray
    ry: np.ndarray
    owner: np.ndarray
    read: np.ndarray


def _columns(nodes: np.ndarray, edges: np.ndarray, owner: np.ndarray) -> _Edges:
    to = edges["to"].astype(np.int64)
    return _Edges(len(nodes), nodes["centroid"]["x"], nodes["centroid"]["y"], to, edges["cost"],
                  edges["left"]["x"], edges["left"]["y"], edges["right"]["x"], edges["right"]["y"], owner,
                  np.flatnonzero((owner >= 0) & (to < len(nodes))))


def _runs_outside(start: np.ndarray, end: np.ndarray, edge_count: int) -> List[Problem]:
    return [Problem("run_outside", i, -1, f"node {i}'s edge run [{start[i]}, {end[i]}) ends past the edge table "
                                          f"({edge_count} edges)")
            for i in np.flatnonzero(end > edge_count).tolist()]


def _edge_runs(start: np.ndarray, end: np.ndarray, edge_count: int) -> _Runs:
    node = np.flatnonzero((end <= edge_count) & (end > start))
    node = node[np.lexsort((node, start[node]))]
    run_start, run_end = start[node], end[node]
    if not len(node):
        return _Runs(node, run_start, run_end, run_end, node)
    reach = np.maximum.accumulate(run_end)
    holder = np.maximum.accumulate(np.where(run_end == reach, np.arange(len(node)), 0))
    return _Runs(node, run_start, run_end, reach, holder)


def _overlapping_runs(runs: _Runs, start: np.ndarray, end: np.ndarray) -> List[Problem]:
    problems = []
    for r in np.flatnonzero(runs.start[1:] < runs.reach[:-1]).tolist():
        a, b = runs.node[runs.holder[r]], runs.node[r + 1]
        problems.append(Problem("overlapping_runs", int(b), int(runs.start[r + 1]),
                                f"the edge runs of node {a} [{start[a]}, {end[a]}) and node {b} [{start[b]}, {end[b]}) "
                                "overlap"))
    return problems


def _owners(runs: _Runs, edge_count: int) -> np.ndarray:
    """The node whose run holds each edge; where runs overlap, the run that reaches
    furthest; -1 for edges in no run."""
    owner = np.full(edge_count, -1, dtype=np.int64)
    if len(runs.node):
        index = np.arange(edge_count)
        run_of = np.searchsorted(runs.start, index, side="right") - 1
        inside = run_of >= 0
        rc = np.maximum(run_of, 0)
        own = inside & (index < runs.end[rc])
        shared = inside & ~own & (index < runs.reach[rc])
        owner[own] = runs.node[rc[own]]
        owner[shared] = runs.node[runs.holder[rc[shared]]]
    return owner


def _targets_outside(t: _Edges) -> List[Problem]:
    problems = []
    for k in np.flatnonzero(t.to >= t.node_count).tolist():
        of = f" of node {t.owner[k]}" if t.owner[k] >= 0 else ""
        problems.append(Problem("to_outside", int(t.owner[k]), k, f"edge {k}{of} leads to node {t.to[k]}, but there "
                                                                  f"are {t.node_count} nodes"))
    return problems


def _finite_portals(t: _Edges) -> npt.NDArray[np.bool_]:
    finite: npt.NDArray[np.bool_] = np.isfinite(t.lx) & np.isfinite(t.ly) & np.isfinite(t.rx) & np.isfinite(t.ry)
    return finite


def _portal_keys(a: np.ndarray, b: np.ndarray, px: np.ndarray, py: np.ndarray, qx: np.ndarray,
                 qy: np.ndarray) -> np.ndarray:
    """One 24-byte key per edge: its two nodes and its portal's ends, in the given order."""
    # Bit patterns of + 0 make -0.0 and 0.0 the same corner.
    zero = np.float32(0)
    columns = [a.astype(np.uint32), b.astype(np.uint32)] + [
        (c + zero).astype(np.float32).view(np.uint32) for c in (px, py, qx, qy)]
    return np.ascontiguousarray(np.stack(columns, axis=1)).view(np.dtype((np.void, 24))).ravel()


def _no_reverse(t: _Edges) -> List[Problem]:
    m = t.read[_finite_portals(t)[t.read]]
    forward = _portal_keys(t.owner[m], t.to[m], t.lx[m], t.ly[m], t.rx[m], t.ry[m])
    backward = _portal_keys(t.to[m], t.owner[m], t.rx[m], t.ry[m], t.lx[m], t.ly[m])
    return [Problem("no_reverse", int(t.owner[k]), k, f"edge {k} from node {t.owner[k]} to node {t.to[k]} has no "
                                                      f"edge back from node {t.to[k]} through the same portal")
            for k in m[~np.isin(backward, forward)].tolist()]


def _costs_below_estimate(t: _Edges) -> List[Problem]:
    u, v = t.owner[t.read], t.to[t.read]
    estimate = estimates(t.cx[u], t.cy[u], t.cx[v], t.cy[v])
    cost = t.cost[t.read].astype(np.uint64)
    problems = []
    for j in np.flatnonzero(cost < estimate).tolist():
        k = int(t.read[j])
        problems.append(Problem("cost_below_estimate", int(u[j]), k,
                                f"edge {k} from node {u[j]} to node {v[j]} costs {cost[j]}, below the straight-line "
                                f"estimate {estimate[j]} between their centroids: paths may not be shortest"))
    return problems


def _zero_length_portals(t: _Edges) -> List[Problem]:
    r = t.read
    return [Problem("zero_length_portal", int(t.owner[k]), k, f"edge {k} from node {t.owner[k]} to node {t.to[k]} "
                                                              f"has a zero-length portal at ({t.lx[k]}, {t.ly[k]})")
            for k in r[(t.lx[r] == t.rx[r]) & (t.ly[r] == t.ry[r])].tolist()]


def _self_loops(t: _Edges) -> List[Problem]:
    r = t.read
    return [Problem("self_loop", int(t.owner[k]), k, f"edge {k} of node {t.owner[k]} leads back to node {t.owner[k]}")
            for k in r[t.owner[r] == t.to[r]].tolist()]


def _not_finite(t: _Edges) -> List[Problem]:
    problems = [Problem("not_finite", i, -1, f"node {i}'s centroid ({t.cx[i]}, {t.cy[i]}) is not finite")
                for i in np.flatnonzero(~(np.isfinite(t.cx) & np.isfinite(t.cy))).tolist()]
    for k in t.read[~_finite_portals(t)[t.read]].tolist():
        problems.append(Problem("not_finite", int(t.owner[k]), k,
                                f"edge {k} of node {t.owner[k]} has a portal with a non-finite end: "
                                f"({t.lx[k]}, {t.ly[k]}) to ({t.rx[k]}, {t.ry[k]})"))
    return problems


# The checks of the edges a search reads, in the order validate reports them.
_EDGE_CHECKS: Tuple[Callable[[_Edges], List[Problem]], ...] = (
    _targets_outside, _no_reverse, _costs_below_estimate, _zero_length_portals, _self_loops, _not_finite)
# What rounding coordinates to float32 can bring into tables that are otherwise sound
# by construction (one run per node, in node order, every portal mirrored).
_ROUNDING_CHECKS: Tuple[Callable[[_Edges], List[Problem]], ...] = (
    _costs_below_estimate, _zero_length_portals, _not_finite)


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
    start = nodes["edge_start"].astype(np.int64)
    end = start + nodes["edge_count"].astype(np.int64)
    runs = _edge_runs(start, end, len(edges))
    problems = _runs_outside(start, end, len(edges)) + _overlapping_runs(runs, start, end)
    columns = _columns(nodes, edges, _owners(runs, len(edges)))
    for check in _EDGE_CHECKS:
        problems += check(columns)
    return problems


def rounding_problems(nodes: np.ndarray, edges: np.ndarray, source: np.ndarray) -> List[Problem]:
    """What validate finds in tables built from checked polygons, where `source` is
    the node of each edge's run: such tables can only have the problems that rounding
    coordinates to float32 brings (a cost below the estimate, a zero-length portal, a
    non-finite coordinate)."""
    columns = _columns(nodes, edges, source)
    return [problem for check in _ROUNDING_CHECKS for problem in check(columns)]
