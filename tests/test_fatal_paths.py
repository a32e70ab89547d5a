"""Failures that end the process, each in a child interpreter: an allocation that
fails writes its size and aborts, with no Python exception."""
import os
import signal

import pytest

from graphs import pythonpath_with_tests

# A node table of 100 million records, mapped but never touched; the search's cost
# table (4 bytes a node) cannot then be allocated once the address space is capped
# just above what the process already uses.
ALLOCATION_FAILURE = """
import resource
import numpy as np
import walkmesh
from walkmesh_tools import EDGE_DTYPE, NODE_DTYPE

nodes = np.zeros(100_000_000, NODE_DTYPE)
edges = np.zeros(0, EDGE_DTYPE)
target = walkmesh.Point(0, 0)
walkmesh.find_path(nodes[:1], edges, 0, 0, target)
with open("/proc/self/status") as status:
    used = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
limit = used + 64 * 1024 * 1024
resource.setrlimit(resource.RLIMIT_AS, (limit, resource.getrlimit(resource.RLIMIT_AS)[1]))
try:
    walkmesh.find_path(nodes, edges, 0, 0, target)
except BaseException as error:
    print("raised", type(error).__name__)
print("returned")
"""


# An emulator reserves the guest's whole address space up front, so capping it makes
# no single guest allocation fail.
@pytest.mark.skipif(bool(os.environ.get("PY_SUBPROCESS_PREFIX")), reason="under an emulator")
def test_search_table_allocation_failure_aborts_with_its_size(python_run):
    result = python_run(ALLOCATION_FAILURE, env={"PYTHONPATH": pythonpath_with_tests()}, expect_abort=True)
    assert result.returncode == -signal.SIGABRT, result.stderr
    assert result.stdout == ""
    assert "memory allocation of 400000000 bytes failed\n" in result.stderr
    assert "Traceback" not in result.stderr and "panicked" not in result.stderr
