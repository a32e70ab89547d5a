"""find_path from Python: argument intake and its error order, what a call holds and
gives back, PanicException, and paths on hand-built graphs."""
import re
import sys
from contextlib import nullcontext

import numpy as np
import pytest

from graphs import RegistryClient, chain, make_edges, make_nodes, pythonpath_with_tests, view_in_place_as
from walkmesh import Point, find_path
from walkmesh_tools import EDGE_DTYPE, NODE_DTYPE, POINT_DTYPE

def panic_type():
    # The class exists only once a failure has happened in this process.
    nodes, edges = chain(1)
    try:
        find_path(nodes, edges, 9, 0, Point(0, 0))
    except BaseException as error:  # noqa: B036
        return type(error)
    raise AssertionError("no failure")


def xy(points):
    return [(p.x, p.y) for p in points]


NODES, EDGES = chain(3)
GOOD = dict(nodes=NODES, edges=EDGES, start=0, target=3, target_point=Point(7, 8))
FLOAT64_CENTROID = np.dtype([("centroid", [("x", "f8"), ("y", "f8")]), ("edge_start", "u4"), ("edge_count", "u4")])
NO_PADDING = np.dtype([("to", "u4"), ("cost", "u4"), ("left", POINT_DTYPE), ("right", POINT_DTYPE)])
SIGNED_TO = np.dtype([(n, "i4" if n == "to" else t) for n, t in EDGE_DTYPE.descr])
FLOAT_COST = np.dtype([(n, "f4" if n == "cost" else t) for n, t in EDGE_DTYPE.descr])
SWAPPED_START = np.dtype([(n, ">u4" if n == "edge_start" else t) for n, t in NODE_DTYPE.descr])
RENAMED = np.dtype([("middle" if n == "centroid" else n, t) for n, t in NODE_DTYPE.descr])


def cast(name, type_name, target="ndarray"):
    return TypeError, f"argument '{name}': '{type_name}' object cannot be cast as '{target}'"


INTAKE_ERRORS = [
    # Every other argument is wrong too: only the first in parameter order is reported.
    ("list nodes", dict(nodes=[1], edges=[2], start=-1, target_point=(0, 0)), cast("nodes", "list")),
    ("2-D nodes", dict(nodes=np.zeros((2, 2), NODE_DTYPE), edges=None), cast("nodes", "ndarray")),
    ("float64 centroid", dict(nodes=np.zeros(2, FLOAT64_CENTROID), edges=None), cast("nodes", "ndarray")),
    ("renamed field", dict(nodes=np.zeros(2, RENAMED), edges=None), cast("nodes", "ndarray")),
    ("byte-swapped field", dict(nodes=np.zeros(2, SWAPPED_START), edges=None), cast("nodes", "ndarray")),
    ("0-D nodes", dict(nodes=np.zeros((), NODE_DTYPE), edges=None), cast("nodes", "ndarray")),
    ("edges as nodes", dict(edges=NODES, start="x"), cast("edges", "ndarray")),
    ("edges without padding", dict(edges=np.zeros(2, NO_PADDING)), cast("edges", "ndarray")),
    ("signed to", dict(edges=np.zeros(2, SIGNED_TO)), cast("edges", "ndarray")),
    ("float cost", dict(edges=np.zeros(2, FLOAT_COST)), cast("edges", "ndarray")),
    ("tuple edges", dict(edges=(1, 2), start=None), cast("edges", "tuple")),
    ("float start", dict(start=1.0, target=-1), (TypeError, "argument 'start': 'float' object cannot be interpreted as an integer")),
    ("negative start", dict(start=-1, target="x"), (OverflowError, None)),
    ("start above u32", dict(start=2**32, target_point=None), (OverflowError, "out of range integral type conversion attempted")),
    ("start above u64", dict(start=2**64), (OverflowError, None)),
    ("str target", dict(target="3", target_point=None), (TypeError, "argument 'target': 'str' object cannot be interpreted as an integer")),
    ("target above u32", dict(target=2**40), (OverflowError, "out of range integral type conversion attempted")),
    ("tuple target_point", dict(target_point=(0.0, 0.0)), cast("target_point", "tuple", "Point")),
    ("array target_point", dict(target_point=np.zeros(1, POINT_DTYPE)), cast("target_point", "ndarray", "Point")),
]


@pytest.mark.parametrize("case, changes, expected", INTAKE_ERRORS, ids=[c[0] for c in INTAKE_ERRORS])
def test_intake_errors_in_parameter_order(case, changes, expected):
    arguments = {**GOOD, **changes}
    watched = {name: value for name, value in arguments.items() if isinstance(value, (np.ndarray, Point))}
    kept = {name: sys.getrefcount(value) for name, value in watched.items()}
    exception, message = expected
    with pytest.raises(exception) as caught:
        find_path(**arguments)
    assert type(caught.value) is exception
    if message is not None:
        assert str(caught.value) == message
    else:
        assert not str(caught.value).startswith("argument")
    del caught
    assert {name: sys.getrefcount(value) for name, value in watched.items()} == kept
    assert RegistryClient().can_borrow_exclusively(NODES)
    assert RegistryClient().can_borrow_exclusively(EDGES)


def test_accepted_argument_forms():
    class Sub(np.ndarray):
        pass

    expected = xy(find_path(**GOOD))
    assert xy(find_path(NODES.view(Sub), EDGES.view(Sub), 0, 3, Point(7, 8))) == expected
    assert xy(find_path(NODES, EDGES, False, np.uint32(3), Point(7, 8))) == expected
    # Any spelling of the record dtype that NumPy calls equivalent.
    spelled = np.dtype({"names": ["centroid", "edge_start", "edge_count"],
                        "formats": [[("x", "<f4"), ("y", "<f4")], "<u4", "uint32"]})
    assert xy(find_path(NODES.view(spelled), EDGES, 0, 3, Point(7, 8))) == expected
    # A Fortran-ordered one-dimensional array is contiguous as well.
    assert xy(find_path(np.asfortranarray(NODES), EDGES, 0, 3, Point(7, 8))) == expected


def test_empty_node_table_passes_intake_and_fails_in_the_search():
    with pytest.raises(BaseException) as caught:
        find_path(np.zeros(0, NODE_DTYPE), np.zeros(0, EDGE_DTYPE), 0, 5, Point(0, 0))
    assert str(caught.value) == "index out of bounds: the len is 0 but the index is 0"


NOT_CONTIGUOUS = "called `Result::unwrap()` on an `Err` value: NotContiguousError"


def strided_copy(array):
    doubled = np.repeat(array, 2)
    return doubled[::2]


@pytest.mark.parametrize("which", ["nodes", "edges", "both"])
def test_non_contiguous_array_fails_after_all_conversions(which):
    nodes = strided_copy(NODES) if which in ("nodes", "both") else NODES.copy()
    edges = strided_copy(EDGES) if which in ("edges", "both") else EDGES.copy()
    point = Point(1, 2)
    counts = [sys.getrefcount(x) for x in (nodes, edges, point)]
    # Errors in later arguments still come first.
    with pytest.raises(TypeError, match="argument 'target_point'"):
        find_path(nodes, edges, 0, 3, (1, 2))
    with pytest.raises(OverflowError):
        find_path(nodes, edges, 0, -3, point)
    with pytest.raises(panic_type()) as caught:
        find_path(nodes, edges, 0, 3, point)
    assert caught.value.args == (NOT_CONTIGUOUS,)
    del caught
    assert [sys.getrefcount(x) for x in (nodes, edges, point)] == counts
    registry = RegistryClient()
    assert registry.can_borrow_exclusively(nodes) and registry.can_borrow_exclusively(edges)


def test_references_unchanged_after_success_and_internal_failures():
    nodes, edges = chain(4)
    point = Point(3, 3)
    counts = [sys.getrefcount(x) for x in (nodes, edges, point)]
    for _ in range(3):
        assert len(find_path(nodes, edges, 0, 4, point)) == 5
        for start, target in [(99, 0), (0, 99)]:
            with pytest.raises(BaseException):
                find_path(nodes, edges, start, target, point)
    assert [sys.getrefcount(x) for x in (nodes, edges, point)] == counts


def test_panic_exception_semantics():
    panic = panic_type()
    assert panic.__module__ == "pyo3_runtime" and panic.__qualname__ == "PanicException"
    assert panic.__bases__ == (BaseException,)
    nodes, edges = chain(2)
    with pytest.raises(panic) as caught:
        try:
            find_path(nodes, edges, 0, 7, Point(0, 0))
        except Exception:  # noqa: BLE001 - must not catch it
            pytest.fail("except Exception caught a PanicException")
    assert caught.value.args == ("index out of bounds: the len is 3 but the index is 7",)


# --- paths on hand-built graphs -------------------------------------------------

@pytest.mark.parametrize("k", [1, 2, 5, 17])
def test_k_edges_give_k_plus_one_points(k):
    nodes, edges = chain(k)
    path = find_path(nodes, edges, 0, k, Point(100.25, -3))
    assert xy(path) == [(i + 0.5, 1.0) for i in range(k)] + [(100.25, -3.0)]


def test_start_equal_to_target_and_unreachable_give_the_target_alone():
    nodes, edges = chain(3)
    assert xy(find_path(nodes, edges, 2, 2, Point(5, 5))) == [(5.0, 5.0)]
    # Edges only go forward: 3 cannot reach 0.
    assert xy(find_path(nodes, edges, 3, 0, Point(0.1, 0))) == [(np.float32(0.1).item(), 0.0)]


def test_portal_midpoints_are_rounded_to_float32():
    nodes = make_nodes([((0, 0), 0, 2), ((1, 0), 2, 0), ((2, 0), 2, 0)])
    edges = make_edges([(1, 1, (0, 0), (2, 4)), (2, 5, (1, 1), (1, 1))])
    assert xy(find_path(nodes, edges, 0, 1, Point(9, 9)))[0] == (1.0, 2.0)
    assert xy(find_path(nodes, edges, 0, 2, Point(9, 9)))[0] == (1.0, 1.0)
    big = float(np.float32(16777216.0))
    nodes = make_nodes([((0, 0), 0, 1), ((1, 0), 1, 0)])
    edges = make_edges([(1, 1, (big, 0.1), (1.0, 0.2))])
    # (2^24 + 1) rounds to 2^24 in float32 before the halving.
    assert xy(find_path(nodes, edges, 0, 1, Point(0, 0)))[0] == (big / 2, float(np.float32(np.float32(0.1) + np.float32(0.2)) * np.float32(0.5)))


def test_parallel_edges_cheapest_cost_first_portal():
    # a -> b twice: cost 7 with portal P first, then cost 3 with portal Q. The walk
    # emits P; the cost 3 shows in which way the search goes on.
    nodes = make_nodes([((0, 0), 0, 3), ((1, 0), 3, 1), ((2, 0), 4, 0), ((1, 5), 4, 1)])
    edges = make_edges([
        (1, 7, (0, 0), (0, 2)),      # P
        (1, 3, (4, 4), (4, 6)),      # Q
        (3, 5, (9, 9), (9, 9)),
        (2, 1, (1.5, 0), (1.5, 2)),
        (2, 1, (8, 8), (8, 8)),
    ])
    assert xy(find_path(nodes, edges, 0, 2, Point(2, 0))) == [(0.0, 1.0), (1.5, 1.0), (2.0, 0.0)]


def test_padding_and_unused_edges_have_no_effect():
    nodes, edges = chain(3)
    noisy = edges.copy()
    noisy["padding"] = [0xFFFFFFFF, 7, 12345]
    bigger = np.concatenate([noisy, make_edges([(999, 0, (1e9, 1e9), (0, 0), 5)])])
    expected = xy(find_path(nodes, edges, 0, 3, Point(1, 1)))
    assert xy(find_path(nodes, noisy, 0, 3, Point(1, 1))) == expected
    assert xy(find_path(nodes, bigger, 0, 3, Point(1, 1))) == expected


def test_every_call_returns_new_points():
    nodes, edges = chain(2)
    target = Point(4, 4)
    first = find_path(nodes, edges, 0, 2, target)
    second = find_path(nodes, edges, 0, 2, target)
    assert first[-1] is not target and first[-1] is not second[-1]
    first[-1].x = 100
    assert second[-1].x == 4.0 and target.x == 4.0


def test_failure_report_names_the_table_site(python_run):
    result = python_run("""
        import numpy as np, walkmesh
        from graphs import chain
        nodes, edges = chain(3)
        for table in ("nodes", "edges"):
            arguments = {"nodes": nodes, "edges": edges}
            arguments[table] = np.repeat(arguments[table], 2)[::2]
            try:
                walkmesh.find_path(**arguments, start=0, target=3, target_point=walkmesh.Point(0, 0))
            except BaseException as error:
                print(type(error).__name__, error)
    """, env={"PYTHONPATH": pythonpath_with_tests()})
    assert result.stdout.splitlines() == [f"PanicException {NOT_CONTIGUOUS}"] * 2
    sites = re.findall(r"panicked at (src/lib:\d+:\d+):\n(.*)\n", result.stderr)
    assert sites == [("src/lib:21:40", NOT_CONTIGUOUS), ("src/lib:22:40", NOT_CONTIGUOUS)]



CHANGED = "array changed in place while find_path held it"


class Changing:
    """An index whose __index__ changes an array in place, as any Python code run
    during a call may."""

    def __init__(self, value, change):
        self.value, self.change = value, change

    def __index__(self):
        self.change()
        return self.value


@pytest.mark.parametrize("which", ["nodes", "edges"])
@pytest.mark.parametrize("change", ["dtype", "strides"])
@pytest.mark.parametrize("later_failure", [False, True])
def test_array_changed_in_place_during_the_call(which, change, later_failure):
    # A smaller item size multiplies the length: read as records it would run past
    # the buffer. The call must not read it, and must release what it registered.
    nodes, edges = chain(3)
    array = {"nodes": nodes, "edges": edges}[which]

    def alter():
        if change == "dtype":
            view_in_place_as(array, np.uint8)
        else:
            with pytest.warns(DeprecationWarning) if np.lib.NumpyVersion(np.__version__) >= "2.4.0" else nullcontext():
                array.strides = (0,)

    start = Changing(40 if change == "dtype" else 0, alter)
    target_point = (0, 0) if later_failure else Point(0, 0)
    counts = [sys.getrefcount(x) for x in (nodes, edges)]
    with pytest.raises(BaseException) as caught:
        find_path(nodes, edges, start, 1, target_point)
    if later_failure:
        assert type(caught.value) is TypeError
    else:
        assert caught.value.args == (CHANGED,) and type(caught.value) is panic_type()
    del caught
    assert [sys.getrefcount(x) for x in (nodes, edges)] == counts
    registry = RegistryClient()
    assert registry.can_borrow_exclusively(nodes) and registry.can_borrow_exclusively(edges)
