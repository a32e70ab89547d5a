"""Shared helpers: running code in a fresh interpreter, and reaching raw memory. The
workloads the tests share with the benchmarks live in bench/workloads.py."""
import os
import shlex
import signal
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

sys.path.append(str(Path(__file__).resolve().parent.parent / "bench"))

try:
    from hypothesis import HealthCheck, settings
except ImportError:
    settings = None

if settings is not None:
    # Under user-mode emulation everything runs about ten times slower than natively.
    settings.register_profile("emulated", deadline=None, suppress_health_check=[HealthCheck.too_slow])


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "long: a long comparison with a Python reference (minutes under emulation, where the "
        "wheel runs leave it out with -m 'not long'); smaller ones of the same kind still run there")


def subprocess_command(*arguments):
    """The command that runs this interpreter, behind the emulator prefix if one is set."""
    prefix = shlex.split(os.environ.get("PY_SUBPROCESS_PREFIX", ""))
    return [*prefix, sys.executable, *arguments]


def run_python(code, env=None, timeout=120, expect_abort=False):
    """Runs `code` in a fresh interpreter; returns the CompletedProcess (text mode).
    Only a fatal-path test may end in SIGABRT: it says so with `expect_abort`."""
    environment = dict(os.environ)
    environment.pop("RUST_BACKTRACE", None)
    environment.update(env or {})
    result = subprocess.run(
        subprocess_command("-c", textwrap.dedent(code)),
        capture_output=True,
        text=True,
        env=environment,
        timeout=timeout,
    )
    if not expect_abort:
        assert result.returncode != -signal.SIGABRT, f"unexpected abort:\n{result.stderr}"
    return result


@pytest.fixture
def python_run():
    return run_python
