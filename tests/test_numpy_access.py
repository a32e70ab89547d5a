"""Reaching NumPy at run time: which multiarray module, the `_ARRAY_API` capsule,
failures that are never cached, and NumPy appearing after the first call."""
import os
import shutil
import subprocess
import textwrap

import numpy
import walkmesh
import walkmesh_tools
from conftest import subprocess_command
from graphs import pythonpath_with_tests

CAPSULE_FAILURE = "Failed to access NumPy array API capsule: "


def fake_numpy(tmp_path, version, array_api="42"):
    """A package called numpy with the given version and `_ARRAY_API` expression in
    both possible multiarray modules."""
    package = tmp_path / "numpy"
    for core in ("core", "_core"):
        (package / core).mkdir(parents=True)
        (package / core / "__init__.py").write_text("")
        (package / core / "multiarray.py").write_text(f"import ctypes\n_ARRAY_API = {array_api}\n")
    (package / "lib").mkdir()
    (package / "__init__.py").write_text(f"__version__ = {version!r}\n")
    (package / "lib" / "__init__.py").write_text(textwrap.dedent("""
        class NumpyVersion:
            def __init__(self, text):
                self.major = int(text.split(".")[0])
    """))
    return str(tmp_path)


CALL_TWICE = """
import sys, walkmesh
def call():
    try:
        walkmesh.find_path(None, None, 0, 0, None)
    except BaseException as error:
        print(type(error).__name__, error)
call()
{between}
call()
print(sorted(name for name in sys.modules if name.startswith("numpy.") and "multiarray" in name))
"""


def run_with_fake(python_run, tmp_path, version, array_api="42", between=""):
    code = CALL_TWICE.format(between=textwrap.dedent(between))
    path = os.pathsep.join([fake_numpy(tmp_path, version, array_api), _module_dir()])
    return python_run(code, env={"PYTHONPATH": path}).stdout.splitlines()


def _module_dir():
    return os.path.dirname(walkmesh.__file__)


def test_numpy_1_uses_numpy_core(python_run, tmp_path):
    lines = run_with_fake(python_run, tmp_path, "1.26.4")
    expected = (f"PanicException {CAPSULE_FAILURE}PyErr {{ type: <class 'TypeError'>, "
                f"value: TypeError(\"'int' object cannot be cast as 'PyCapsule'\"), traceback: None }}")
    assert lines == [expected, expected, "['numpy.core.multiarray']"]


def test_numpy_2_uses_numpy_private_core(python_run, tmp_path):
    lines = run_with_fake(python_run, tmp_path, "2.1.0")
    assert lines[2] == "['numpy._core.multiarray']"
    assert lines[0].startswith(f"PanicException {CAPSULE_FAILURE}")


def test_capsule_with_a_name_is_refused(python_run, tmp_path):
    named = ("ctypes.pythonapi.PyCapsule_New.__setattr__('restype', ctypes.py_object) or "
             "ctypes.pythonapi.PyCapsule_New(ctypes.c_void_p(8), b'other', None)")
    lines = run_with_fake(python_run, tmp_path, "2.0.0", array_api=named)
    assert lines[0].startswith(f"PanicException {CAPSULE_FAILURE}PyErr {{ type: <class 'ValueError'>")
    assert "PyCapsule_GetPointer called with incorrect name" in lines[0]


def test_failures_are_not_cached(python_run, tmp_path):
    # A major version beyond 255 fails the version lookup; fixed, the next call goes on
    # to the capsule.
    lines = run_with_fake(python_run, tmp_path, "300.0.0",
                          between="import numpy; numpy.__version__ = '1.20.0'")
    assert lines[0] == (f"PanicException {CAPSULE_FAILURE}PyErr {{ type: <class 'OverflowError'>, "
                        "value: OverflowError('out of range integral type conversion attempted'), traceback: None }")
    assert "cannot be cast as 'PyCapsule'" in lines[1]


def test_numpy_installed_after_the_first_call(tmp_path):
    # Without site-packages NumPy cannot be imported; its directory is added later.
    shutil.copy(walkmesh.__file__, tmp_path)
    late_dirs = [os.path.dirname(os.path.dirname(numpy.__file__)),
                 os.path.dirname(os.path.dirname(walkmesh_tools.__file__)), os.path.dirname(__file__)]
    code = f"""
import sys
sys.path.insert(0, {str(tmp_path)!r})
import walkmesh
walkmesh.Node(walkmesh.Point(1, 2), 3, 4)
try:
    walkmesh.find_path(None, None, 0, 0, None)
except BaseException as error:
    print(type(error).__name__, error)
sys.path.extend({late_dirs!r})
from graphs import chain
print([(p.x, p.y) for p in walkmesh.find_path(*chain(2), 0, 2, walkmesh.Point(5, 6))])
"""
    environment = {**os.environ, "PYTHONPATH": "", "PYTHONNOUSERSITE": "1"}
    result = subprocess.run(subprocess_command("-S", "-c", code), capture_output=True, text=True,
                            env=environment, timeout=120)
    lines = result.stdout.splitlines()
    assert len(lines) == 2, result.stderr
    assert lines[0].startswith(f"PanicException {CAPSULE_FAILURE}PyErr {{ type: <class 'ModuleNotFoundError'>")
    assert "No module named 'numpy'" in lines[0]
    assert lines[1] == "[(0.5, 1.0), (1.5, 1.0), (5.0, 6.0)]"


def test_the_real_numpy_is_reached_through_its_own_core(python_run):
    code = """
import numpy, walkmesh
from graphs import chain, multiarray
walkmesh.find_path(*chain(1), 0, 1, walkmesh.Point(0, 0))
print(numpy.lib.NumpyVersion(numpy.__version__).major)
print("_RUST_NUMPY_BORROW_CHECKING_API" in vars(multiarray()))
print(multiarray().__name__)
"""
    result = python_run(code, env={"PYTHONPATH": pythonpath_with_tests()})
    major, installed, name = result.stdout.split()
    assert installed == "True"
    assert name == ("numpy._core.multiarray" if int(major) >= 2 else "numpy.core.multiarray")


def test_first_use_reentered_from_numpy_import_does_not_deadlock(python_run, tmp_path):
    # NumPy's own start-up calls find_path while the first call is still loading NumPy:
    # the nested call must fail or succeed on its own, not wait for itself.
    root = fake_numpy(tmp_path, "2.0.0")
    init = tmp_path / "numpy" / "__init__.py"
    init.write_text(init.read_text() + textwrap.dedent("""
        import walkmesh
        try:
            walkmesh.find_path(None, None, 0, 0, None)
        except BaseException as error:
            print("nested", type(error).__name__, error)
    """))
    code = """
import walkmesh
try:
    walkmesh.find_path(None, None, 0, 0, None)
except BaseException as error:
    print("outer", type(error).__name__, error)
"""
    result = python_run(code, env={"PYTHONPATH": os.pathsep.join([root, _module_dir()])}, timeout=60)
    lines = result.stdout.splitlines()
    assert [line.split()[:2] for line in lines] == [["nested", "PanicException"], ["outer", "PanicException"]]
    for line in lines:
        assert CAPSULE_FAILURE in line and "cannot be cast as 'PyCapsule'" in line
