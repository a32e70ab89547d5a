"""Routes from the search `walkmesh.find_path` runs: the node corridor and the straight
path through it.

Both take the tables exactly as `walkmesh.find_path` does (one-dimensional arrays of
node and edge records, read in place and held under a read borrow for the call) and
run the same search, with the same tie order: the corridor's portals are the ones
whose midpoints `find_path` returns.
"""
from __future__ import annotations

from typing import TYPE_CHECKING, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

from . import _native

if TYPE_CHECKING:
    import walkmesh

__all__ = ["corridor", "straight_path"]

PointLike = Union["walkmesh.Point", Sequence[float], np.ndarray]


def corridor(nodes: npt.NDArray[np.void], edges: npt.NDArray[np.void], start: int, target: int, *,
             max_expansions: Optional[int] = None, partial: bool = False) -> npt.NDArray[np.uint32]:
    """The nodes of the route from `start` to `target`, both included, as a uint32 array.

    Consecutive nodes are joined by the first edge of the earlier node's run that leads
    to the later one: the edge whose portal midpoint `walkmesh.find_path` returns.
    `start == target` gives `[start]`; an unreachable target gives an empty array, or
    with `partial=True` the route to the expanded node the search estimated closest to
    the target (the first expanded of equals; `[start]` when nothing was expanded).
    `max_expansions` stops the search after that many expansions (queue entries a
    cheaper one superseded do not count); a target not reached by then counts as
    unreachable.

    Errors: TypeError or ValueError naming the argument for tables of the wrong kind;
    `walkmesh_tools.QueryError` (a ValueError) naming the node, and the edge where one
    is concerned, for a start or target outside the node table or a table
    inconsistency met by the search.

    >>> import walkmesh_tools as tools
    >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
    >>> route = tools.corridor(mesh.nodes, mesh.edges, 0, 3)
    >>> int(route[0]), int(route[-1])
    (0, 3)
    """
    return _native.corridor(nodes, edges, start, target, max_expansions, partial)


def straight_path(nodes: npt.NDArray[np.void], edges: npt.NDArray[np.void], start: int, target: int,
                  start_point: PointLike, target_point: PointLike, *,
                  max_expansions: Optional[int] = None, partial: bool = False) -> npt.NDArray[np.float32]:
    """The shortest polyline from `start_point` to `target_point` through the portals of
    the corridor, in order, as a (k, 2) float32 array.

    Row 0 is `start_point` and the last row `target_point` (a partial route ends at its
    last node's centroid instead); every row between is a portal end point where the
    path turns: no row repeats the one before it or lies on the line between its
    neighbours. The sides of each portal are taken from the geometry,
    so tables of either handedness, with y up or down, give the same path. Points may
    be `walkmesh.Point` objects, pairs of numbers or arrays of two; they are rounded to
    32-bit floats as `walkmesh.Point` rounds them and must be finite. An unreachable
    target without `partial` gives shape (0, 2). The options and errors are those of
    `corridor`.

    >>> import walkmesh_tools as tools
    >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
    >>> path = tools.straight_path(mesh.nodes, mesh.edges, 0, 3, (1.0, 1.0), (11.0, 1.0))
    >>> path[0].tolist(), path[-1].tolist()
    ([1.0, 1.0], [11.0, 1.0])
    """
    return _native.straight_path(nodes, edges, start, target, start_point, target_point,
                                 max_expansions, partial)
