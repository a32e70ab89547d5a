"""The distribution as installed: what each extension module exports (its init function
and nothing else, read from the ELF file itself, so that 32-bit ARM objects are read as
well as 64-bit ones), where the modules and their types come from, and the typed example."""
from __future__ import annotations

import importlib.util
import math
import os
import struct
from importlib import machinery
from pathlib import Path
from typing import List, NamedTuple

import pytest

from conftest import run_python

PROJECT = Path(__file__).resolve().parent.parent

# Every extension module that the build installs.
EXTENSION_MODULES = ["walkmesh", "walkmesh_tools._native"]

SHT_DYNSYM = 11
SHT_GNU_VERSYM = 0x6FFFFFFF
SHN_UNDEF = 0
STB_NAMES = {0: "LOCAL", 1: "GLOBAL", 2: "WEAK", 10: "UNIQUE"}
STT_NAMES = {0: "NOTYPE", 1: "OBJECT", 2: "FUNC", 3: "SECTION", 4: "FILE", 6: "TLS", 10: "IFUNC"}
STV_NAMES = {0: "DEFAULT", 1: "INTERNAL", 2: "HIDDEN", 3: "PROTECTED"}


class Symbol(NamedTuple):
    name: str
    binding: str
    kind: str
    visibility: str
    defined: bool
    # Bound to a version of the library that defines it (GLIBC_2.17).
    versioned: bool


def dynamic_symbols(path: Path) -> List[Symbol]:
    """The entries of the dynamic symbol table (.dynsym) of an ELF shared object."""
    data = path.read_bytes()
    assert data[:4] == b"\x7fELF", f"{path} is not an ELF file"
    wide = {1: False, 2: True}[data[4]]
    order = {1: "<", 2: ">"}[data[5]]
    if wide:
        shoff, = struct.unpack_from(order + "Q", data, 0x28)
        shentsize, shnum = struct.unpack_from(order + "HH", data, 0x3A)
        section = order + "IIQQQQIIQQ"
    else:
        shoff, = struct.unpack_from(order + "I", data, 0x20)
        shentsize, shnum = struct.unpack_from(order + "HH", data, 0x2E)
        section = order + "IIIIIIIIII"
    sections = [struct.unpack_from(section, data, shoff + i * shentsize) for i in range(shnum)]
    symbols = []
    # One version index per dynamic symbol; 0 and 1 mean none.
    versions = [struct.unpack_from(order + f"{size // 2}H", data, offset)
                for _, kind, _, _, offset, size, _, _, _, _ in sections if kind == SHT_GNU_VERSYM]
    for _, kind, _, _, offset, size, link, _, _, entsize in sections:
        if kind != SHT_DYNSYM:
            continue
        strings_offset = sections[link][4]
        for at in range(offset, offset + size, entsize):
            if wide:
                name, info, other, shndx = struct.unpack_from(order + "IBBH", data, at)
            else:
                name, _, _, info, other, shndx = struct.unpack_from(order + "IIIBBH", data, at)
            end = data.index(b"\0", strings_offset + name)
            symbols.append(Symbol(
                name=data[strings_offset + name:end].decode(),
                binding=STB_NAMES.get(info >> 4, str(info >> 4)),
                kind=STT_NAMES.get(info & 0xF, str(info & 0xF)),
                visibility=STV_NAMES[other & 3],
                defined=shndx != SHN_UNDEF,
                versioned=bool(versions) and versions[0][len(symbols)] & 0x7FFF > 1,
            ))
    return symbols


def exported(path: Path) -> List[Symbol]:
    """The symbols that the object offers to the dynamic linker."""
    return [
        symbol for symbol in dynamic_symbols(path)
        if symbol.defined and symbol.binding != "LOCAL" and symbol.visibility in ("DEFAULT", "PROTECTED")
    ]


def module_file(name: str) -> Path:
    spec = importlib.util.find_spec(name)
    assert spec is not None and spec.origin is not None, f"{name} is not importable"
    assert spec.origin.endswith(tuple(machinery.EXTENSION_SUFFIXES)), f"{name} is not an extension: {spec.origin}"
    return Path(spec.origin)


@pytest.mark.parametrize("name", EXTENSION_MODULES)
def test_extension_exports_only_its_init_function(name):
    init = "PyInit_" + name.rpartition(".")[2]
    symbols = exported(module_file(name))
    assert [(s.name, s.binding, s.kind) for s in symbols] == [(init, "GLOBAL", "FUNC")]


@pytest.mark.parametrize("name", EXTENSION_MODULES)
def test_extension_binds_c_library_symbols_by_version(name):
    # An unversioned C library symbol binds to whatever the user's glibc has and is
    # missing from an older one (gettid before glibc 2.30), which auditwheel's check of
    # the versions cannot see. Only the interpreter's API comes without versions. Weak
    # references may stay unresolved.
    symbols = dynamic_symbols(module_file(name))
    if any(s.name.startswith(("__asan_", "__ubsan_", "__sanitizer_")) for s in symbols):
        pytest.skip("a sanitized build: the sanitizer runtime stands in for the C library, unversioned")
    assert any(s.versioned for s in symbols if not s.defined)
    unversioned = [s.name for s in symbols if s.name and not s.defined and s.binding == "GLOBAL"
                   and not s.versioned and not s.name.startswith(("Py", "_Py"))]
    assert unversioned == []


def test_reader_sees_the_interpreters_exports():
    # The reader must find exports where they exist, or the test above could pass on an
    # empty table: every extension of the standard library exports its init function.
    import _ctypes
    path = Path(_ctypes.__file__)
    assert "PyInit__ctypes" in {s.name for s in exported(path) if s.kind == "FUNC"}
    assert any(not s.defined for s in dynamic_symbols(path))


def test_every_installed_extension_is_checked():
    # Run against an installed distribution, every extension file it lists must be one
    # of the modules checked above, so that a new one cannot slip past.
    metadata = pytest.importorskip("importlib.metadata")
    try:
        files = metadata.files("walkmesh") or []
    except metadata.PackageNotFoundError:
        pytest.skip("walkmesh is not installed as a distribution here")
    installed = {Path(f.locate()).resolve() for f in files
                 if str(f).endswith(tuple(machinery.EXTENSION_SUFFIXES))}
    checked = {module_file(name).resolve() for name in EXTENSION_MODULES}
    if not checked <= installed:
        pytest.skip("the modules imported here are not the installed distribution's")
    assert installed == checked


def test_installed_layout():
    # Set by the wheel tests: the modules must come from the installed wheel, not the
    # source tree, and the wheel must carry the stubs in both forms and py.typed.
    prefix = os.environ.get("WALKMESH_EXPECT_INSTALLED")
    if not prefix:
        pytest.skip("not a run against an installed wheel")
    import walkmesh
    import walkmesh_tools
    prefix_path = Path(prefix).resolve()
    module = Path(walkmesh.__file__).resolve()
    tools = Path(walkmesh_tools.__file__).resolve().parent
    assert prefix_path in module.parents, module
    assert prefix_path in tools.parents, tools
    site = module.parent
    assert tools.parent == site
    assert (tools / "py.typed").is_file()
    stub = (site / "walkmesh.pyi").read_text()
    assert "def find_path(" in stub
    assert (site / "walkmesh-stubs" / "__init__.pyi").read_text() == stub


def test_typed_example_runs():
    # The example that CI type-checks must also do what it says, on every interpreter.
    result = run_python(f"import runpy; runpy.run_path({str(PROJECT / 'examples' / 'typed_paths.py')!r}, run_name='__main__')")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == "corridor: [(1.0, 0.5), (1.75, 0.25)]"
    # Round the pillar from (0.5, 0.5) to (2.5, 2.5): through four portal midpoints, or
    # straight past one of its corners.
    midpoints, straight = 3 + math.sqrt(0.5), 2 * math.hypot(1.5, 0.5)
    assert lines[1] == (f"pillar: 6 points through portal midpoints, {midpoints:.4f} long; "
                        f"3 on the straight path, {straight:.4f} long")
