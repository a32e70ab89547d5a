"""Platform facts that the record formats and size limits rest on. On 32-bit ARM
(armhf) NumPy's unsigned long, type number 8, is the 32-bit record field type, and
sizes are 4 bytes wide; on 64-bit platforms unsigned long is 64 bits wide and the
field type is unsigned int, type number 6."""
import os
import platform
import struct
import sys

import numpy as np
import pytest

from graphs import make_edges, make_nodes
from walkmesh import Point, find_path

ULONG_IS_32_BITS = np.dtype("L").itemsize == 4
SIZES_ARE_32_BITS = struct.calcsize("P") == 4

only_where_ulong_is_32_bits = pytest.mark.skipif(
    not ULONG_IS_32_BITS, reason="NumPy's unsigned long is 64 bits wide here; it is 32 bits on armhf")
only_with_32_bit_sizes = pytest.mark.skipif(
    not SIZES_ARE_32_BITS, reason="size_t is 64 bits wide here; it is 32 bits on armhf")


def test_runs_on_the_platform_its_run_names():
    # Set by the runs on other platforms (scripts/test-armhf, scripts/test-wheels): a run
    # that fell back to the host's interpreter or C library would test nothing of them.
    machine = os.environ.get("WALKMESH_EXPECT_MACHINE")
    glibc = os.environ.get("WALKMESH_EXPECT_GLIBC")
    if not machine and not glibc:
        pytest.skip("only in the runs on an emulated machine or in an older Debian root")
    if glibc:
        assert os.confstr("CS_GNU_LIBC_VERSION") == f"glibc {glibc}"
    if machine:
        assert platform.machine() == machine
    if machine == "armv7l":
        assert (struct.calcsize("P"), struct.calcsize("L"), sys.maxsize) == (4, 4, 2**31 - 1)
        # NumPy itself names the 32-bit unsigned type by NPY_ULONG there.
        assert (np.dtype("L").num, np.dtype("L").itemsize) == (8, 4)
        assert np.dtype(np.uint32).num == 8
    elif machine:
        assert (struct.calcsize("P"), struct.calcsize("L"), sys.maxsize) == (8, 8, 2**63 - 1)
        assert np.dtype(np.uint32).num == 6


@only_with_32_bit_sizes
def test_a_node_table_past_the_capacity_limit_cannot_be_made():
    # 268435456 nodes need 2147483648 bytes of per-node tables, past the limit of
    # 2147483644; their 16-byte records cannot be addressed on 32 bits, not even as a
    # view over a small buffer, so the capacity check is left to the C++ tests here.
    records = np.zeros(1, dtype="V16")
    with pytest.raises(ValueError):
        np.lib.stride_tricks.as_strided(records, shape=(2**28,), strides=(16,))


def record_dtypes(unsigned):
    point = [("x", "f4"), ("y", "f4")]
    node = np.dtype([("centroid", point), ("edge_start", unsigned), ("edge_count", unsigned)])
    edge = np.dtype([("to", unsigned), ("cost", unsigned), ("left", point), ("right", point), ("padding", unsigned)])
    return node, edge


def chain_of_three(unsigned):
    """0 -> 1 -> 2 with portals at x = 0.5 and x = 1.5."""
    node, edge = record_dtypes(unsigned)
    nodes = np.array([((0, 1), 0, 1), ((1, 1), 1, 1), ((2, 1), 2, 0)], dtype=node)
    edges = np.array([(1, 1, (0.5, 0), (0.5, 2), 0), (2, 1, (1.5, 0), (1.5, 4), 7)], dtype=edge)
    return nodes, edges


def panic_message(*arguments):
    with pytest.raises(BaseException) as caught:
        find_path(*arguments)
    assert type(caught.value).__name__ == "PanicException"
    return str(caught.value)


# NumPy type numbers: 6 is unsigned int, 8 is unsigned long.
UNSIGNED_32_BIT_SPELLINGS = [
    pytest.param("I", 6, id="uint"),
    pytest.param(np.uintc, 6, id="uintc"),
    pytest.param("u4", 8 if ULONG_IS_32_BITS else 6, id="u4"),
    pytest.param("L", 8, id="ulong", marks=only_where_ulong_is_32_bits),
]


@pytest.mark.parametrize("unsigned, type_number", UNSIGNED_32_BIT_SPELLINGS)
def test_every_unsigned_32_bit_type_number_is_accepted(unsigned, type_number):
    nodes, edges = chain_of_three(unsigned)
    fields = [nodes.dtype[name] for name in ("edge_start", "edge_count")]
    fields += [edges.dtype[name] for name in ("to", "cost", "padding")]
    assert {(field.num, field.itemsize) for field in fields} == {(type_number, 4)}
    assert (nodes.itemsize, edges.itemsize) == (16, 28)
    route = find_path(nodes, edges, 0, 2, Point(9, 9))
    assert [(p.x, p.y) for p in route] == [(0.5, 1.0), (1.5, 2.0), (9.0, 9.0)]


@pytest.mark.skipif(ULONG_IS_32_BITS, reason="NumPy's unsigned long is the 32-bit field type here (armhf)")
def test_unsigned_long_fields_are_refused_where_64_bits_wide():
    nodes, edges = chain_of_three("L")
    with pytest.raises(TypeError) as caught:
        find_path(nodes, edges, 0, 2, Point(9, 9))
    assert str(caught.value) == "argument 'nodes': 'ndarray' object cannot be cast as 'ndarray'"


TOP = 2**32 - 1


def test_indices_at_the_top_of_the_32_bit_range_are_reported_unchanged():
    # Three nodes, node 0 with a run of two edges.
    nodes = make_nodes([((0, 0), 0, 2), ((1, 0), 2, 0), ((2, 0), 2, 0)])
    edges = make_edges([(1, 1, (0, 0), (0, 0)), (TOP, 1, (0, 0), (0, 0))])
    assert panic_message(nodes, edges, TOP, 0, Point(0, 0)) == (
        "index out of bounds: the len is 3 but the index is 4294967295")
    assert panic_message(nodes, edges, 0, 2, Point(0, 0)) == (
        "index out of bounds: the len is 3 but the index is 4294967295")


@pytest.mark.parametrize("edge_start, edge_count, message", [
    (1, TOP, "slice index starts at 1 but ends at 0"),
    (TOP, 2, "range start index 4294967295 out of range for slice of length 2"),
    (2, TOP - 1, "slice index starts at 2 but ends at 0"),
])
def test_runs_whose_end_wraps_past_the_32_bit_range(edge_start, edge_count, message):
    nodes = make_nodes([((0, 0), edge_start, edge_count), ((1, 0), 0, 0)])
    edges = make_edges([(1, 1, (0, 0), (0, 0)), (1, 1, (0, 0), (0, 0))])
    assert panic_message(nodes, edges, 0, 1, Point(0, 0)) == message


def test_the_largest_edge_cost_reaches_nothing_from_the_start():
    # 0 + 4294967295 does not drop below the unreached mark, so node 1 stays unreached.
    nodes = make_nodes([((0, 0), 0, 1), ((1, 0), 1, 0)])
    edges = make_edges([(1, TOP, (0.5, 0), (0.5, 1))])
    assert [(p.x, p.y) for p in find_path(nodes, edges, 0, 1, Point(3, 4))] == [(3.0, 4.0)]
