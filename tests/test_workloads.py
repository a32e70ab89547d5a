"""The workloads that the demo, the tests and the benchmarks share (walkmesh_tools'
private _sample and bench/workloads.py)."""
import numpy as np

import walkmesh_tools as tools
import workloads

MESH = tools.NavMesh.load(workloads.small_mesh_path())


def test_scenario_queries_skip_points_in_no_polygon():
    scenarios = [((1, 1), (11, 1)), ((13, 1), (1, 1)), ((1, 1), (5, 3)), ((0, 0), (12, 8)), ((1, 1), (0.1, 0.3))]
    queries = workloads.scenario_queries(MESH, scenarios)
    assert [(q.start, q.target) for q in queries] == [(0, MESH.locate((11, 1))), (0, len(MESH) - 1), (0, 0)]
    assert queries[1].target_point == (12.0, 8.0) and queries[1].start_point == (0, 0)
    # The target point is rounded to float32 once, as the search sees it.
    assert queries[2].target_point == (float(np.float32(0.1)), float(np.float32(0.3)))
    assert workloads.scenario_queries(MESH, []) == []


def test_splitmix64_and_random_node_queries():
    numbers = workloads.splitmix64(0)
    assert [next(numbers) for _ in range(2)] == [0xE220A8397B1DCDAF, 0x6E789E6AA1B965F4]
    queries = workloads.random_node_queries(MESH.nodes, count=3, seed=20261207)
    numbers = workloads.splitmix64(20261207)
    for q in queries:
        assert (q.start, q.target) == (next(numbers) % len(MESH), next(numbers) % len(MESH))
        assert q.target_point == tuple(map(float, MESH.nodes[q.target]["centroid"]))
