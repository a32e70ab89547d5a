"""Makes a wheel for another platform from a cross build: the files that the cross
build installs (cmake --install into STAGE), and the metadata of a wheel that this
machine built for the same interpreter, under the new tag. Fails unless both hold the
same files, extension modules compared by module name.

    python retarget_wheel.py HOST_WHEEL STAGE TAG OUT_DIR
"""
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

EXTENSION = re.compile(r"\.cpython-[^/]*\.so$")


def by_module(names):
    return {EXTENSION.sub(".<extension>", name) for name in names}


def main(host_wheel, stage, tag, out_dir):
    stage = Path(stage)
    with zipfile.ZipFile(host_wheel) as archive:
        names = archive.namelist()
        dist_info = {name.split("/")[0] for name in names if name.split("/")[0].endswith(".dist-info")}
        if len(dist_info) != 1:
            sys.exit(f"{host_wheel}: expected one .dist-info directory, found {sorted(dist_info)}")
        dist_info = dist_info.pop()
        payload = [name for name in names if not name.startswith(dist_info + "/")]
        staged = [path.relative_to(stage).as_posix() for path in stage.rglob("*") if path.is_file()]
        missing, extra = by_module(payload) - by_module(staged), by_module(staged) - by_module(payload)
        if missing or extra:
            sys.exit(f"the cross build's files differ from {host_wheel}: "
                     f"missing {sorted(missing)}, extra {sorted(extra)}")
        if by_module(staged) == set(staged):
            sys.exit("the cross build installed no extension module")
        with tempfile.TemporaryDirectory() as scratch:
            tree = Path(scratch) / "tree"
            shutil.copytree(stage, tree)
            for name in names:
                if name.startswith(dist_info + "/") and not name.endswith("/RECORD"):
                    archive.extract(name, tree)
            wheel_file = tree / dist_info / "WHEEL"
            lines = [line for line in wheel_file.read_text().splitlines() if line and not line.startswith("Tag:")]
            wheel_file.write_text("\n".join(lines + [f"Tag: {tag}"]) + "\n")
            Path(out_dir).mkdir(parents=True, exist_ok=True)
            # wheel pack writes RECORD and names the file after the tag.
            subprocess.run([sys.executable, "-m", "wheel", "pack", "--dest-dir", out_dir, str(tree)], check=True)


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
