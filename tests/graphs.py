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


def cross2(a, b):
    return a[0] * b[1] - a[1] * b[0]


def strip(vertices):
    """Tables of the triangle strip over `vertices`: triangle i is vertices i, i+1, i+2
    (node i, centroid the float32 mean), joined to triangle i+1 across vertices i+1 and
    i+2 by an edge each way of cost ceil(distance between the centroids)."""
    v = np.asarray(vertices, dtype=np.float32).astype(np.float64)
    count = len(v) - 2
    centroids = np.array([v[i:i + 3].mean(axis=0) for i in range(count)], dtype=np.float32)
    rows, edge_rows = [], []
    for i in range(count):
        first = len(edge_rows)
        for j in (i - 1, i + 1):
            if 0 <= j < count:
                cost = int(np.ceil(np.hypot(*(centroids[j].astype(np.float64) - centroids[i]))))
                shared = (v[max(i, j)], v[max(i, j) + 1])
                edge_rows.append((j, cost, tuple(shared[0]), tuple(shared[1])))
        rows.append((tuple(centroids[i]), first, len(edge_rows) - first))
    return make_nodes(rows), make_edges(edge_rows)


def random_strip(rng, count, turn=1.0, grid=False):
    """`count` + 2 float32 vertices of a strip of `count` triangles that never folds
    back: each new vertex lies beyond the side it shares with the triangle before.
    With `grid`, the vertices are integers, as on maps made from grids."""
    scale = 10.0 if grid else 1.0

    def rounded(point):
        return np.float32(np.round(point) if grid else point)

    v = [rounded(rng.uniform(-5, 5, 2) * scale)]
    while len(v) < 2:
        second = rounded(rng.uniform(-5, 5, 2) * scale)
        if np.hypot(*(second - v[0])) > 0.5 * scale:
            v.append(second)
    while len(v) < count + 2:
        a, b = v[-2].astype(np.float64), v[-1].astype(np.float64)
        normal = np.array([a[1] - b[1], b[0] - a[0]]) / np.hypot(*(b - a))
        behind = cross2(b - a, v[-3] - a) if len(v) >= 3 else 0.0
        if behind * cross2(b - a, normal) > 0:
            normal = -normal
        candidate = rounded(a + rng.uniform(-turn, 1 + turn) * (b - a) + normal * rng.uniform(0.3, 3.0) * scale)
        # Kept only when clearly beyond the shared side once rounded.
        side = cross2(b - a, candidate.astype(np.float64) - a)
        if abs(side) > 1e-3 and side * behind <= 0:
            v.append(candidate)
    return v


def view_in_place_as(array, dtype):
    """Changes an array's dtype in place, as Python code may while a call holds the array
    (NumPy 2.5 deprecates it, but the arrays of older NumPy and of other code can)."""
    import warnings

    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        array.dtype = dtype
