"""Files written whole or not at all: the content goes to a new file in the target's
folder, which is renamed over the target only once it is complete, so a failure at
any point leaves an existing file as it was and no stray file beside it."""
from __future__ import annotations

import os
import secrets
import stat
from pathlib import Path
from typing import BinaryIO, Callable, Tuple, Union

__all__ = ["write_atomically"]

Content = Union[bytes, Callable[[BinaryIO], None]]


def _create_beside(target: Path) -> Tuple[int, Path]:
    """A new, empty file in the target's folder, created as open() would (mode 0o666
    less the umask, applied by the system)."""
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0) | getattr(os, "O_CLOEXEC", 0)
    for _ in range(100):
        temporary = target.with_name(f".{target.name}.{secrets.token_hex(6)}.part")
        try:
            return os.open(temporary, flags, 0o666), temporary
        except FileExistsError:
            continue
    raise FileExistsError(f"{target}: no free name for a temporary file in {target.parent}")


def write_atomically(path: Union[str, "os.PathLike[str]"], content: Content) -> None:
    """Writes `content` (bytes, or a function that writes to a binary file) to `path`.
    A file already there keeps its permission bits; a symbolic link keeps pointing
    where it did, at the new content."""
    target = Path(os.path.realpath(path))
    descriptor, temporary = _create_beside(target)
    try:
        with os.fdopen(descriptor, "wb") as out:
            if isinstance(content, bytes):
                out.write(content)
            else:
                content(out)
            out.flush()
            os.fsync(out.fileno())
        try:
            os.chmod(temporary, stat.S_IMODE(os.stat(target).st_mode))
        except FileNotFoundError:
            pass
        os.replace(temporary, target)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise
