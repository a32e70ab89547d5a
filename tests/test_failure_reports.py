"""Failure reports on standard error and the PanicException they come with, seen from a
fresh interpreter: the exact first piece, the one-time note, the backtrace styles, a
PanicException met inside a conversion, and values that cannot be printed."""
import os
import re

import pytest

# An index failure of the search: an empty node table.
SETUP = """
import os, sys, threading
import numpy as np
import walkmesh
point = np.dtype([("x", np.float32), ("y", np.float32)])
node = np.dtype([("centroid", point), ("edge_start", np.uint32), ("edge_count", np.uint32)])
edge = np.dtype([("to", np.uint32), ("cost", np.uint32), ("left", point), ("right", point),
                 ("padding", np.uint32)])
nodes, edges = np.zeros(0, node), np.zeros(0, edge)

def fail(start=0):
    try:
        walkmesh.find_path(nodes, edges, start, 0, walkmesh.Point(0, 0))
    except BaseException as error:
        return error
    raise AssertionError("no failure")

print(threading.get_native_id(), flush=True)
"""

NOTE = "note: run with `RUST_BACKTRACE=1` environment variable to display a backtrace\n"
SHORT_NOTE = "note: Some details are omitted, run with `RUST_BACKTRACE=full` for a verbose backtrace.\n"


def first_piece(tid, index):
    return (
        f"\nthread '<unnamed>' ({tid}) panicked at src/astar:33:12:\n"
        f"index out of bounds: the len is 0 but the index is {index}\n"
    )


# An unnamed frame and the line after it, which names its object file when one is known.
UNNAMED_FRAME = re.compile(r"<unknown>\n(?:\s+at (\S+)\+0x[0-9a-f]+\n)?")


def skip_unless_symbolised(frames):
    # Only this project's modules must name their frames: a stripped interpreter (Debian's)
    # or C library may leave theirs unnamed in a full backtrace.
    unnamed = [match.group(0) for match in UNNAMED_FRAME.finditer(frames)
               if match.group(1) is None or os.path.basename(match.group(1)).startswith(("walkmesh.", "_native."))]
    if unnamed:
        # Installed wheels must keep the symbols that name the frames.
        assert os.environ.get("WALKMESH_REQUIRE_SYMBOLS") != "1", f"frames without names:\n{frames}"
        pytest.skip("module built without a symboliser: frames have no names")


def run_failures(python_run, code, backtrace=None):
    env = {} if backtrace is None else {"RUST_BACKTRACE": backtrace}
    result = python_run(SETUP + code, env=env)
    assert result.returncode == 0, result.stderr
    return result.stdout.split()[0], result.stderr


@pytest.mark.parametrize("backtrace", [None, "0"])
def test_reports_without_backtrace(python_run, backtrace):
    tid, stderr = run_failures(python_run, "fail(5); fail(6)", backtrace)
    assert stderr == first_piece(tid, 5) + NOTE + first_piece(tid, 6)


def test_panic_exception_carries_the_message(python_run):
    result = python_run(
        SETUP
        + """
error = fail(7)
cls = type(error)
assert cls.__module__ == "pyo3_runtime" and cls.__name__ == cls.__qualname__ == "PanicException"
assert cls.__bases__ == (BaseException,)
assert error.args == ("index out of bounds: the len is 0 but the index is 7",)
assert "walkmesh" in cls.__doc__ and "BaseException" in cls.__doc__
assert not hasattr(walkmesh, "PanicException")
assert type(fail(8)) is cls
try:
    try:
        walkmesh.find_path(nodes, edges, 0, 0, walkmesh.Point(0, 0))
    except Exception:
        raise AssertionError("caught by except Exception")
except cls:
    pass
"""
    )
    assert result.returncode == 0, result.stderr


@pytest.mark.parametrize("backtrace", ["1", "yes"])
def test_short_backtrace(python_run, backtrace):
    tid, stderr = run_failures(python_run, "fail(1)", backtrace)
    head = first_piece(tid, 1) + "stack backtrace:\n"
    assert stderr.startswith(head)
    assert stderr.endswith(SHORT_NOTE)
    frames = stderr[len(head):-len(SHORT_NOTE)]
    skip_unless_symbolised(frames)
    # Symbolised, from the failing search outwards, without the failure machinery:
    # the first frame is the search's, with the checks inlined into it.
    first_frame = frames.split("\n   1:")[0]
    assert "run_search" in first_frame
    assert "panic_index" not in frames
    assert NOTE not in stderr


def test_full_backtrace(python_run):
    tid, stderr = run_failures(python_run, "fail(1)", "full")
    assert stderr.startswith(first_piece(tid, 1) + "stack backtrace:\n")
    skip_unless_symbolised(stderr)
    assert "panic_index" in stderr
    assert "search_path" in stderr
    assert "Some details are omitted" not in stderr


def test_backtrace_style_is_read_once(python_run):
    tid, stderr = run_failures(python_run, "fail(1); os.environ['RUST_BACKTRACE'] = 'full'; fail(2)")
    assert stderr == first_piece(tid, 1) + NOTE + first_piece(tid, 2)


def test_reports_of_other_threads_name_their_own_id(python_run):
    _, stderr = run_failures(
        python_run,
        """
ids = []
def worker():
    ids.append(threading.get_native_id())
    fail(3)
thread = threading.Thread(target=worker)
thread.start(); thread.join()
print(ids[0])
""",
    )
    # The process's first report, on another thread.
    assert re.fullmatch(r"\nthread '<unnamed>' \((\d+)\) panicked at src/astar:33:12:\n.*\n" + re.escape(NOTE), stderr)


def test_panic_exception_met_inside_a_conversion_is_resumed(python_run):
    tid, stderr = run_failures(
        python_run,
        """
original = fail(4)
class Index:
    def __index__(self):
        raise original
try:
    walkmesh.find_path(nodes, edges, Index(), 0, walkmesh.Point(0, 0))
except type(original) as error:
    assert error is not original
    assert error.args == original.args, error.args
    print("resumed")
""",
    )
    banner = (
        "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
        "Python stack trace below:\n"
    )
    assert stderr.startswith(first_piece(tid, 4) + NOTE + banner)
    rest = stderr[len(first_piece(tid, 4) + NOTE + banner):]
    assert rest.startswith("Traceback (most recent call last):\n")
    assert "in __index__" in rest
    assert rest.rstrip().endswith("PanicException: index out of bounds: the len is 0 but the index is 4")
    # Resuming writes no second report.
    assert stderr.count("panicked at") == 1


def test_rendered_error_with_traceback_and_unprintable_value(python_run):
    # NumPy whose version cannot be read: the failure message renders the error, and
    # a repr that raises is shown as unprintable after going to the unraisable hook.
    result = python_run(
        r"""
import sys, types
import walkmesh

class Odd(Exception):
    def __repr__(self):
        raise ValueError("no repr")

class FakeNumpy(types.ModuleType):
    def __getattr__(self, name):
        if name == "__version__":
            raise Odd("version")
        raise AttributeError(name)

sys.modules["numpy"] = FakeNumpy("numpy")
unraisable = []
sys.unraisablehook = lambda info: unraisable.append(type(info.exc_value).__name__)
try:
    walkmesh.find_path(1, 2, 3, 4, 5)
except BaseException as error:
    message = error.args[0]
print(repr(message))
assert message.startswith("Failed to access NumPy array API capsule: PyErr { type: <class '__main__.Odd'>, "), message
assert "value: <unprintable Odd object>" in message, message
assert 'traceback: Some("Traceback (most recent call last):\\n' in message, message
assert "in __getattr__" in message
assert message.endswith('") }'), message
assert unraisable == ["ValueError"], unraisable
"""
    )
    assert result.returncode == 0, result.stdout + result.stderr
