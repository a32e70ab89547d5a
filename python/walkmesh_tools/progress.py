"""Progress of long batches: what `progress=True` shows, and how a batch's `progress`
argument becomes the callable its workers' caller reports to."""
from __future__ import annotations

import sys
import time
from typing import Any, Callable, Optional, TextIO, Union

__all__ = ["ProgressArgument", "progress_callback"]

# A callable taking (done, total), True for the default display, or False for none.
ProgressArgument = Union[bool, Callable[[int, int], Any]]

LINE_INTERVAL = 1.0


class _Lines:
    """One line on standard error a second at most, and one when the batch is done."""

    def __init__(self, label: str, stream: Optional[TextIO] = None) -> None:
        self._label = label
        self._stream = stream if stream is not None else sys.stderr
        self._started = time.monotonic()
        self._shown = -LINE_INTERVAL

    def __call__(self, done: int, total: int) -> None:
        now = time.monotonic() - self._started
        if done < total and now - self._shown < LINE_INTERVAL:
            return
        self._shown = now
        share = 100.0 * done / total if total else 100.0
        print(f"{self._label}: {done:,} of {total:,} queries ({share:.0f} %), {now:.1f} s",
              file=self._stream, flush=True)


class _Bar:
    """A tqdm bar, closed when the batch is done."""

    def __init__(self, label: str, tqdm: Any) -> None:
        self._tqdm = tqdm
        self._label = label
        self._bar: Any = None

    def __call__(self, done: int, total: int) -> None:
        if self._bar is None:
            self._bar = self._tqdm(total=total, desc=self._label, unit="query")
        self._bar.update(done - self._bar.n)
        if done >= total:
            self._bar.close()


def progress_callback(progress: ProgressArgument, label: str) -> Optional[Callable[[int, int], Any]]:
    """None for False; for True a tqdm bar when tqdm is installed, otherwise a line on
    standard error every second; a callable as it is."""
    if progress is False or progress is None:
        return None
    if progress is True:
        try:
            from tqdm.auto import tqdm
        except ImportError:
            return _Lines(label)
        return _Bar(label, tqdm)
    if callable(progress):
        return progress
    raise TypeError(f"progress must be True, False or a callable taking (done, total), "
                    f"not {type(progress).__name__}")
