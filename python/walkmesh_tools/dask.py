"""Batches spread over the workers of a Dask cluster (the optional extra
`walkmesh[dask]`, which installs `distributed`).

    from distributed import Client
    import walkmesh_tools.dask

    client = Client("tcp://scheduler:8786")
    paths = walkmesh_tools.dask.find_paths(client, nodes, edges, starts, targets, target_points)
"""
from __future__ import annotations

import re
from typing import Any, Dict, Optional

import numpy as np
import numpy.typing as npt

from . import batch

__all__ = ["find_paths"]

_QUERY = re.compile(r"^query (\d+): ")


def _require_distributed() -> None:
    try:
        import distributed  # noqa: F401
    except ImportError as error:
        raise ImportError("walkmesh_tools.dask needs Dask distributed: pip install 'walkmesh[dask]'") from error


def _run_chunk(nodes: np.ndarray, edges: np.ndarray, first: int, starts: np.ndarray, targets: np.ndarray,
               target_points: np.ndarray, start_points: Optional[np.ndarray], options: Dict[str, Any]) -> batch.Paths:
    """One chunk on a worker; failures name the query by its position in the whole batch."""
    try:
        return batch.find_paths(nodes, edges, starts, targets, target_points, start_points=start_points, **options)
    except ValueError as error:
        message = str(error)
        found = _QUERY.match(message)
        if found is None:
            raise
        raise ValueError(f"query {first + int(found.group(1))}: {message[found.end():]}") from None


def find_paths(client: Any, nodes: npt.NDArray[np.void], edges: npt.NDArray[np.void], starts: npt.ArrayLike,
               targets: npt.ArrayLike, target_points: npt.ArrayLike, *, chunk_size: int = 10_000,
               start_points: Optional[npt.ArrayLike] = None, straight: bool = False,
               threads: Optional[int] = 1, **options: Any) -> batch.Paths:
    """`walkmesh_tools.find_paths` over the workers of `client` (a `distributed.Client`).

    The tables are scattered to every worker once; the queries go out in chunks of
    `chunk_size`, each run by `find_paths` on a worker with `threads` threads (default
    1: Dask already runs one task per worker thread); the chunks' paths come back as
    one `Paths`, equal to the local result. The other options (`max_expansions`,
    `partial`) are `find_paths`'. Bad queries raise before anything is sent; a failure
    met on a worker names the query by its position in the whole batch.
    """
    _require_distributed()
    if chunk_size.__index__() < 1:
        raise ValueError(f"chunk_size must be at least 1, got {chunk_size}")
    starts, targets, target_points, start_points = batch.prepare_queries(
        starts, targets, target_points, start_points, straight)
    # An empty local batch checks the tables as every call does, before anything is sent.
    batch.find_paths(nodes, edges, starts[:0], targets[:0], target_points[:0], threads=1)
    batch.check_node_indices(starts, targets, len(nodes))
    count = len(starts)
    if count == 0:
        return batch.find_paths(nodes, edges, starts, targets, target_points, start_points=start_points,
                                straight=straight, **options)
    # Keys of their own: scattering equal tables again must not meet the keys of a
    # previous call's tables while the cluster lets those go.
    tables = client.scatter([nodes, edges], broadcast=True, hash=False)
    firsts = list(range(0, count, chunk_size))
    pieces = [slice(first, first + chunk_size) for first in firsts]
    task_options = dict(options, straight=straight, threads=threads)
    futures = client.map(
        _run_chunk, [tables[0]] * len(pieces), [tables[1]] * len(pieces), firsts,
        [starts[p] for p in pieces], [targets[p] for p in pieces], [target_points[p] for p in pieces],
        [None if start_points is None else start_points[p] for p in pieces], [task_options] * len(pieces),
        pure=False)
    try:
        return batch.Paths.concatenate(client.gather(futures))
    except BaseException:
        # The other chunks need not run to the end.
        client.cancel(futures)
        raise
