"""The workloads that the demo, the tests and the benchmarks share, and the examples
in walkmesh_tools' docstrings."""
import doctest
import importlib
import pkgutil

import numpy as np
import pytest

import walkmesh_tools as tools

MESH = tools.NavMesh.load(tools.small_mesh_path())


def test_scenario_queries_skip_points_in_no_polygon():
    scenarios = [((1, 1), (11, 1)), ((13, 1), (1, 1)), ((1, 1), (5, 3)), ((0, 0), (12, 8)), ((1, 1), (0.1, 0.3))]
    queries = tools.scenario_queries(MESH, scenarios)
    assert [(q.start, q.target) for q in queries] == [(0, MESH.locate((11, 1))), (0, len(MESH) - 1), (0, 0)]
    assert queries[1].target_point == (12.0, 8.0) and queries[1].start_point == (0, 0)
    # The target point is rounded to float32 once, as the search sees it.
    assert queries[2].target_point == (float(np.float32(0.1)), float(np.float32(0.3)))
    assert tools.scenario_queries(MESH, []) == []


def test_splitmix64_and_random_node_queries():
    numbers = tools.splitmix64(0)
    assert [next(numbers) for _ in range(2)] == [0xE220A8397B1DCDAF, 0x6E789E6AA1B965F4]
    queries = tools.random_node_queries(MESH.nodes, count=3, seed=20261207)
    numbers = tools.splitmix64(20261207)
    for q in queries:
        assert (q.start, q.target) == (next(numbers) % len(MESH), next(numbers) % len(MESH))
        assert q.target_point == tuple(map(float, MESH.nodes[q.target]["centroid"]))


def skip_without_shapely_2_1(example):
    if "from_shapes" in example.name or example.name.startswith("walkmesh_tools.shapes"):
        shapely = pytest.importorskip("shapely")
        if not hasattr(shapely, "constrained_delaunay_triangles"):
            pytest.skip("from_shapes needs shapely 2.1 or later")


def docstring_examples():
    names = [m.name for m in pkgutil.iter_modules(tools.__path__) if m.name != "demo"]
    modules = [tools] + [importlib.import_module(f"walkmesh_tools.{name}") for name in names]
    finder = doctest.DocTestFinder()
    return [test for module in modules for test in finder.find(module) if test.examples]


@pytest.mark.parametrize("example", docstring_examples(), ids=lambda t: t.name)
def test_docstring_examples_run(example):
    skip_without_shapely_2_1(example)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(example)
    assert runner.failures == 0
