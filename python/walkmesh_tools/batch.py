"""Many queries in one call: `find_paths` runs them on worker threads with the
interpreter lock released and returns every path in one `Paths` (offsets into one
flat array of points, so no Python object is made per path)."""
from __future__ import annotations

import os
from typing import Any, Iterable, Iterator, Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _native
from .arguments import index_argument
from .errors import QueryError
from .progress import ProgressArgument, progress_callback

__all__ = ["Paths", "find_paths"]

class Paths:
    """The paths of a batch: query i's points are `points[offsets[i]:offsets[i + 1]]`,
    and `reached[i]` tells whether query i reached its target.

    `len(paths)` is the number of queries, `paths[i]` the (k, 2) view of query i's
    points, and iterating gives those views in query order. The points are float32 for
    `find_paths`; the exact shortest paths of `NavMesh.shortest_paths` have float64
    points and `lengths` (float64, one per query, 0 where unreached), which is None
    otherwise.
    """

    __slots__ = ("offsets", "points", "reached", "lengths")

    def __init__(self, offsets: npt.NDArray[np.int64], points: npt.NDArray[np.floating],
                 reached: npt.NDArray[np.bool_], lengths: Optional[npt.NDArray[np.float64]] = None) -> None:
        self.offsets = offsets
        self.points = points
        self.reached = reached
        self.lengths = lengths

    def __len__(self) -> int:
        return len(self.reached)

    def __getitem__(self, query: int) -> npt.NDArray[np.float32]:
        count = len(self.reached)
        index = index_argument("query", query)
        if index < 0:
            index += count
        if not 0 <= index < count:
            raise IndexError(f"query {query} is outside the batch ({count} queries)")
        return self.points[self.offsets[index]:self.offsets[index + 1]]

    def __iter__(self) -> Iterator[npt.NDArray[np.float32]]:
        for index in range(len(self.reached)):
            yield self.points[self.offsets[index]:self.offsets[index + 1]]

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Paths):
            return NotImplemented
        if self.lengths is None or other.lengths is None:
            lengths_equal = self.lengths is None and other.lengths is None
        else:
            lengths_equal = np.array_equal(self.lengths, other.lengths)
        return (lengths_equal and np.array_equal(self.offsets, other.offsets)
                and np.array_equal(self.reached, other.reached) and np.array_equal(self.points, other.points))

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return f"Paths({len(self)} queries, {len(self.points)} points, {int(self.reached.sum())} reached)"

    @staticmethod
    def concatenate(parts: Iterable["Paths"]) -> "Paths":
        """One Paths of the queries of `parts`, in order."""
        parts = list(parts)
        if not parts:
            return Paths(np.zeros(1, np.int64), np.zeros((0, 2), np.float32), np.zeros(0, bool))
        starts = np.cumsum([0] + [len(part.points) for part in parts[:-1]])
        offsets = np.concatenate([parts[0].offsets[:1]] +
                                 [part.offsets[1:] + start for part, start in zip(parts, starts)])
        lengths = None
        if all(part.lengths is not None for part in parts):
            lengths = np.concatenate([part.lengths for part in parts])
        return Paths(offsets.astype(np.int64), np.concatenate([part.points for part in parts]),
                     np.concatenate([part.reached for part in parts]), lengths)


def _node_indices(name: str, values: npt.ArrayLike, count: Optional[int]) -> np.ndarray:
    array = np.asarray(values)
    if array.ndim != 1:
        raise ValueError(f"{name} must be one-dimensional, got shape {array.shape}")
    if array.dtype.kind not in "iu" and not (array.size == 0 and array.dtype.kind == "f"):
        raise TypeError(f"{name} must be an array of integers, got dtype {array.dtype}")
    if count is not None and len(array) != count:
        raise ValueError(f"{name} has {len(array)} entries, starts has {count}")
    if array.dtype.kind == "u" and array.dtype.itemsize == 8:
        # Beyond int64 is beyond every node table: keep such values out of range.
        array = np.minimum(array, np.iinfo(np.int64).max)
    return np.ascontiguousarray(array, dtype=np.int64)


def _points(name: str, values: npt.ArrayLike, count: int) -> np.ndarray:
    array = np.asarray(values)
    if array.dtype.kind not in "iuf" and not (array.size == 0 and array.dtype == object):
        raise TypeError(f"{name} must be an array of real numbers, got dtype {array.dtype}")
    if array.shape != (count, 2):
        raise ValueError(f"{name} must have shape ({count}, 2), got {array.shape}")
    # Through float64, as walkmesh.Point converts a number, then rounded once.
    with np.errstate(over="ignore"):
        points = np.ascontiguousarray(array.astype(np.float64).astype(np.float32))
    bad = np.flatnonzero(~np.isfinite(points).all(axis=1))
    if len(bad):
        query = int(bad[0])
        raise QueryError(f"{name}[{query}] is not finite: {array[query].tolist()}", query=query)
    return points


def find_paths(nodes: npt.NDArray[np.void], edges: npt.NDArray[np.void], starts: npt.ArrayLike,
               targets: npt.ArrayLike, target_points: npt.ArrayLike, *, start_points: Optional[npt.ArrayLike] = None,
               straight: bool = False, threads: Optional[int] = None, max_expansions: Optional[int] = None,
               partial: bool = False, progress: ProgressArgument = False) -> Paths:
    """Runs query i from `starts[i]` to `targets[i]` for every i and returns their paths.

    With `straight=False` query i's points are exactly `walkmesh.find_path`'s (portal
    midpoints, then `target_points[i]`; that point alone when the target cannot be
    reached); with `straight=True` they are exactly `straight_path`'s, from
    `start_points[i]`. `max_expansions` and `partial` mean what they mean for
    `corridor` and `straight_path`; a partial route ends at its last node's centroid
    in both modes.

    `starts` and `targets` are one-dimensional integer arrays of one length n, the point
    arrays (n, 2) arrays of real numbers, rounded to 32-bit floats as `walkmesh.Point`
    rounds them. The searches run on `threads` worker threads (None: the usable cores,
    at most 1024; 1 runs them on the calling thread), with the interpreter lock
    released; the tables are held under read borrows meanwhile. Arrays of the wrong
    kind or shape raise TypeError or ValueError before any search runs. A query that
    cannot be answered (a start or target outside the node table, a table
    inconsistency met by its search) raises `QueryError` for the lowest such query,
    with its position as `.query` and the node and edge concerned. Ctrl-C stops the
    workers between queries.

    `progress=True` shows the batch's progress: a tqdm bar when tqdm is installed
    (`pip install 'walkmesh[progress]'`), otherwise a line on standard error every
    second. A callable is called as `progress(done, total)` from the calling thread
    every tenth of a second or so, and once more with `done == total` when the batch
    has run; an exception it raises stops the batch. The workers only count.

    >>> import walkmesh_tools as tools
    >>> mesh = tools.NavMesh.load(tools._small_mesh_path())
    >>> paths = tools.find_paths(mesh.nodes, mesh.edges, [0, 3], [3, 0], [(11, 1), (1, 1)])
    >>> len(paths), bool(paths.reached.all())
    (2, True)
    """
    starts, targets, target_points, start_points = prepare_queries(
        starts, targets, target_points, start_points, straight)
    offsets, points, reached = _native.find_paths(
        nodes, edges, starts, targets, target_points, start_points, straight, threads, max_expansions, partial,
        progress_callback(progress, "find_paths"))
    return Paths(offsets, points, reached)


def prepare_queries(starts: npt.ArrayLike, targets: npt.ArrayLike, target_points: npt.ArrayLike,
                    start_points: Optional[npt.ArrayLike], straight: bool
                    ) -> Tuple[np.ndarray, np.ndarray, np.ndarray, Optional[np.ndarray]]:
    """The query arrays as the native batch takes them: int64 node indices and float32
    (n, 2) points, C-contiguous; TypeError or ValueError naming the first bad query."""
    starts = _node_indices("starts", starts, None)
    count = len(starts)
    targets = _node_indices("targets", targets, count)
    target_points = _points("target_points", target_points, count)
    if straight:
        if start_points is None:
            raise ValueError("start_points is required when straight=True")
        start_points = _points("start_points", start_points, count)
    else:
        start_points = None
    return starts, targets, target_points, start_points


def shortest_paths(mesh: Any, start_polygons: np.ndarray, starts: np.ndarray, target_polygons: np.ndarray,
                   targets: np.ndarray, *, threads: Optional[int] = None, progress: ProgressArgument = False) -> Paths:
    """The exact shortest paths of located queries over a native mesh (what
    `NavMesh.shortest_paths` runs): int64 polygons and float64 (n, 2) points."""
    offsets, points, reached, lengths = _native.shortest_paths(
        mesh, np.ascontiguousarray(start_polygons, dtype=np.int64), np.ascontiguousarray(starts, dtype=np.float64),
        np.ascontiguousarray(target_polygons, dtype=np.int64), np.ascontiguousarray(targets, dtype=np.float64),
        threads, progress_callback(progress, "shortest_paths"))
    return Paths(offsets, points, reached, lengths)
