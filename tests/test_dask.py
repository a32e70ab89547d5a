"""walkmesh_tools.dask.find_paths on a local cluster of two worker processes: the same
Paths as the local batch, and errors that name the query in the whole batch."""
import numpy as np
import pytest

import walkmesh_tools as tools
from graphs import chain
import workloads

distributed = pytest.importorskip("distributed")
import walkmesh_tools.dask as tools_dask  # noqa: E402


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0",
                                  silence_logs=40) as cluster, distributed.Client(cluster) as client:
        yield client


def workload(count=500, seed=9):
    path = workloads.shared_mesh_path("arena.mesh") or workloads.small_mesh_path()
    mesh = tools.NavMesh.load(path)
    nodes, edges = mesh.nodes, mesh.edges
    rng = np.random.default_rng(seed)
    starts, targets = rng.integers(0, len(nodes), count), rng.integers(0, len(nodes), count)
    centroids = nodes["centroid"]
    start_points = np.stack([centroids["x"][starts], centroids["y"][starts]], axis=1)
    target_points = np.stack([centroids["x"][targets], centroids["y"][targets]], axis=1)
    return nodes, edges, starts, targets, target_points, start_points


@pytest.mark.parametrize("options", [dict(), dict(straight=True), dict(max_expansions=20, partial=True)])
def test_cluster_batch_equals_the_local_batch(client, options):
    nodes, edges, starts, targets, target_points, start_points = workload()
    local = tools.find_paths(nodes, edges, starts, targets, target_points, start_points=start_points, **options)
    spread = tools_dask.find_paths(client, nodes, edges, starts, targets, target_points, chunk_size=64,
                                   start_points=start_points, **options)
    assert spread == local
    assert len(client.run(lambda: 1)) == 2, "two worker processes"


def test_errors_name_the_query_in_the_whole_batch(client):
    nodes, edges = chain(6)
    with pytest.raises(ValueError, match=r"^query 130: target node 9 is outside the node table \(7 nodes\)$"):
        tools_dask.find_paths(client, nodes, edges, [0] * 200, [1] * 130 + [9] * 70, np.zeros((200, 2)))
    edges[3]["to"] = 40
    targets = [1] * 150 + [6] + [1] * 49
    with pytest.raises(ValueError, match=r"^query 150: edge 3 of node 3 leads to node 40"):
        tools_dask.find_paths(client, nodes, edges, [0] * 200, targets, np.zeros((200, 2)), chunk_size=32)
    with pytest.raises(TypeError, match="argument 'nodes'"):
        tools_dask.find_paths(client, [1, 2], edges, [0], [1], np.zeros((1, 2)))


class UnusedClient:
    """A client that fails the test if anything is sent to the cluster."""

    def scatter(self, *args, **kwargs):
        raise AssertionError("the tables were scattered before every option was checked")

    map = submit = scatter


@pytest.mark.parametrize("options, error, words", [
    (dict(chunk_size=2.5), TypeError, "argument 'chunk_size': 'float' object cannot be interpreted as an integer"),
    (dict(chunk_size="2"), TypeError, "argument 'chunk_size': 'str' object cannot be interpreted as an integer"),
    (dict(chunk_size=np.float64(2)), TypeError,
     "argument 'chunk_size': 'numpy.float64' object cannot be interpreted as an integer"),
    (dict(chunk_size=0), ValueError, "argument 'chunk_size': must be at least 1, got 0"),
    (dict(threads=0), ValueError, "argument 'threads': must be None or from 1 to 1024, got 0"),
    (dict(threads=2.0), TypeError, "argument 'threads': 'float' object cannot be interpreted as an integer"),
    (dict(max_expansions=-1), ValueError, "argument 'max_expansions': must be None or at least 0, got -1"),
    (dict(max_expansions="9"), TypeError, "argument 'max_expansions': 'str' object cannot be interpreted"),
    (dict(straight=True), ValueError, "start_points is required when straight=True"),
    (dict(target_points=np.zeros((3, 2))), ValueError, "target_points must have shape (2, 2), got (3, 2)"),
    (dict(nodes=np.zeros(3)), TypeError, "argument 'nodes': dtype"),
    (dict(progress=3), TypeError, "progress must be"),
    (dict(surplus=1), TypeError, "unexpected keyword argument 'surplus'"),
])
def test_every_option_is_checked_before_anything_is_sent(options, error, words):
    nodes, edges = chain(6)
    arguments = dict(nodes=nodes, edges=edges, starts=[0, 1], targets=[1, 2], target_points=np.zeros((2, 2)))
    arguments.update(options)
    with pytest.raises(error) as caught:
        tools_dask.find_paths(UnusedClient(), **arguments)
    assert words in str(caught.value)


def long_chain(k):
    """Nodes 0..k on a line, as graphs.chain builds them, built without a loop."""
    nodes = np.zeros(k + 1, tools.NODE_DTYPE)
    nodes["centroid"]["x"], nodes["centroid"]["y"] = np.arange(k + 1), 1
    nodes["edge_start"], nodes["edge_count"][:-1] = np.arange(k + 1), 1
    edges = np.zeros(k, tools.EDGE_DTYPE)
    edges["to"], edges["cost"] = np.arange(1, k + 1), 1
    edges["left"]["x"] = edges["right"]["x"] = np.arange(k) + 0.5
    edges["right"]["y"] = 2
    return nodes, edges


def test_the_lowest_failing_query_of_the_whole_batch_as_the_local_batch_reports_it(client):
    # Query 0 meets a broken edge after half a million expansions; query 8, in the next
    # chunk, starts outside the table and fails at once. The local batch reports query
    # 0, and so must the cluster, although chunk 1 fails well before chunk 0.
    k = 500_000
    nodes, edges = long_chain(k)
    edges[k - 2]["to"] = k + 5
    starts, targets = np.zeros(16, np.int64), np.ones(16, np.int64)
    targets[0], starts[8] = k, k + 7
    with pytest.raises(tools.QueryError) as local:
        tools.find_paths(nodes, edges, starts, targets, np.zeros((16, 2)))
    assert (local.value.query, local.value.node, local.value.edge) == (0, k - 2, k - 2)
    for chunk_size in (8, 4):
        with pytest.raises(tools.QueryError) as spread:
            tools_dask.find_paths(client, nodes, edges, starts, targets, np.zeros((16, 2)), chunk_size=chunk_size)
        assert type(spread.value) is type(local.value) and str(spread.value) == str(local.value)
        assert (spread.value.query, spread.value.node, spread.value.edge, spread.value.reason) == (
            local.value.query, local.value.node, local.value.edge, local.value.reason)


def test_lowest_failing_query_and_progress_over_chunks(client):
    # Chunk 0 fails late (query 8), chunk 1 early (query 10): the lowest wins, as locally.
    nodes, edges = chain(6)
    edges[3]["to"] = 40
    targets = np.ones(20, np.int64)
    targets[8], targets[10] = 6, 9
    with pytest.raises(tools.QueryError) as local:
        tools.find_paths(nodes, edges, np.zeros(20, np.int64), targets, np.zeros((20, 2)))
    with pytest.raises(tools.QueryError) as spread:
        tools_dask.find_paths(client, nodes, edges, np.zeros(20, np.int64), targets, np.zeros((20, 2)), chunk_size=10)
    assert str(spread.value) == str(local.value)
    assert (spread.value.query, spread.value.node, spread.value.edge) == (8, 3, 3)
    calls = []
    tools_dask.find_paths(client, nodes, edges, np.zeros(25, np.int64), np.ones(25, np.int64), np.zeros((25, 2)),
                          chunk_size=10, progress=lambda done, total: calls.append((done, total)))
    assert calls == [(10, 25), (20, 25), (25, 25)]
    with pytest.raises(TypeError, match="progress must be"):
        tools_dask.find_paths(client, nodes, edges, [0], [1], np.zeros((1, 2)), progress=3)


def test_cluster_shortest_paths_equal_the_local_ones_and_name_the_query(client):
    mesh = tools.NavMesh.load(workloads.shared_mesh_path("arena.mesh") or workloads.small_mesh_path())
    rng = np.random.default_rng(4)
    centres = np.array([mesh.vertices[p].mean(axis=0) for p in mesh.polygons])
    starts, targets = centres[rng.integers(0, len(mesh), 300)], centres[rng.integers(0, len(mesh), 300)]
    local = mesh.shortest_paths(starts, targets)
    spread = tools_dask.shortest_paths(client, mesh, starts, targets, chunk_size=64)
    assert spread == local and spread.points.dtype == np.float64
    targets[100] = (-50.0, -50.0)
    with pytest.raises(ValueError, match="target point 100"):
        tools_dask.shortest_paths(client, mesh, starts, targets, chunk_size=64)


def test_shortest_paths_check_their_options_before_anything_is_sent(client):
    mesh = tools.NavMesh.from_polygons([(0, 0), (1, 0), (1, 1), (0, 1)], [(0, 1, 2, 3)])
    for options, error in [(dict(threads=0), ValueError), (dict(chunk_size=2.5), TypeError),
                           (dict(chunk_size=0), ValueError)]:
        with pytest.raises(error):
            tools_dask.shortest_paths(None, mesh, [(0.5, 0.5)], [(0.2, 0.2)], **options)


def test_cluster_shortest_paths_of_a_level_with_heights(client):
    vertices, polygons = workloads.bridge_level()
    mesh = tools.NavMesh.from_polygons(vertices, polygons)
    starts = [(20, 12, 0), (10, 4, 0), (18, 12, 3), (2, 2, 0)]
    targets = [(18, 12, 3), (30, 20, 0), (20, 12, 0), (38, 22, 0)]
    local = mesh.shortest_paths(starts, targets)
    spread = tools_dask.shortest_paths(client, mesh, starts, targets, chunk_size=2)
    assert spread == local and spread.points.shape[1] == 3
