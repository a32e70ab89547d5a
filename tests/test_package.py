"""walkmesh_tools as its users meet it: its public names, the examples in its
docstrings (and in the shared workloads'), and the demo it ships, in a fresh
interpreter."""
import doctest
import importlib
import inspect
import os
import pkgutil
import re
import shutil
import subprocess

import pytest

import walkmesh_tools as tools
import workloads
from conftest import subprocess_command


def test_only_the_tools_are_public():
    assert tools.__all__ == ["NavMesh", "POINT_DTYPE", "NODE_DTYPE", "EDGE_DTYPE", "Problem", "PROBLEM_KINDS",
                             "validate", "corridor", "straight_path", "Paths", "find_paths", "QueryError"]
    public = {name for name, value in vars(tools).items() if not name.startswith("_") and not inspect.ismodule(value)}
    assert public == set(tools.__all__)
    assert issubclass(tools.QueryError, ValueError)


def skip_without_shapely_2_1(example):
    if "from_shapes" in example.name or example.name.startswith("walkmesh_tools.shapes"):
        shapely = pytest.importorskip("shapely")
        if not hasattr(shapely, "constrained_delaunay_triangles"):
            pytest.skip("from_shapes needs shapely 2.1 or later")


def docstring_examples():
    names = [m.name for m in pkgutil.iter_modules(tools.__path__) if m.name != "demo"]
    modules = [tools, workloads] + [importlib.import_module(f"walkmesh_tools.{name}") for name in names]
    finder = doctest.DocTestFinder()
    return [test for module in modules for test in finder.find(module) if test.examples]


@pytest.mark.parametrize("example", docstring_examples(), ids=lambda t: t.name)
def test_docstring_examples_run(example):
    skip_without_shapely_2_1(example)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(example)
    assert runner.failures == 0


def run_demo(folder, meshes, *arguments):
    environment = dict(os.environ, WALKMESH_MESHES=meshes)
    return subprocess.run(subprocess_command("-m", "walkmesh_tools.demo", "--png", str(folder / "demo.png"),
                                             *arguments),
                          cwd=folder, env=environment, capture_output=True, text=True, timeout=300)


def untimed(output):
    return re.sub(r", +[0-9.]+ us/query", "", output)


def test_the_demo_takes_the_meshes_folder_it_is_given(tmp_path):
    # Nothing given: the small mesh shipped with the package, wherever the demo runs.
    shipped = run_demo(tmp_path, "")
    assert shipped.returncode == 0, shipped.stderr
    assert re.match(r"small\.mesh: 19 nodes, 46 edges, 4 of 7 scenarios located\n", shipped.stdout)
    # A folder of meshes, from the environment or an argument, holds aurora.
    meshes = tmp_path / "meshes"
    meshes.mkdir()
    shutil.copy(workloads.small_mesh_path(), meshes / "aurora.mesh")
    shutil.copy(workloads.small_mesh_path("small.scen"), meshes / "aurora.scen")
    given = run_demo(tmp_path, str(meshes))
    assert given.returncode == 0, given.stderr
    assert untimed(given.stdout) == untimed(shipped.stdout).replace("small.mesh:", "aurora.mesh:", 1)
    refused = run_demo(tmp_path, str(meshes), "--meshes", str(tmp_path))
    assert refused.returncode == 2 and f"no aurora.mesh in {tmp_path}" in refused.stderr
