"""Shared helpers: running code in a fresh interpreter, and reaching raw memory."""
import os
import shlex
import subprocess
import sys
import textwrap

import pytest

try:
    from hypothesis import HealthCheck, settings
except ImportError:
    settings = None

if settings is not None:
    # Under user-mode emulation everything runs about ten times slower than natively.
    settings.register_profile("emulated", deadline=None, suppress_health_check=[HealthCheck.too_slow])


def subprocess_command(*arguments):
    """The command that runs this interpreter, behind the emulator prefix if one is set."""
    prefix = shlex.split(os.environ.get("PY_SUBPROCESS_PREFIX", ""))
    return [*prefix, sys.executable, *arguments]


def run_python(code, env=None, timeout=120):
    """Runs `code` in a fresh interpreter; returns the CompletedProcess (text mode)."""
    environment = dict(os.environ)
    environment.pop("RUST_BACKTRACE", None)
    environment.update(env or {})
    return subprocess.run(
        subprocess_command("-c", textwrap.dedent(code)),
        capture_output=True,
        text=True,
        env=environment,
        timeout=timeout,
    )


@pytest.fixture
def python_run():
    return run_python
