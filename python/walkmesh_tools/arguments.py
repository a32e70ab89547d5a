"""Integer arguments of the Python layer, taken as the native functions take theirs:
whatever operator.index accepts, and a TypeError naming the argument otherwise."""
from __future__ import annotations

import operator
from typing import Any

__all__ = ["index_argument"]


def index_argument(name: str, value: Any) -> int:
    """`value` as an int, by operator.index.

    >>> index_argument("chunk_size", 2.5)
    Traceback (most recent call last):
    TypeError: argument 'chunk_size': 'float' object cannot be interpreted as an integer
    """
    try:
        # int(): before Python 3.10 operator.index gives a bool back as it is.
        return int(operator.index(value))
    except TypeError as error:
        raise TypeError(f"argument '{name}': {error}") from None
