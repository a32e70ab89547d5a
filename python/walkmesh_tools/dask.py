"""Batches spread over the workers of a Dask cluster (the optional extra
`walkmesh[dask]`, which installs `distributed`).

    from distributed import Client
    import walkmesh_tools.dask

    client = Client("tcp://scheduler:8786")
    paths = walkmesh_tools.dask.find_paths(client, nodes, edges, starts, targets, target_points)
"""
from __future__ import annotations

from typing import TYPE_CHECKING, Any, Callable, Dict, List, Optional, Sequence

import numpy as np
import numpy.typing as npt

from . import batch
from .arguments import index_argument
from .errors import QueryError
from .progress import ProgressArgument, progress_callback

if TYPE_CHECKING:
    from .navmesh import NavMesh

__all__ = ["find_paths", "shortest_paths"]


def _require_distributed() -> None:
    try:
        import distributed  # noqa: F401
    except ImportError as error:
        raise ImportError("walkmesh_tools.dask needs Dask distributed: pip install 'walkmesh[dask]'") from error


def _run_chunk(nodes: np.ndarray, edges: np.ndarray, first: int, starts: np.ndarray, targets: np.ndarray,
               target_points: np.ndarray, start_points: Optional[np.ndarray], options: Dict[str, Any]) -> batch.Paths:
    """One chunk on a worker; a failing query is named by its position in the whole batch."""
    try:
        return batch.find_paths(nodes, edges, starts, targets, target_points, start_points=start_points, **options)
    except QueryError as error:
        raise error.renumbered(first) from None


def _gather_in_order(client: Any, futures: List[Any], sizes: Sequence[int],
                     report: Optional[Callable[[int, int], Any]]) -> List[batch.Paths]:
    """The chunks' results in order. Chunks are waited for in query order, so the
    error raised is the lowest failing query's, as the local batch reports it."""
    total, done = sum(sizes), 0
    results = []
    try:
        for future, size in zip(futures, sizes):
            results.append(future.result())
            done += size
            if report is not None:
                report(done, total)
        return results
    finally:
        # After a failure the other chunks need not run to the end.
        client.cancel(futures)


def find_paths(client: Any, nodes: npt.NDArray[np.void], edges: npt.NDArray[np.void], starts: npt.ArrayLike,
               targets: npt.ArrayLike, target_points: npt.ArrayLike, *, chunk_size: int = 10_000,
               start_points: Optional[npt.ArrayLike] = None, straight: bool = False,
               threads: Optional[int] = 1, max_expansions: Optional[int] = None, partial: bool = False,
               progress: ProgressArgument = False) -> batch.Paths:
    """`walkmesh_tools.find_paths` over the workers of `client` (a `distributed.Client`).

    The tables are scattered to every worker once; the queries go out in chunks of
    `chunk_size`, each run by `find_paths` on a worker with `threads` threads (default
    1: Dask already runs one task per worker thread); the chunks' paths come back as
    one `Paths`, equal to the local result. `max_expansions` and `partial` are
    `find_paths`'. Every argument is checked before anything is sent; a query that
    cannot be answered raises the `QueryError` of the lowest such query of the whole
    batch, as the local batch does. `progress` is `find_paths`', counting the queries
    of the chunks that have come back.
    """
    _require_distributed()
    chunk = index_argument("chunk_size", chunk_size)
    if chunk < 1:
        raise ValueError(f"argument 'chunk_size': must be at least 1, got {chunk}")
    report = progress_callback(progress, "walkmesh_tools.dask.find_paths")
    starts, targets, target_points, start_points = batch.prepare_queries(
        starts, targets, target_points, start_points, straight)
    options: Dict[str, Any] = dict(straight=straight, threads=threads, max_expansions=max_expansions, partial=partial)
    # An empty local batch checks the tables and every option as each chunk will,
    # before anything is sent.
    empty = batch.find_paths(nodes, edges, starts[:0], targets[:0], target_points[:0],
                             start_points=None if start_points is None else start_points[:0], **options)
    count = len(starts)
    if count == 0:
        if report is not None:
            report(0, 0)
        return empty
    # Keys of their own: scattering equal tables again must not meet the keys of a
    # previous call's tables while the cluster lets those go.
    tables = client.scatter([nodes, edges], broadcast=True, hash=False)
    firsts = list(range(0, count, chunk))
    pieces = [slice(first, first + chunk) for first in firsts]
    futures = client.map(
        _run_chunk, [tables[0]] * len(pieces), [tables[1]] * len(pieces), firsts,
        [starts[p] for p in pieces], [targets[p] for p in pieces], [target_points[p] for p in pieces],
        [None if start_points is None else start_points[p] for p in pieces], [options] * len(pieces),
        pure=False)
    sizes = [len(starts[p]) for p in pieces]
    return batch.Paths.concatenate(_gather_in_order(client, futures, sizes, report))


def _run_shortest_chunk(mesh: "NavMesh", first: int, starts: np.ndarray, targets: np.ndarray,
                        threads: Optional[int]) -> batch.Paths:
    """One chunk of shortest paths on a worker, failures renumbered for the whole batch."""
    try:
        return mesh.shortest_paths(starts, targets, threads=threads)
    except QueryError as error:
        raise error.renumbered(first) from None


def shortest_paths(client: Any, mesh: "NavMesh", starts: npt.ArrayLike, targets: npt.ArrayLike, *,
                   chunk_size: int = 10_000, threads: Optional[int] = 1,
                   progress: ProgressArgument = False) -> batch.Paths:
    """`NavMesh.shortest_paths` over the workers of `client` (a `distributed.Client`).

    The mesh is scattered to every worker once (each rebuilds its native index from
    the arrays); the queries go out in chunks of `chunk_size`, each run on a worker
    with `threads` threads; the result is one `Paths` with float64 points and
    lengths, equal to the local one. Every point is located before anything is sent,
    so a point in no polygon raises here, naming it; a failing query raises the
    `QueryError` of the lowest such query of the whole batch. `progress` counts the
    queries of the chunks that have come back.
    """
    _require_distributed()
    chunk = index_argument("chunk_size", chunk_size)
    if chunk < 1:
        raise ValueError(f"argument 'chunk_size': must be at least 1, got {chunk}")
    report = progress_callback(progress, "walkmesh_tools.dask.shortest_paths")
    start_polygons, start_xy = mesh._nodes_of(starts, "start point")
    target_polygons, target_xy = mesh._nodes_of(targets, "target point")
    if len(start_polygons) != len(target_polygons):
        raise ValueError(f"{len(start_polygons)} start points but {len(target_polygons)} target points")
    # An empty local batch checks `threads` as each chunk will, before anything is sent.
    empty = mesh.shortest_paths(start_xy[:0], target_xy[:0], threads=threads)
    count = len(start_xy)
    if count == 0:
        if report is not None:
            report(0, 0)
        return empty
    [scattered] = client.scatter([mesh], broadcast=True, hash=False)
    firsts = list(range(0, count, chunk))
    pieces = [slice(first, first + chunk) for first in firsts]
    futures = client.map(_run_shortest_chunk, [scattered] * len(pieces), firsts, [start_xy[p] for p in pieces],
                         [target_xy[p] for p in pieces], [threads] * len(pieces), pure=False)
    sizes = [len(start_xy[p]) for p in pieces]
    return batch.Paths.concatenate(_gather_in_order(client, futures, sizes, report))

