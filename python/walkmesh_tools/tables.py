"""Node and edge tables from convex polygons. The C++ benchmark (bench/mesh.cpp)
builds the same tables by the same rules, byte for byte:

- node i is polygon i; its centroid is the mean of the polygon's vertices, summed
  one corner at a time in double precision, divided once, rounded once to float32;
- node i's edges follow its sides in polygon order, one per side that another
  polygon shares, stored as one contiguous run;
- an edge's portal is that side, left = the corner before it (v_(j-1)), right =
  its own corner (v_j); its cost is the ceiling of the double-precision distance
  between the two float32 centroids, so the straight-line estimate never
  overestimates. With cost factors (each at least 1), the ceiling is multiplied by
  the mean of the two polygons' factors and rounded up again.

Built this way the tables need no validation beyond what rounding to float32 can
bring into them (validate.rounding_problems).
"""
from __future__ import annotations

from typing import Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import ragged
from .polygons import corner_links
from .records import EDGE_DTYPE, NODE_DTYPE
from .validate import rounding_problems

__all__ = ["build_tables", "check_cost_factors"]

UINT32_MAX = 2**32 - 1


def check_cost_factors(cost_factors: Optional[npt.ArrayLike], polygon_count: int) -> Optional[np.ndarray]:
    if cost_factors is None:
        return None
    factors = np.asarray(cost_factors, dtype=np.float64)
    if factors.shape != (polygon_count,):
        raise ValueError(f"cost_factors needs one factor per polygon ({polygon_count}), got shape {factors.shape}")
    bad = ~(factors >= 1.0) | ~np.isfinite(factors)
    if np.any(bad):
        i = int(np.flatnonzero(bad)[0])
        raise ValueError(f"polygon {i} has cost factor {factors[i]}; a factor must be finite and at least 1, "
                         "or the estimate could overestimate")
    return factors


def centroids(vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray) -> np.ndarray:
    """(P, 2) float32: the mean of each polygon's corners."""
    lengths = ragged.lengths(offsets)
    sums = np.zeros((len(lengths), 2))
    # Longest polygons first, so that step j adds corner j to a prefix of them: the
    # sums run one corner at a time, in polygon order, as the C++ reader's do.
    order = np.argsort(-lengths, kind="stable")
    descending = lengths[order]
    for j in range(int(descending[0]) if len(descending) else 0):
        active = order[:np.count_nonzero(descending > j)]
        sums[active] += vertices[corners[offsets[active] + j]]
    return (sums / lengths[:, None]).astype(np.float32)


def build_tables(vertices: np.ndarray, offsets: np.ndarray, corners: np.ndarray, twin: np.ndarray,
                 cost_factors: Optional[np.ndarray] = None) -> Tuple[np.ndarray, np.ndarray]:
    """(nodes, edges) as NODE_DTYPE and EDGE_DTYPE arrays. Raises ValueError when
    rounding to float32 leaves a problem in them (validate's words for it)."""
    polygon, before, _ = corner_links(offsets)
    count = len(offsets) - 1
    centre = centroids(vertices, offsets, corners)
    crossed = np.flatnonzero(twin >= 0)
    if len(crossed) > UINT32_MAX:
        raise ValueError(f"{len(crossed)} edges do not fit the table's 32-bit indices")
    source, target = polygon[crossed], polygon[twin[crossed]]
    delta = centre[target].astype(np.float64) - centre[source].astype(np.float64)
    cost = np.ceil(np.sqrt(delta[:, 0] * delta[:, 0] + delta[:, 1] * delta[:, 1]))
    if cost_factors is not None:
        cost = np.ceil(cost * ((cost_factors[source] + cost_factors[target]) / 2))
    if np.any(cost > UINT32_MAX):
        k = int(np.flatnonzero(cost > UINT32_MAX)[0])
        raise ValueError(f"the edge from polygon {source[k]} to polygon {target[k]} would cost {cost[k]:.0f}, "
                         "more than a 32-bit cost holds")
    edge_count = np.bincount(source.astype(np.intp), minlength=count)
    nodes = np.zeros(count, dtype=NODE_DTYPE)
    nodes["centroid"]["x"] = centre[:, 0]
    nodes["centroid"]["y"] = centre[:, 1]
    nodes["edge_start"] = ragged.offsets_from_lengths(edge_count)[:-1]
    nodes["edge_count"] = edge_count
    edges = np.zeros(len(crossed), dtype=EDGE_DTYPE)
    edges["to"] = target
    edges["cost"] = cost
    left = vertices[corners[before[crossed]]].astype(np.float32)
    right = vertices[corners[crossed]].astype(np.float32)
    edges["left"]["x"], edges["left"]["y"] = left[:, 0], left[:, 1]
    edges["right"]["x"], edges["right"]["y"] = right[:, 0], right[:, 1]
    problems = rounding_problems(nodes, edges, source)
    if problems:
        shown = "; ".join(str(p) for p in problems[:3])
        more = f" (and {len(problems) - 3} more)" if len(problems) > 3 else ""
        raise ValueError(f"the tables built from these polygons have problems: {shown}{more}")
    return nodes, edges
