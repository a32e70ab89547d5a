"""Building node and edge tables by hand, and reaching the shared borrow registry
through ctypes the way another extension module would."""
import ctypes
import os

import numpy as np

from walkmesh_tools import EDGE_DTYPE, NODE_DTYPE


def make_nodes(rows):
    """rows: ((x, y), edge_start, edge_count)"""
    return np.array(rows, dtype=NODE_DTYPE)


def make_edges(rows):
    """rows: (to, cost, (lx, ly), (rx, ry)[, padding])"""
    return np.array([row if len(row) == 5 else (*row, 0) for row in rows], dtype=EDGE_DTYPE)


def chain(k):
    """Nodes 0..k on a line, one edge i -> i+1 each, portal from (i+0.5, 0) to (i+0.5, 2)."""
    nodes = make_nodes([((float(i), 1.0), i, 1 if i < k else 0) for i in range(k + 1)])
    edges = make_edges([(i + 1, 1, (i + 0.5, 0.0), (i + 0.5, 2.0)) for i in range(k)])
    return nodes, edges


def multiarray():
    core = np._core if hasattr(np, "_core") and int(np.__version__.split(".")[0]) >= 2 else np.core
    return core.multiarray


CAPSULE_NAME = b"_RUST_NUMPY_BORROW_CHECKING_API"
_operation = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)
_release = ctypes.PYFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)


class _Record(ctypes.Structure):
    _fields_ = [
        ("version", ctypes.c_uint64),
        ("state", ctypes.c_void_p),
        ("acquire_shared", _operation),
        ("acquire_exclusive", _operation),
        ("release_shared", _release),
        ("release_exclusive", _release),
    ]


class RegistryClient:
    """The registry published on the multiarray module, used through its record."""

    def __init__(self):
        get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
        get_pointer.restype = ctypes.c_void_p
        get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
        if not hasattr(multiarray(), CAPSULE_NAME.decode()):
            # The first find_path call of the process finds or installs the registry.
            import walkmesh

            walkmesh.find_path(*chain(1), 0, 1, walkmesh.Point(0, 0))
        self.capsule = getattr(multiarray(), CAPSULE_NAME.decode())
        self.record = _Record.from_address(get_pointer(self.capsule, CAPSULE_NAME))

    def acquire_shared(self, array):
        return self.record.acquire_shared(self.record.state, array)

    def acquire_exclusive(self, array):
        return self.record.acquire_exclusive(self.record.state, array)

    def release_shared(self, array):
        self.record.release_shared(self.record.state, array)

    def release_exclusive(self, array):
        self.record.release_exclusive(self.record.state, array)

    def can_borrow_exclusively(self, array):
        if self.acquire_exclusive(array) != 0:
            return False
        self.release_exclusive(array)
        return True


def install_capsule_version(version):
    """Code for a fresh interpreter: publishes a registry record of `version` before
    walkmesh first looks for one."""
    return f"""
import ctypes
import numpy as np
core = np._core if int(np.__version__.split(".")[0]) >= 2 else np.core
record = (ctypes.c_uint64 * 6)({version}, 0, 0, 0, 0, 0)
new_capsule = ctypes.pythonapi.PyCapsule_New
new_capsule.restype = ctypes.py_object
new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
name = ctypes.c_char_p({CAPSULE_NAME!r})
setattr(core.multiarray, name.value.decode(), new_capsule(ctypes.addressof(record), name, None))
"""


def pythonpath_with_tests():
    """PYTHONPATH for a fresh interpreter that imports these helpers."""
    return os.pathsep.join([os.path.dirname(__file__), os.environ.get("PYTHONPATH", "")])
