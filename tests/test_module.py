"""Module initialisation: contents, the once-per-process rule, and recovery from a failed start."""
import sys

import pytest

import walkmesh

ALREADY_INITIALIZED = (
    "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per interpreter process"
)


def test_module_contents():
    assert walkmesh.__all__ == ["Point", "Node", "Edge", "find_path"]
    assert walkmesh.__doc__ == ""
    public = {name for name in vars(walkmesh) if not name.startswith("__")}
    assert public == {"Point", "Node", "Edge", "find_path"}


def test_find_path_function_object():
    function = walkmesh.find_path
    assert function.__module__ == "walkmesh"
    assert function.__name__ == "find_path"
    assert function.__text_signature__ == "(nodes, edges, start, target, target_point)"
    assert function.__doc__ is None
    assert function.__self__ is walkmesh


def test_import_does_not_touch_numpy(python_run):
    result = python_run(
        """
        import sys
        import walkmesh
        assert "numpy" not in sys.modules
        """
    )
    assert result.returncode == 0, result.stderr


def test_import_and_records_work_without_numpy(python_run):
    # A None entry in sys.modules makes every `import numpy` fail, as if it were absent.
    result = python_run(
        """
        import sys
        sys.modules["numpy"] = None
        import walkmesh
        p = walkmesh.Point(1, 2)
        n = walkmesh.Node(p, 0, 1)
        e = walkmesh.Edge(0, 1, p, p)
        print(n.centroid.y, e.cost)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["2.0", "1"]


def test_second_initialisation_is_refused(python_run):
    result = python_run(
        f"""
        import sys
        import walkmesh
        Point, find_path = walkmesh.Point, walkmesh.find_path
        del sys.modules["walkmesh"]
        try:
            import walkmesh
        except ImportError as error:
            assert str(error) == {ALREADY_INITIALIZED!r}, error
        else:
            raise AssertionError("second import succeeded")
        # What was obtained before stays usable.
        assert Point(3, 4).y == 4.0
        try:
            find_path()
        except TypeError as error:
            assert "missing 5 required positional arguments" in str(error)
        print("ok")
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "ok"


def test_failed_initialisation_can_be_retried(python_run):
    # Makes one allocation fail at each successive point of the initialisation; every
    # failure must be an exception, and a later attempt must build the whole module.
    pytest.importorskip("_testcapi")
    result = python_run(
        f"""
        import ctypes, importlib.util, _testcapi
        spec = importlib.util.find_spec("walkmesh")
        library = ctypes.PyDLL(spec.origin)
        library.PyInit_walkmesh.restype = ctypes.py_object
        failures = set()
        for attempt in range(400):
            _testcapi.set_nomemory(attempt, attempt + 1)
            try:
                module = library.PyInit_walkmesh()
            except BaseException as error:
                _testcapi.remove_mem_hooks()
                failures.add(type(error).__name__)
                continue
            _testcapi.remove_mem_hooks()
            break
        else:
            raise AssertionError("initialisation never succeeded")
        assert module.__all__ == ["Point", "Node", "Edge", "find_path"], module.__all__
        assert module.Edge(1, 2, module.Point(0, 0), module.Point(1, 1)).right.x == 1.0
        try:
            library.PyInit_walkmesh()
        except ImportError as error:
            assert str(error) == {ALREADY_INITIALIZED!r}
        else:
            raise AssertionError("initialised twice")
        print(attempt, sorted(failures))
        """
    )
    assert result.returncode == 0, result.stderr
    attempts, failures = result.stdout.split(" ", 1)
    assert int(attempts) > 0
    assert "MemoryError" in failures
