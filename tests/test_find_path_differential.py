"""find_path against the pure-Python reference twin: random graphs, including broken
ones, and the real navigation meshes; every point must match exactly in float32."""
from pathlib import Path

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import reference
import walkmesh_tools as tools
from graphs import make_edges, make_nodes
import workloads
from walkmesh import Point, find_path

NAVMESHES = Path(__file__).resolve().parent.parent.parent / "shared" / "navmeshes"

coordinate = st.one_of(
    st.integers(-50, 50).map(float),
    st.floats(-1e3, 1e3, width=32),
    st.sampled_from([float("nan"), float("inf"), -float("inf"), 3e38, -0.0]),
)
point = st.tuples(coordinate, coordinate)


@st.composite
def graphs(draw):
    n = draw(st.integers(0, 10))
    m = draw(st.integers(0, 24))
    # Mostly valid indices, now and then one past the end.
    node_index = st.integers(0, n) if draw(st.booleans()) else st.integers(0, max(n - 1, 0))
    edges = draw(st.lists(
        st.tuples(node_index, st.integers(0, 40), point, point, st.integers(0, 2**32 - 1)),
        min_size=m, max_size=m))
    run_start = st.integers(0, m + 1) if draw(st.booleans()) else st.integers(0, m)
    nodes = [(draw(point), s, draw(st.integers(0, max(m - s, 0)) if draw(st.booleans()) else st.integers(0, m + 2)))
             for s in draw(st.lists(run_start, min_size=n, max_size=n))]
    start = draw(node_index)
    target = draw(node_index)
    return make_nodes(nodes), make_edges(edges), start, target, draw(point)


def compare(nodes, edges, start, target, target_point):
    try:
        expected = reference.find_path(nodes, edges, start, target, target_point)
    except reference.ReferenceFailure as failure:
        with pytest.raises(BaseException) as caught:
            find_path(nodes, edges, start, target, Point(*target_point))
        assert type(caught.value).__name__ == "PanicException"
        assert caught.value.args == failure.args
        return None
    found = find_path(nodes, edges, start, target, Point(*target_point))
    actual = [(p.x, p.y) for p in found]
    # Exact float32 equality, NaN equal to NaN.
    np.testing.assert_array_equal(np.array(actual, dtype=np.float32), np.array(expected, dtype=np.float32))
    return actual


@pytest.mark.long
@settings(max_examples=400, deadline=None)
@given(graphs())
def test_random_graphs_match_the_reference(graph):
    compare(*graph)


@settings(max_examples=100, deadline=None)
@given(st.integers(2, 30).flatmap(lambda n: st.tuples(
    st.just(n),
    st.lists(st.tuples(st.integers(0, n - 1), st.integers(0, n - 1), st.integers(0, 5)), max_size=4 * n),
    st.lists(st.tuples(st.integers(-20, 20), st.integers(-20, 20)), min_size=n, max_size=n))))
def test_connected_looking_graphs_match_the_reference(drawn):
    # Valid graphs with cheap edges: the estimate overestimates, nodes are expanded again.
    n, pairs, centroids = drawn
    pairs = sorted(pairs)
    runs = [sum(1 for a, _, _ in pairs if a < i) for i in range(n + 1)]
    nodes = make_nodes([((float(x), float(y)), runs[i], runs[i + 1] - runs[i]) for i, (x, y) in enumerate(centroids)])
    edges = make_edges([(b, c, (float(a), 0.5), (float(b), 1.5)) for a, b, c in pairs])
    for target in range(min(n, 4)):
        compare(nodes, edges, 0, target, (0.25, 0.75))


def shared_mesh(name):
    path = NAVMESHES / name
    if not path.exists():
        pytest.skip(f"{path} is absent (the shared navigation meshes lie beside the project)")
    return tools.NavMesh.load(path)


def scenario_workload(name, count):
    mesh = shared_mesh(name + ".mesh")
    nodes, edges = mesh.nodes, mesh.edges
    scenarios = workloads.load_scenarios(NAVMESHES / (name + ".scen"))
    # Sampled before locating: locating every point of a large workload is slow emulated.
    return nodes, edges, workloads.scenario_queries(mesh, scenarios[:: max(1, len(scenarios) // count)])


@pytest.mark.parametrize("name, count", [("arena", 60), pytest.param("aurora", 25, marks=pytest.mark.long)])
def test_scenario_workloads_match_the_reference(name, count):
    nodes, edges, queries = scenario_workload(name, count)
    assert len(queries) >= count
    lengths = [len(compare(nodes, edges, q.start, q.target, q.target_point)) for q in queries]
    assert max(lengths) > 10


@pytest.mark.long
def test_berlin_random_pairs_match_the_reference():
    mesh = shared_mesh("Berlin_0_1024.mesh")
    nodes, edges = mesh.nodes, mesh.edges
    queries = workloads.random_node_queries(nodes)[:15]
    for q in queries:
        compare(nodes, edges, q.start, q.target, q.target_point)
