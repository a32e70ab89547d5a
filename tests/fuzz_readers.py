"""atheris harness for the mesh readers: NavMesh.load on a .mesh, .npz or OBJ file made
from the fuzzer's bytes (the reader is chosen by WALKMESH_READER).

A load may only return a NavMesh or raise ValueError. Peak memory, as tracemalloc sees
it (NumPy's arrays included), must stay within MEMORY_FACTOR times the file's size
plus MEMORY_CONSTANT; the process runs under an address-space limit, so an allocation
sized by a count the file merely declares fails loudly even where tracemalloc does not
look. The largest peak per file size is written to WALKMESH_READER_STATS. Run
through `scripts/fuzz readers`."""
import io
import json
import os
import resource
import sys
import tempfile
import tracemalloc

import atheris

# Coverage of the package and of zipfile, whose paths the .npz reader takes.
with atheris.instrument_imports(include=["walkmesh_tools", "zipfile"]):
    import zipfile

    import walkmesh_tools as tools
    from walkmesh_tools import EDGE_DTYPE, NODE_DTYPE

import numpy as np  # noqa: E402

READER = os.environ.get("WALKMESH_READER", "mesh")
SUFFIX = {"mesh": ".mesh", "npz": ".npz", "obj": ".obj"}[READER]
STATS = os.environ.get("WALKMESH_READER_STATS")
MEMORY_FACTOR = 64
MEMORY_CONSTANT = 16 << 20
# Above what the process holds once warmed up; ample for any input within the bound.
ADDRESS_SPACE_MARGIN = 512 << 20

FOLDER = tempfile.mkdtemp(prefix="fuzz-readers-")
PATH = os.path.join(FOLDER, "input" + SUFFIX)
SQUARES = tools.NavMesh.from_polygons([(0, 0), (1, 0), (2, 0), (2, 1), (1, 1), (0, 1)], [(0, 1, 4, 5), (1, 2, 3, 4)])
ARRAYS = {"vertices": SQUARES.vertices, "polygon_offsets": SQUARES.polygon_offsets,
          "polygon_corners": SQUARES.polygon_corners, "cost_factors": np.full(len(SQUARES), 1.5),
          "nodes": SQUARES.nodes, "edges": SQUARES.edges}
DTYPES = [np.dtype(t) for t in ["<f8", "<f4", "<i8", "<u8", "<i4", ">i8", "<c16", "<U3", "|b1", "|u1"]]
DTYPES += [NODE_DTYPE, EDGE_DTYPE]


def npy_bytes(fdp, name):
    """One member: raw bytes, an array of the mesh with some bytes changed, or a header
    of any dtype and shape (maybe declaring far more than follows) with data after it."""
    form = fdp.ConsumeIntInRange(0, 3)
    if form == 0:
        return fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 64))
    out = io.BytesIO()
    if form == 1 and name in ARRAYS:
        raw = bytearray(ARRAYS[name].tobytes())
        for _ in range(fdp.ConsumeIntInRange(0, 4)):
            raw[fdp.ConsumeIntInRange(0, len(raw) - 1)] = fdp.ConsumeIntInRange(0, 255)
        array = np.frombuffer(bytes(raw), dtype=ARRAYS[name].dtype).reshape(ARRAYS[name].shape)
        np.lib.format.write_array(out, array, allow_pickle=False)
        return out.getvalue()
    dtype = fdp.PickValueInList(DTYPES)
    shape = tuple(fdp.ConsumeIntInRange(0, 8) if fdp.ConsumeProbability() < 0.9 else fdp.ConsumeIntInRange(0, 2**40)
                  for _ in range(fdp.ConsumeIntInRange(0, 3)))
    header = {"descr": np.lib.format.dtype_to_descr(dtype), "fortran_order": fdp.ConsumeBool(), "shape": shape}
    np.lib.format.write_array_header_1_0(out, header)
    if form == 3:
        # Zeros compress well: a member far larger than its archive.
        out.write(bytes(fdp.ConsumeIntInRange(0, 1 << 22)))
    else:
        out.write(fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 256)))
    return out.getvalue()


def npz_bytes(data):
    fdp = atheris.FuzzedDataProvider(data)
    out = io.BytesIO()
    method = zipfile.ZIP_DEFLATED if fdp.ConsumeBool() else zipfile.ZIP_STORED
    with zipfile.ZipFile(out, "w", method) as archive:
        for _ in range(fdp.ConsumeIntInRange(0, 7)):
            name = fdp.PickValueInList(list(ARRAYS) + ["other"])
            archive.writestr(name + ".npy", npy_bytes(fdp, name))
    raw = bytearray(out.getvalue())
    # Damage: sizes, offsets and CRCs in the headers that disagree with the data.
    for _ in range(fdp.ConsumeIntInRange(0, 3) if raw else 0):
        raw[fdp.ConsumeIntInRange(0, len(raw) - 1)] = fdp.ConsumeIntInRange(0, 255)
    return bytes(raw)


def file_bytes(data):
    return npz_bytes(data) if READER == "npz" else data


def load(content):
    with open(PATH, "wb") as out:
        out.write(content)
    try:
        tools.NavMesh.load(PATH)
    except ValueError:
        pass


peaks = {}
inputs = [0]


def record(size, peak):
    bucket = 1 << max(size - 1, 0).bit_length()
    peaks[bucket] = max(peaks.get(bucket, 0), peak)
    inputs[0] += 1
    # Written after every input: libFuzzer ends the process without running Python's exit handlers.
    if STATS:
        with open(STATS, "w") as out:
            json.dump({"reader": READER, "inputs": inputs[0], "peak_by_size": peaks}, out)


def one_input(data):
    content = file_bytes(data)
    tracemalloc.reset_peak()
    before = tracemalloc.get_traced_memory()[0]
    load(content)
    peak = tracemalloc.get_traced_memory()[1] - before
    record(len(content), peak)
    limit = MEMORY_FACTOR * len(content) + MEMORY_CONSTANT
    assert peak <= limit, f"{READER}: {peak} bytes at peak for a file of {len(content)} bytes (limit {limit})"


def address_space():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmSize in /proc/self/status")


def write_seeds(folder):
    """Small valid files of the reader's format to start the corpus from."""
    if READER == "npz":
        return
    shared = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "navmeshes", "arena.mesh")
    meshes = [SQUARES, tools.NavMesh.from_polygons(SQUARES.vertices, [(0, 1, 4), (0, 4, 5), (1, 2, 3, 4)])]
    for i, mesh in enumerate(meshes):
        mesh.save(os.path.join(folder, f"seed-{i}{SUFFIX}"))
    if READER == "mesh" and os.path.exists(shared):
        with open(shared, "rb") as source, open(os.path.join(folder, "seed-arena.mesh"), "wb") as out:
            out.write(source.read())


def summary(path):
    """One line of the figures a run wrote."""
    with open(path) as source:
        stats = json.load(source)
    figures = ", ".join(f"{int(size)} B: {peak / 1024:.0f} KiB"
                        for size, peak in sorted(stats["peak_by_size"].items(), key=lambda item: int(item[0])))
    print(f"readers: {stats['reader']}: {stats['inputs']} inputs; the largest peak of traced memory for files of "
          f"up to ... {figures}; bound {MEMORY_FACTOR} x size + {MEMORY_CONSTANT >> 20} MiB")


def main():
    if sys.argv[1:2] == ["--seeds"]:
        return write_seeds(sys.argv[2])
    if sys.argv[1:2] == ["--summary"]:
        return summary(sys.argv[2])
    tracemalloc.start()
    # Warm up every path the readers import lazily (trimesh and its parsers), then cap
    # the address space a little above what the process holds.
    for seed in (b"", b"mesh 2 0 0", b"v 0 0 0\nf 1 1 1\n"):
        load(file_bytes(seed))
    limit = address_space() + ADDRESS_SPACE_MARGIN
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    atheris.Setup(sys.argv, one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
