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

ULONG_IS_32_BITS = np.dtype("L").itemsize == 4
SIZES_ARE_32_BITS = struct.calcsize("P") == 4

only_where_ulong_is_32_bits = pytest.mark.skipif(
    not ULONG_IS_32_BITS, reason="NumPy's unsigned long is 64 bits wide here; it is 32 bits on armhf")
only_with_32_bit_sizes = pytest.mark.skipif(
    not SIZES_ARE_32_BITS, reason="size_t is 64 bits wide here; it is 32 bits on armhf")


def test_the_armhf_run_runs_on_armhf():
    if os.environ.get("WALKMESH_ARMHF_RUN") != "1":
        pytest.skip("only in the run of scripts/test-armhf")
    assert platform.machine().startswith("armv7")
    assert (struct.calcsize("P"), struct.calcsize("L"), sys.maxsize) == (4, 4, 2**31 - 1)
    # NumPy itself names the 32-bit unsigned type by NPY_ULONG there.
    assert (np.dtype("L").num, np.dtype("L").itemsize) == (8, 4)
    assert np.dtype(np.uint32).num == 8


@only_with_32_bit_sizes
def test_a_node_table_past_the_capacity_limit_cannot_be_made():
    # 268435456 nodes need 2147483648 bytes of per-node tables, past the limit of
    # 2147483644; their 16-byte records cannot be addressed on 32 bits, not even as a
    # view over a small buffer, so the capacity check is left to the C++ tests here.
    records = np.zeros(1, dtype="V16")
    with pytest.raises(ValueError):
        np.lib.stride_tricks.as_strided(records, shape=(2**28,), strides=(16,))
