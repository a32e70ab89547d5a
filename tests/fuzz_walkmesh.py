"""atheris harness: find_path, the three constructors and the companion's corridor and
straight_path with arbitrary arguments.

Arrays come from the fuzzer's bytes with record dtypes and near-misses (byte order,
field types, shapes), at odd alignment offsets, strided, reversed or sliced; indices,
points and other arguments are anything from in-range integers to arbitrary objects.
A call may only return a well-formed path or raise TypeError, OverflowError,
RuntimeError (borrow conflicts), PanicException or what an argument's own __index__
raises; afterwards no argument has gained a
reference and each array can be borrowed exclusively again. Crashes and memory errors
are for the sanitizers. The companion's functions may raise ordinary exceptions only
(IndexError besides), never PanicException. Run through scripts/fuzz."""
import sys

import atheris
import numpy as np

import walkmesh
from walkmesh_tools import _native as tools_native
from graphs import RegistryClient
from outcomes import panic_exception_type
from walkmesh_tools import EDGE_DTYPE, NODE_DTYPE, POINT_DTYPE

SWAPPED_NODE = NODE_DTYPE.newbyteorder(">")
SWAPPED_EDGE = EDGE_DTYPE.newbyteorder(">")
WIDE_NODE = np.dtype([("centroid", [("x", "f8"), ("y", "f8")]), ("edge_start", "u4"), ("edge_count", "u4")])
SIGNED_EDGE = np.dtype([(name, "i4" if name == "to" else kind) for name, kind in EDGE_DTYPE.descr])
ALIGNED_NODE = np.dtype(NODE_DTYPE.descr, align=True)
DTYPES = [NODE_DTYPE, EDGE_DTYPE, NODE_DTYPE, EDGE_DTYPE, SWAPPED_NODE, SWAPPED_EDGE, WIDE_NODE, SIGNED_EDGE,
          ALIGNED_NODE, POINT_DTYPE, np.dtype("u1"), np.dtype("f4"), np.dtype(object)]
# ValueError only ever comes from an argument's own __index__, passed on unchanged.
ALLOWED = (TypeError, OverflowError, RuntimeError, ValueError)
PANIC = panic_exception_type()
REGISTRY = RegistryClient()


class Index:
    """An integer, or an exception class raised anew at each use (an instance kept here
    and raised again would tie this object into a cycle through its traceback)."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, type):
            raise self.value("index")
        return self.value


class Subarray(np.ndarray):
    pass


@atheris.instrument_func
def record_array(fdp, dtype):
    """Records of `dtype` over fuzzer bytes, at any alignment, maybe strided, reversed,
    reshaped, read-only or of an ndarray subclass."""
    count = fdp.ConsumeIntInRange(0, 24)
    offset = fdp.ConsumeIntInRange(0, 7)
    step = fdp.ConsumeIntInRange(1, 3)
    if dtype.hasobject:
        return np.array([fdp.ConsumeInt(4) for _ in range(count)], dtype=object)
    size = offset + dtype.itemsize * count * step
    raw = bytearray(fdp.ConsumeBytes(size).ljust(size, b"\0"))
    array = np.frombuffer(raw, dtype=np.uint8)[offset:].view(dtype)[::step]
    if fdp.ConsumeBool() and dtype in (NODE_DTYPE, EDGE_DTYPE):
        tame(fdp, array)
    shape = fdp.ConsumeIntInRange(0, 7)
    if shape == 1:
        array = array[::-1]
    elif shape == 2 and len(array) % 2 == 0:
        array = array.reshape(2, -1)
    elif shape == 3 and len(array):
        array = array[0]
    elif shape == 4:
        array = array.view(Subarray)
    elif shape == 5:
        array.flags.writeable = False
    return array


@atheris.instrument_func
def tame(fdp, array):
    """Bounds indices by the table sizes often enough that searches go deep."""
    count = max(len(array), 1)
    if array.dtype == NODE_DTYPE:
        array["edge_start"] %= fdp.ConsumeIntInRange(1, 48)
        array["edge_count"] %= fdp.ConsumeIntInRange(1, 6)
    else:
        array["to"] %= count if fdp.ConsumeBool() else fdp.ConsumeIntInRange(1, 48)
        array["cost"] >>= fdp.ConsumeIntInRange(0, 31)


@atheris.instrument_func
def anything(fdp, arrays):
    choice = fdp.ConsumeIntInRange(0, 11)
    if choice == 0:
        return fdp.ConsumeIntInRange(0, 40)
    if choice == 1:
        return fdp.ConsumeInt(9)
    if choice == 2:
        return fdp.ConsumeRegularFloat()
    if choice == 3:
        return walkmesh.Point(fdp.ConsumeFloat(), fdp.ConsumeFloat())
    if choice == 4:
        return Index(fdp.ConsumeInt(5))
    if choice == 5:
        return Index(fdp.PickValueInList([TypeError, ValueError, PANIC]))
    if choice == 6:
        return fdp.ConsumeUnicode(6)
    if choice == 7:
        return np.uint32(fdp.ConsumeIntInRange(0, 2**32 - 1))
    if choice == 8 and arrays:
        return fdp.PickValueInList(arrays)
    if choice == 9:
        return fdp.PickValueInList([None, True, (1.0, 2.0), [], object(), walkmesh.Node])
    return fdp.ConsumeIntInRange(0, 40)


@atheris.instrument_func
def arguments(fdp, count):
    arrays = [record_array(fdp, fdp.PickValueInList(DTYPES)) for _ in range(fdp.ConsumeIntInRange(0, 2))]
    return [anything(fdp, arrays) if fdp.ConsumeProbability() > 0.7 else default
            for default in defaults(fdp, count, arrays)]


def defaults(fdp, count, arrays):
    if count in (6, 8):
        nodes = record_array(fdp, NODE_DTYPE)
        edges = record_array(fdp, EDGE_DTYPE)
        arrays += [nodes, edges]
        indices = [fdp.ConsumeIntInRange(0, 30), fdp.ConsumeIntInRange(0, 30)]
        points = [(fdp.ConsumeFloat(), fdp.ConsumeFloat()) for _ in range(2)] if count == 8 else []
        budget = fdp.ConsumeIntInRange(0, 40) if fdp.ConsumeBool() else None
        return [nodes, edges, *indices, *points, budget, fdp.ConsumeBool()]
    if count == 5:
        nodes = record_array(fdp, NODE_DTYPE)
        edges = record_array(fdp, EDGE_DTYPE)
        arrays += [nodes, edges]
        return [nodes, edges, fdp.ConsumeIntInRange(0, 30), fdp.ConsumeIntInRange(0, 30),
                walkmesh.Point(fdp.ConsumeFloat(), fdp.ConsumeFloat())]
    if count == 2:
        return [fdp.ConsumeFloat(), fdp.ConsumeFloat()]
    point = walkmesh.Point(fdp.ConsumeFloat(), fdp.ConsumeFloat())
    integers = [fdp.ConsumeIntInRange(0, 9) for _ in range(2)]
    return [point, *integers] if count == 3 else [*integers, point, point]


@atheris.instrument_func
def bound_call(fdp, function, names, values):
    """Positional and keyword arguments in any split, and now and then too many, a
    repeated or unknown keyword, or a missing one. Exhausted input binds them all by
    position."""
    split = len(values) - fdp.ConsumeIntInRange(0, len(values))
    keywords = dict(zip(names[split:], values[split:]))
    positional = values[:split]
    form = fdp.ConsumeIntInRange(0, 9)
    if form == 6:
        positional = positional + [0]
    elif form == 7:
        keywords["surplus"] = 1
    elif form == 8 and names:
        keywords[names[0]] = values[0]
    elif form == 9 and keywords:
        keywords.pop(next(iter(keywords)))
    return function(*positional, **keywords)


def check_path(result, values):
    assert type(result) is list and result, result
    assert all(type(point) is walkmesh.Point for point in result)
    target = values[4]
    if type(target) is walkmesh.Point:
        assert (result[-1].x, result[-1].y) == (target.x, target.y) or np.isnan(target.x) or np.isnan(target.y)


CALLABLES = [
    (walkmesh.find_path, ["nodes", "edges", "start", "target", "target_point"]),
    (walkmesh.Point, ["x", "y"]),
    (walkmesh.Node, ["centroid", "edge_start", "edge_count"]),
    (walkmesh.Edge, ["to", "cost", "left", "right"]),
    (tools_native.corridor, ["nodes", "edges", "start", "target", "max_expansions", "partial"]),
    (tools_native.straight_path, ["nodes", "edges", "start", "target", "start_point", "target_point",
                                  "max_expansions", "partial"]),
]
COMPANION = (tools_native.corridor, tools_native.straight_path)


def owned_by_call(value):
    """Objects whose reference count only the call itself can change: not shared small
    ints, strings, singletons or classes (each instance holds a reference to its class)."""
    shared = value is None or isinstance(value, (bool, str, type)) or (type(value) is int and -5 <= value <= 256)
    return not shared


def one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    function, names = CALLABLES[fdp.ConsumeIntInRange(0, 11) % len(CALLABLES) if fdp.ConsumeBool() else 0]
    values = arguments(fdp, len(names))
    watched = [value for value in values if owned_by_call(value)]
    counts = [sys.getrefcount(value) for value in watched]
    try:
        result = bound_call(fdp, function, names, values)
    except ALLOWED:
        pass
    except IndexError:
        assert function in COMPANION
    except PANIC:
        # The companion passes on what an argument's own __index__ raises, unchanged.
        passed_on = any(isinstance(value, Index) and value.value is PANIC for value in values)
        assert function not in COMPANION or passed_on, "the companion raised PanicException"
    else:
        if function is walkmesh.find_path:
            check_path(result, values)
        elif function in COMPANION:
            assert isinstance(result, np.ndarray) and result.dtype in (np.uint32, np.float32), result
        del result
    assert [sys.getrefcount(value) for value in watched] == counts, "an argument gained or lost a reference"
    for value in values:
        if isinstance(value, np.ndarray) and value.dtype != object:
            assert REGISTRY.can_borrow_exclusively(value), "an array was left borrowed"


def main():
    atheris.Setup(sys.argv, one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
