"""The shared array-borrow registry, used through its capsule the way another
extension module uses it, and find_path's read borrows in it."""
import signal

import numpy as np
import pytest

from graphs import RegistryClient, chain, install_capsule_version, multiarray, pythonpath_with_tests
from walkmesh import Point, find_path

ALREADY_BORROWED = "called `Result::unwrap()` on an `Err` value: AlreadyBorrowed"


@pytest.fixture
def registry():
    return RegistryClient()


def test_capsule_is_published_after_the_first_call(registry):
    capsule = getattr(multiarray(), "_RUST_NUMPY_BORROW_CHECKING_API")
    assert type(capsule).__name__ == "PyCapsule"
    assert '"_RUST_NUMPY_BORROW_CHECKING_API"' in repr(capsule)
    assert registry.record.version == 1
    # Later calls use the same capsule.
    find_path(*chain(1), 0, 1, Point(0, 0))
    assert getattr(multiarray(), "_RUST_NUMPY_BORROW_CHECKING_API") is capsule


@pytest.mark.parametrize("held", ["nodes", "edges", "base of nodes", "overlapping view of edges"])
def test_exclusive_borrow_elsewhere_refuses_find_path(registry, held):
    base_nodes, base_edges = chain(4)
    nodes, edges = base_nodes[:], base_edges[:]
    holder = {"nodes": nodes, "edges": edges, "base of nodes": base_nodes,
              "overlapping view of edges": base_edges[1:3]}[held]
    assert registry.acquire_exclusive(holder) == 0
    try:
        with pytest.raises(BaseException) as caught:
            find_path(nodes, edges, 0, 4, Point(0, 0))
        assert caught.value.args == (ALREADY_BORROWED,)
        assert type(caught.value).__name__ == "PanicException"
        # The arrays that were borrowed for the call are all released again.
        assert registry.acquire_exclusive(holder) == -1
    finally:
        registry.release_exclusive(holder)
    assert registry.can_borrow_exclusively(nodes) and registry.can_borrow_exclusively(edges)
    assert len(find_path(nodes, edges, 0, 4, Point(0, 0))) == 5


def test_exclusive_borrow_of_a_disjoint_part_does_not_refuse(registry):
    nodes, edges = chain(4)
    spare = np.concatenate([edges, edges])
    used, other = spare[:4], spare[4:]
    assert registry.acquire_exclusive(other) == 0
    try:
        assert len(find_path(nodes, used, 0, 4, Point(0, 0))) == 5
    finally:
        registry.release_exclusive(other)


def test_shared_borrows_coexist_with_find_path(registry):
    nodes, edges = chain(3)
    for array in (nodes, edges, nodes, edges[1:]):
        assert registry.acquire_shared(array) == 0
    try:
        assert len(find_path(nodes, edges, 0, 3, Point(0, 0))) == 4
        assert registry.acquire_exclusive(nodes) == -1
    finally:
        for array in (nodes, edges, nodes, edges[1:]):
            registry.release_shared(array)
    assert registry.can_borrow_exclusively(nodes) and registry.can_borrow_exclusively(edges)


def test_arrays_can_be_borrowed_exclusively_after_every_failed_call(registry):
    nodes, edges = chain(3)
    failing_calls = [
        (nodes, edges, 0, 3, (0, 0)),          # target_point
        (nodes, edges, 0, 2**33, Point(0, 0)),  # target
        (nodes, edges, "0", 3, Point(0, 0)),   # start
        (nodes, nodes, 0, 3, Point(0, 0)),     # edges
        (nodes, edges, 0, 9, Point(0, 0)),     # the search
        (nodes, np.repeat(edges, 2)[::2], 0, 3, Point(0, 0)),  # not contiguous
    ]
    for arguments in failing_calls:
        with pytest.raises(BaseException):
            find_path(*arguments)
        assert registry.can_borrow_exclusively(nodes) and registry.can_borrow_exclusively(edges)


def test_views_conflict_only_when_they_can_share_bytes(registry):
    base = np.zeros(16, np.int32)
    cases = [
        (base[:8], base[8:], True),          # disjoint ranges
        (base[::2], base[1::2], True),       # interleaved: distance 4, stride divisor 8
        (base[::2], base[2::4], False),      # same lattice, overlapping ranges
        (base[:9], base[8:], False),         # one shared element
        (base[::-1], base[3:5], False),      # negative stride covers it
        (base.reshape(4, 4)[:, 0], base.reshape(4, 4)[:, 1], True),  # columns
        (base.reshape(4, 4)[0], base.reshape(4, 4)[1:, :], True),     # row 0 and rows 1..3
    ]
    for first, second, compatible in cases:
        assert registry.acquire_exclusive(first) == 0
        try:
            assert (registry.acquire_exclusive(second) == 0) is compatible
            if compatible:
                registry.release_exclusive(second)
            assert (registry.acquire_shared(second) == 0) is compatible
            if compatible:
                registry.release_shared(second)
        finally:
            registry.release_exclusive(first)


def test_shared_and_exclusive_counts(registry):
    array = np.zeros(4)
    view = array[:]
    assert registry.acquire_shared(array) == 0
    assert registry.acquire_shared(view) == 0  # the same key: the count rises
    assert registry.acquire_exclusive(array) == -1
    registry.release_shared(array)
    assert registry.acquire_exclusive(view) == -1
    registry.release_shared(view)
    assert registry.acquire_exclusive(view) == 0
    assert registry.acquire_shared(array) == -1
    assert registry.acquire_exclusive(array) == -1
    registry.release_exclusive(view)
    assert registry.can_borrow_exclusively(array)


def test_zero_length_and_scalar_arrays_never_conflict(registry):
    base = np.zeros(4)
    empty = base[2:2]
    assert registry.acquire_exclusive(base) == 0
    try:
        assert registry.acquire_exclusive(empty) == 0
        registry.release_exclusive(empty)
    finally:
        registry.release_exclusive(base)
    broadcast = np.broadcast_to(base[:1], (3,))
    assert registry.acquire_exclusive(broadcast) == 0
    assert registry.acquire_exclusive(base[1:]) == 0  # zero strides reach only element 0
    assert registry.acquire_exclusive(base[:1]) == -1
    registry.release_exclusive(base[1:])
    registry.release_exclusive(broadcast)


def test_releasing_what_is_not_held_ends_the_process(python_run):
    result = python_run("""
        from graphs import RegistryClient
        import numpy as np
        RegistryClient().release_shared(np.zeros(3))
    """, env={"PYTHONPATH": pythonpath_with_tests()}, expect_abort=True)
    assert result.returncode == -signal.SIGABRT
    assert "called `Option::unwrap()` on a `None` value" in result.stderr


FOREIGN_REGISTRY = """
import ctypes
import numpy as np
import walkmesh
from graphs import CAPSULE_NAME, chain, multiarray
calls = []
operation = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)
release = ctypes.PYFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)
nodes, edges = chain(2)
names = {id(nodes): "nodes", id(edges): "edges"}
def acquire_shared(state, array):
    calls.append(("acquire", names[id(array)], state))
    return ANSWER
def release_shared(state, array):
    calls.append(("release", names[id(array)], state))
def unused(state, array):
    raise AssertionError("exclusive operations are never used")
functions = [operation(acquire_shared), operation(unused), release(release_shared), release(unused)]
class Record(ctypes.Structure):
    _fields_ = [("version", ctypes.c_uint64), ("state", ctypes.c_void_p)] + [
        (f"op{i}", type(f)) for i, f in enumerate(functions)]
record = Record(3, 1234, *functions)
new_capsule = ctypes.pythonapi.PyCapsule_New
new_capsule.restype = ctypes.py_object
new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
name = ctypes.c_char_p(CAPSULE_NAME)
capsule = new_capsule(ctypes.addressof(record), name, None)
setattr(multiarray(), CAPSULE_NAME.decode(), capsule)
try:
    print(len(walkmesh.find_path(nodes, edges, 0, 2, walkmesh.Point(0, 0))))
except BaseException as error:
    print(type(error).__name__, error)
print(calls)
print(getattr(multiarray(), CAPSULE_NAME.decode()) is capsule)
"""


@pytest.mark.parametrize("answer, outcome, calls", [
    (0, "3", [("acquire", "nodes"), ("acquire", "edges"), ("release", "edges"), ("release", "nodes")]),
    (-1, "PanicException " + ALREADY_BORROWED, [("acquire", "nodes")]),
    (5, "PanicException Unexpected return code 5 from borrow checking API", [("acquire", "nodes")]),
])
def test_registry_installed_elsewhere_is_used_through_its_record(python_run, answer, outcome, calls):
    result = python_run(FOREIGN_REGISTRY.replace("ANSWER", str(answer)), env={"PYTHONPATH": pythonpath_with_tests()})
    lines = result.stdout.splitlines()
    assert len(lines) == 3, result.stderr
    assert lines[0] == outcome
    assert lines[1] == repr([(kind, array, 1234) for kind, array in calls])
    assert lines[2] == "True"


@pytest.mark.parametrize("version", [0])
def test_unsupported_registry_version(python_run, version):
    result = python_run(install_capsule_version(version) + """
import walkmesh
from graphs import chain
for _ in range(2):
    try:
        walkmesh.find_path(*chain(1), 0, 1, walkmesh.Point(0, 0))
    except BaseException as error:
        print(type(error).__name__, error)
""", env={"PYTHONPATH": pythonpath_with_tests()})
    lines = result.stdout.splitlines()
    assert len(lines) == 2, result.stderr
    for line in lines:
        assert line.startswith("PanicException Interal borrow checking API error: PyErr { type: <class 'TypeError'>")
        assert f"Version {version} of borrow checking API is not supported by this version of rust-numpy" in line


def test_registry_attribute_that_is_not_a_capsule(python_run):
    result = python_run("""
        import numpy as np, walkmesh
        from graphs import CAPSULE_NAME, chain, multiarray
        setattr(multiarray(), CAPSULE_NAME.decode(), 42)
        try:
            walkmesh.find_path(*chain(1), 0, 1, walkmesh.Point(0, 0))
        except BaseException as error:
            print(error)
    """, env={"PYTHONPATH": pythonpath_with_tests()})
    assert result.stdout.startswith("Interal borrow checking API error: PyErr { type: <class 'TypeError'>, "
                                    "value: TypeError(\"'int' object cannot be cast as 'PyCapsule'\")")



def test_views_whose_reach_overflows_the_address_space(registry):
    # as_strided lets shapes and strides claim more than the address space; computing
    # their borrow keys overflowed signed arithmetic. Nothing here reads the data.
    from numpy.lib.stride_tricks import as_strided
    from walkmesh_tools import EDGE_DTYPE, NODE_DTYPE

    base = np.zeros(2, NODE_DTYPE)
    # A length whose 16-byte records NumPy can size but whose reach at a 1024-byte
    # stride exceeds the largest address offset, on 32-bit and 64-bit targets alike.
    length = np.iinfo(np.intp).max // 32
    views = [as_strided(base, shape=(length,), strides=(2**10,)),
             as_strided(base, shape=(length,), strides=(-2**10,)),
             as_strided(base, shape=(3,), strides=(np.iinfo(np.intp).min,))]
    edges = np.zeros(1, EDGE_DTYPE)
    for view in views:
        with pytest.raises(BaseException) as caught:
            find_path(view, edges, 0, 0, Point(0, 0))
        assert caught.value.args == ("called `Result::unwrap()` on an `Err` value: NotContiguousError",)
        assert registry.can_borrow_exclusively(view)
    assert registry.can_borrow_exclusively(base)
