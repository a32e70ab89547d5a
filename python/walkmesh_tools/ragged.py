"""Ragged arrays: rows of different lengths kept as one flat array of values and
`offsets`, one more than there are rows, row r being values[offsets[r]:offsets[r + 1]]
(the layout of scipy.sparse.csr_array's indptr). Offsets and rows are int64; counts
handed to np.repeat and indices handed to reduceat are the platform's index type,
which NumPy on 32-bit platforms will not take from int64 implicitly.
"""
from __future__ import annotations

from typing import List, Tuple, TypeVar

import numpy as np
import numpy.typing as npt

__all__ = ["offsets_from_lengths", "lengths", "starts", "row_of", "position_in_row", "ranges", "runs", "rows"]

Int64s = npt.NDArray[np.int64]
Indices = npt.NDArray[np.intp]
_Scalar = TypeVar("_Scalar", bound=np.generic)


def offsets_from_lengths(lengths: npt.ArrayLike) -> Int64s:
    """The offsets of rows of the given lengths: 0, then their running sum."""
    counts = np.asarray(lengths, dtype=np.int64)
    offsets = np.zeros(len(counts) + 1, dtype=np.int64)
    np.cumsum(counts, out=offsets[1:])
    return offsets


def lengths(offsets: Int64s) -> Int64s:
    """The length of each row."""
    return np.diff(offsets)


def starts(offsets: Int64s) -> Indices:
    """The index of each row's first element, as reduceat takes it (an empty row's
    start is the next row's: reduceat gives it that element, not an identity)."""
    return offsets[:-1].astype(np.intp)


def row_of(offsets: Int64s) -> Int64s:
    """The row of each element."""
    return np.repeat(np.arange(len(offsets) - 1, dtype=np.int64), np.diff(offsets).astype(np.intp))


def position_in_row(offsets: Int64s, row: Int64s) -> Int64s:
    """Each element's position within its row (`row` is row_of(offsets))."""
    return np.arange(len(row), dtype=np.int64) - offsets[row]


def ranges(first: npt.NDArray[np.integer], offsets: Int64s) -> Tuple[Int64s, Int64s]:
    """(row, index) of a ragged array of index ranges: row r, with the length `offsets`
    gives it, holds first[r], first[r] + 1, and so on."""
    row = row_of(offsets)
    return row, first[row].astype(np.int64) + position_in_row(offsets, row)


def runs(ordered: npt.NDArray[np.generic]) -> Int64s:
    """The offsets of the runs of equal values in a one-dimensional array (sorted, so
    that equal values are neighbours)."""
    if len(ordered) == 0:
        return np.zeros(1, dtype=np.int64)
    changes = np.flatnonzero(ordered[1:] != ordered[:-1]) + 1
    return np.concatenate([[0], changes, [len(ordered)]]).astype(np.int64)


def rows(offsets: Int64s, values: npt.NDArray[_Scalar]) -> List[npt.NDArray[_Scalar]]:
    """Each row of `values` as a view."""
    return np.split(values, offsets[1:-1]) if len(offsets) > 1 else []
