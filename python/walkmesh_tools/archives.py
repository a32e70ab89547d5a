"""The arrays of an .npz archive, each read only after its header and sizes have been
checked: an array's dtype and shape come from its .npy header, read from the zip
stream before the data is decompressed, and what it declares must fit in what the
archive holds, so a small file cannot make the reader allocate much."""
from __future__ import annotations

import math
import os
import struct
import zipfile
import zlib
from contextlib import contextmanager
from typing import Dict, Iterator, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np

__all__ = ["ArrayHeader", "NpzArchive"]

# Deflate expands its input at most about 1032 times.
DEFLATE_EXPANSION = 1032
# All the arrays read from one archive together: at most this many times the
# archive's size, plus an allowance for small meshes whose arrays compress very well.
EXPANSION = 32
ALLOWANCE = 1 << 20
# What zipfile, zlib and NumPy's header parser raise on damaged input.
_DAMAGED = (zipfile.BadZipFile, zlib.error, EOFError, NotImplementedError, RuntimeError, struct.error,
            ValueError, OverflowError, KeyError, SyntaxError)


class ArrayHeader(NamedTuple):
    name: str
    info: zipfile.ZipInfo
    shape: Tuple[int, ...]
    dtype: np.dtype


class NpzArchive:
    """An .npz file opened for reading checked arrays; raises ValueError naming the file
    and the array for anything damaged or out of proportion."""

    def __init__(self, path: Union[str, "os.PathLike[str]"]) -> None:
        self.path = path
        self.size = os.path.getsize(path)
        with self._reading("the archive"):
            self._zip = zipfile.ZipFile(path)
        self._members: Dict[str, zipfile.ZipInfo] = {
            info.filename[:-4]: info for info in self._zip.infolist() if info.filename.endswith(".npy")}

    def __enter__(self) -> "NpzArchive":
        return self

    def __exit__(self, *exc: object) -> None:
        self._zip.close()

    def error(self, name: str, text: str) -> ValueError:
        return ValueError(f"{self.path}: {name}: {text}")

    @contextmanager
    def _reading(self, name: str) -> Iterator[None]:
        try:
            yield
        except _DAMAGED as error:
            raise self.error(name, f"cannot be read ({type(error).__name__}: {error})") from None

    @property
    def names(self) -> Sequence[str]:
        return list(self._members)

    def headers(self, names: Sequence[str]) -> Dict[str, ArrayHeader]:
        """The headers of the arrays of `names` that the archive holds, once their
        sizes together are known to be in proportion to the archive's."""
        infos = {name: self._checked_info(name) for name in names if name in self._members}
        declared = sum(info.file_size for info in infos.values())
        if declared > EXPANSION * self.size + ALLOWANCE:
            raise ValueError(f"{self.path}: its arrays declare {declared} bytes in all, more than {EXPANSION} times "
                             f"the archive's {self.size} bytes; such an archive is refused as a decompression bomb")
        return {name: self._header(name, info) for name, info in infos.items()}

    def _checked_info(self, name: str) -> zipfile.ZipInfo:
        info = self._members[name]
        if info.flag_bits & 0x1:
            raise self.error(name, "is encrypted")
        if info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
            raise self.error(name, f"uses zip compression method {info.compress_type}; only stored and deflated "
                                   "arrays (as numpy.savez and numpy.savez_compressed write them) are read")
        if info.header_offset + info.compress_size > self.size:
            raise self.error(name, f"declares {info.compress_size} compressed bytes at offset {info.header_offset}, "
                                   f"past the end of the file ({self.size} bytes)")
        most = info.compress_size if info.compress_type == zipfile.ZIP_STORED else (
            DEFLATE_EXPANSION * info.compress_size + 64)
        if info.file_size > most:
            raise self.error(name, f"declares {info.file_size} bytes, more than its {info.compress_size} "
                                   "compressed bytes can hold")
        return info

    def _header(self, name: str, info: zipfile.ZipInfo) -> ArrayHeader:
        with self._reading(name), self._zip.open(info) as stream:
            version = np.lib.format.read_magic(stream)
            read = {(1, 0): np.lib.format.read_array_header_1_0, (2, 0): np.lib.format.read_array_header_2_0}
            if version in read:
                shape, _, dtype = read[version](stream)
                header_size = stream.tell()
        if version not in read:
            raise self.error(name, f"is an .npy array of format version {version}, not 1.0 or 2.0")
        if dtype.hasobject:
            raise self.error(name, f"holds Python objects (dtype {dtype}); only plain arrays are read")
        data_size = math.prod(shape) * dtype.itemsize
        if header_size + data_size != info.file_size:
            raise self.error(name, f"its header declares shape {shape} of {dtype} ({data_size} bytes), but the "
                                   f"archive holds {info.file_size - header_size} bytes of data for it")
        return ArrayHeader(name, info, tuple(shape), dtype)

    def read(self, header: ArrayHeader) -> np.ndarray:
        with self._reading(header.name), self._zip.open(header.info) as stream:
            array = np.lib.format.read_array(stream, allow_pickle=False)
            # Reading to the end checks the stored CRC.
            stream.read()
        result: np.ndarray = array
        return result

    def expect(self, header: Optional[ArrayHeader], kinds: str, ndim: int,
               shape: Optional[Tuple[Optional[int], ...]] = None) -> None:
        """Raises ValueError unless the header declares an array of one of the dtype
        `kinds` with `ndim` dimensions, matching `shape` where it gives a size."""
        if header is None:
            return
        sizes = shape or (None,) * ndim
        fits = len(header.shape) == ndim and all(want in (None, got) for want, got in zip(sizes, header.shape))
        if header.dtype.kind not in kinds or header.dtype.fields is not None or not fits:
            what = "integers" if kinds == "iu" else "real numbers"
            wanted = "(" + ", ".join("n" if s is None else str(s) for s in sizes) + ("," if ndim == 1 else "") + ")"
            raise self.error(header.name, f"must be {what} of shape {wanted}, not {header.dtype} of shape "
                                          f"{header.shape}")
