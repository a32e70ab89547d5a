"""walkmesh_tools.ragged against plain Python lists of rows: offsets, the row of each
element and its place in the row, row starts as reduceat takes them, index ranges,
runs of equal values and rows as views."""
import numpy as np
from hypothesis import given
from hypothesis import strategies as st

from walkmesh_tools import ragged

row_lengths = st.lists(st.integers(0, 5), max_size=12)


@given(row_lengths)
def test_rows_of_a_ragged_array(lengths):
    rows = [[10 * r + i for i in range(n)] for r, n in enumerate(lengths)]
    values = np.array([v for row in rows for v in row], dtype=np.int64)
    offsets = ragged.offsets_from_lengths(np.array(lengths, dtype=np.uint32))
    assert offsets.dtype == np.int64 and offsets.tolist() == [sum(lengths[:r]) for r in range(len(lengths) + 1)]
    assert ragged.lengths(offsets).tolist() == lengths
    row = ragged.row_of(offsets)
    assert row.dtype == np.int64 and row.tolist() == [r for r, n in enumerate(lengths) for _ in range(n)]
    assert ragged.position_in_row(offsets, row).tolist() == [i for n in lengths for i in range(n)]
    assert [view.tolist() for view in ragged.rows(offsets, values)] == rows
    assert all(view.base is values for view in ragged.rows(offsets, values))
    nonempty = np.array(lengths) > 0
    if nonempty.any():
        sums = np.add.reduceat(values, ragged.starts(offsets)[nonempty])
        assert sums.tolist() == [sum(row) for row in rows if row]


@given(st.lists(st.tuples(st.integers(-5, 50), st.integers(0, 4)), max_size=10))
def test_index_ranges(spans):
    first = np.array([f for f, _ in spans], dtype=np.int64)
    offsets = ragged.offsets_from_lengths([n for _, n in spans])
    row, index = ragged.ranges(first, offsets)
    assert list(zip(row.tolist(), index.tolist())) == [(r, f + i) for r, (f, n) in enumerate(spans) for i in range(n)]


@given(st.lists(st.integers(0, 3), max_size=15).map(sorted))
def test_runs_of_equal_values(values):
    offsets = ragged.runs(np.array(values, dtype=np.int64))
    runs = [values[a:b] for a, b in zip(offsets.tolist(), offsets[1:].tolist())]
    assert [v for run in runs for v in run] == values
    assert all(run and len(set(run)) == 1 for run in runs)
    assert len({run[0] for run in runs}) == len(runs)
