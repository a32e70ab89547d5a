"""The demo as a user runs it: its whole description under --help, its queries and its
drawing, a palette PNG that replaces an earlier one only once it is complete."""
import os
import subprocess

import pytest

from walkmesh_tools import demo
from walkmesh_tools._sample import small_mesh_path

from conftest import subprocess_command


def test_help_prints_the_whole_description():
    result = subprocess.run(subprocess_command("-m", "walkmesh_tools.demo", "--help"), capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("usage: python -m walkmesh_tools.demo")
    for line in filter(None, (line.strip() for line in demo.__doc__.splitlines())):
        assert line in result.stdout
    assert "--png PNG" in result.stdout


def test_runs_the_queries_and_draws_a_palette_png(tmp_path, capsys):
    pytest.importorskip("matplotlib")
    from PIL import Image
    png = tmp_path / "drawn" / "demo.png"
    umask = os.umask(0o022)
    try:
        demo.main(["--png", str(png), str(small_mesh_path()), str(small_mesh_path("small.scen"))])
    finally:
        os.umask(umask)
    out = capsys.readouterr().out.splitlines()
    assert out[0].startswith("small.mesh: ") and "scenarios located" in out[0]
    assert any(" us/query" in line for line in out[1:])
    assert out[-1].startswith("drew ") and out[-1].endswith(f"into {png}")
    with Image.open(png) as picture:
        assert picture.mode == "P"
        assert len(picture.getcolors(maxcolors=256)) <= demo.PALETTE
    assert [p.name for p in png.parent.iterdir()] == ["demo.png"]
    # An ordinary new file's permissions, not the temporary file's.
    assert png.stat().st_mode & 0o777 == 0o644


def test_a_failed_save_leaves_the_earlier_picture(tmp_path, monkeypatch):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from PIL import Image
    png = tmp_path / "demo.png"
    png.write_bytes(b"an earlier picture")

    def fail(*args, **kwargs):
        raise OSError("disk full")

    monkeypatch.setattr(Image.Image, "save", fail)
    figure = plt.figure()
    try:
        with pytest.raises(OSError, match="disk full"):
            demo.save_palette_png(figure, png)
    finally:
        plt.close(figure)
    assert png.read_bytes() == b"an earlier picture"
    assert [p.name for p in tmp_path.iterdir()] == ["demo.png"]
