"""walkmesh_tools.find_paths: every query of a batch answers exactly what the single
calls answer, whatever the thread count; bad input names the first bad query before any
search runs; failures and interruptions stop the workers and release the arrays."""
import gc
import sys

import numpy as np
import pytest

import walkmesh_tools as tools
from graphs import RegistryClient, chain, make_edges, make_nodes, pythonpath_with_tests, view_in_place_as
import workloads
from walkmesh import Point, find_path


def two_islands():
    """The shared arena mesh (or the small one) plus two nodes no other node reaches."""
    path = workloads.shared_mesh_path("arena.mesh") or workloads.small_mesh_path()
    mesh = tools.NavMesh.load(path)
    nodes, edges = mesh.nodes, mesh.edges
    count, edge_count = len(nodes), len(edges)
    island = make_nodes([((900.0, 900.0), edge_count, 1), ((905.0, 900.0), edge_count + 1, 1)])
    bridge = make_edges([(count + 1, 5, (902, 899), (902, 901)), (count, 5, (902, 901), (902, 899))])
    return np.concatenate([nodes, island]), np.concatenate([edges, bridge])


NODES, EDGES = two_islands()


def queries(count=60, seed=3):
    rng = np.random.default_rng(seed)
    starts = rng.integers(0, len(NODES), count)
    targets = rng.integers(0, len(NODES), count)
    targets[:4] = starts[:4]
    targets[4:8] = len(NODES) - 1
    centroids = NODES["centroid"][targets]
    target_points = np.stack([centroids["x"], centroids["y"]], axis=1) + rng.uniform(-0.3, 0.3, (count, 2))
    start_centroids = NODES["centroid"][starts]
    start_points = np.stack([start_centroids["x"], start_centroids["y"]], axis=1)
    return starts, targets, target_points, start_points


def single_call(start, target, start_point, target_point, straight, budget, partial):
    """What query i must give: the single calls' answer."""
    if straight:
        return tools.straight_path(NODES, EDGES, start, target, start_point, target_point,
                                   max_expansions=budget, partial=partial)
    if budget is None and not partial:
        return np.array([(p.x, p.y) for p in find_path(NODES, EDGES, start, target, Point(*target_point))],
                        np.float32)
    route = tools.corridor(NODES, EDGES, start, target, max_expansions=budget, partial=partial)
    portals = [EDGES[NODES[a]["edge_start"]:][:NODES[a]["edge_count"]] for a in route[:-1]]
    edges = [run[np.flatnonzero(run["to"] == b)[0]] for run, b in zip(portals, route[1:])]
    points = [((e["left"]["x"] + e["right"]["x"]) * np.float32(0.5), (e["left"]["y"] + e["right"]["y"]) * np.float32(0.5))
              for e in edges]
    reached = len(route) > 0 and route[-1] == target
    end = np.float32(target_point) if reached or not partial else tuple(NODES[route[-1]]["centroid"].tolist())
    return np.array(points + [tuple(end)], np.float32)


@pytest.mark.parametrize("straight", [False, True])
@pytest.mark.parametrize("budget, partial", [(None, False), (None, True), (0, False), (7, True), (40, False)])
@pytest.mark.parametrize("threads", [1, 2, 3])
def test_batch_equals_the_single_calls(straight, budget, partial, threads):
    starts, targets, target_points, start_points = queries()
    paths = tools.find_paths(NODES, EDGES, starts, targets, target_points, start_points=start_points,
                             straight=straight, threads=threads, max_expansions=budget, partial=partial)
    assert len(paths) == len(starts) and paths.offsets.dtype == np.int64 and paths.points.dtype == np.float32
    for i, (start, target) in enumerate(zip(starts, targets)):
        expected = single_call(start, target, start_points[i], np.float32(target_points[i]), straight, budget, partial)
        np.testing.assert_array_equal(paths[i], expected.reshape(-1, 2), err_msg=f"query {i}")
        route = tools.corridor(NODES, EDGES, start, target, max_expansions=budget)
        assert paths.reached[i] == (len(route) > 0)


def test_real_mesh_batch_on_every_core():
    path = workloads.shared_mesh_path("aurora.mesh")
    if path is None:
        pytest.skip("aurora.mesh is not here")
    mesh = tools.NavMesh.load(path)
    nodes, edges = mesh.nodes, mesh.edges
    located = workloads.scenario_queries(mesh, workloads.load_scenarios(path.with_suffix(".scen")))[::40]
    starts = [q.start for q in located]
    targets = [q.target for q in located]
    start_points = [q.start_point for q in located]
    target_points = [q.target_point for q in located]
    batches = {}
    for straight in (False, True):
        batches[straight] = tools.find_paths(nodes, edges, starts, targets, target_points,
                                             start_points=start_points, straight=straight, threads=1)
        assert tools.find_paths(nodes, edges, starts, targets, target_points, start_points=start_points,
                                straight=straight) == batches[straight]
    for i, q in enumerate(located):
        found = find_path(nodes, edges, q.start, q.target, Point(*q.target_point))
        assert batches[False][i].tolist() == [[p.x, p.y] for p in found]
        straight = tools.straight_path(nodes, edges, q.start, q.target, q.start_point, q.target_point)
        np.testing.assert_array_equal(batches[True][i], straight)


def test_unaligned_query_arrays():
    starts, targets, target_points, _ = queries(50)
    expected = tools.find_paths(NODES, EDGES, starts, targets, target_points, threads=1)

    def unaligned(array):
        storage = bytearray(array.nbytes + 1)
        shifted = np.frombuffer(storage, dtype=array.dtype, count=array.size, offset=1).reshape(array.shape)
        shifted[...] = array
        assert not shifted.flags.aligned and shifted.flags.c_contiguous
        return shifted

    got = tools.find_paths(NODES, EDGES, unaligned(starts.astype(np.int64)), unaligned(targets.astype(np.int64)),
                           unaligned(target_points.astype(np.float32)), threads=2)
    assert got == expected


def test_integer_arguments_take_what_operator_index_takes():
    starts, targets, target_points, _ = queries(20)
    expected = tools.find_paths(NODES, EDGES, starts, targets, target_points, threads=1, max_expansions=30)
    # NumPy integers and bools are integers to operator.index, as to the native intake.
    assert tools.find_paths(NODES, EDGES, starts, targets, target_points, threads=True,
                            max_expansions=np.uint16(30)) == expected
    assert tools.find_paths(NODES, EDGES, starts, targets, target_points, threads=np.int8(2),
                            max_expansions=30) == expected
    for index in (np.int64(3), np.uint8(3), -17):
        np.testing.assert_array_equal(expected[index], expected.points[expected.offsets[3]:expected.offsets[4]])
    np.testing.assert_array_equal(expected[True], expected[1])
    for index, name in [(0.0, "float"), ("0", "str"), (np.float64(0), "numpy.float64"), (None, "NoneType")]:
        with pytest.raises(TypeError, match=f"^argument 'query': '{name}' object cannot be interpreted as an integer$"):
            expected[index]
    with pytest.raises(IndexError, match=r"query 20 is outside the batch \(20 queries\)"):
        expected[20]


def test_empty_batch():
    paths = tools.find_paths(NODES, EDGES, [], [], np.zeros((0, 2)))
    assert len(paths) == 0 and paths.offsets.tolist() == [0] and paths.points.shape == (0, 2)


@pytest.mark.parametrize("change, exception, message", [
    (dict(starts=[0, 1]), ValueError, "targets has 3 entries, starts has 2"),
    (dict(starts=[[0, 1, 2]]), ValueError, "starts must be one-dimensional"),
    (dict(starts=[0.0, 1.0, 2.0]), TypeError, "starts must be an array of integers, got dtype float64"),
    (dict(targets=[0, -1, 9999]), ValueError, "query 1: target node -1 is outside the node table"),
    (dict(starts=[0, 1, 2**40]), ValueError, "query 2: start node 1099511627776 is outside the node table"),
    (dict(target_points=[(0, 0)] * 2), ValueError, "target_points must have shape (3, 2), got (2, 2)"),
    (dict(target_points=[("a", "b")] * 3), TypeError, "target_points must be an array of real numbers"),
    (dict(target_points=[(0, 0), (0, np.inf), (np.nan, 0)]), ValueError, "query 1: target_points[1] is not finite"),
    (dict(straight=True), ValueError, "start_points is required when straight=True"),
    (dict(threads=0), ValueError, "argument 'threads': must be None or from 1 to 1024, got 0"),
    (dict(threads=1025), ValueError, "argument 'threads': must be None or from 1 to 1024, got 1025"),
    (dict(threads=2.0), TypeError, "argument 'threads': 'float' object cannot be interpreted as an integer"),
    (dict(threads="2"), TypeError, "argument 'threads': 'str' object cannot be interpreted as an integer"),
    (dict(threads=np.float64(2)), TypeError,
     "argument 'threads': 'numpy.float64' object cannot be interpreted as an integer"),
    (dict(max_expansions=2.0), TypeError,
     "argument 'max_expansions': 'float' object cannot be interpreted as an integer"),
    (dict(nodes=[]), TypeError, "argument 'nodes': expected a numpy.ndarray of node records"),
    (dict(max_expansions=-2), ValueError, "argument 'max_expansions': must be None or at least 0"),
])
def test_bad_input_names_the_first_bad_query(change, exception, message, capfd):
    arguments = dict(nodes=NODES, edges=EDGES, starts=[0, 1, 2], targets=[3, 4, 5], target_points=[(0, 0)] * 3)
    arguments.update(change)
    nodes, edges = arguments.pop("nodes"), arguments.pop("edges")
    starts, targets, target_points = arguments.pop("starts"), arguments.pop("targets"), arguments.pop("target_points")
    with pytest.raises(exception) as caught:
        tools.find_paths(nodes, edges, starts, targets, target_points, **arguments)
    assert str(caught.value).startswith(message)
    registry = RegistryClient()
    assert registry.can_borrow_exclusively(NODES) and registry.can_borrow_exclusively(EDGES)
    assert capfd.readouterr().err == ""


@pytest.mark.parametrize("threads", [1, 2, 4])
def test_the_lowest_failing_query_is_reported_whatever_its_fault(threads):
    # Queries 40 and 700 meet a broken edge, query 900 starts outside the table:
    # whichever worker meets which first, the lowest of them is the one reported.
    nodes, edges = chain(8)
    edges[5]["to"] = 99
    starts = np.zeros(1000, np.int64)
    targets = np.ones(1000, np.int64)
    starts[900], targets[700], targets[40] = 12, 8, 8
    with pytest.raises(tools.QueryError) as caught:
        tools.find_paths(nodes, edges, starts, targets, np.zeros((1000, 2)), threads=threads)
    error = caught.value
    assert (error.query, error.node, error.edge) == (40, 5, 5)
    assert error.reason == "edge 5 of node 5 leads to node 99, outside the node table (9 nodes)"
    targets[40] = 1
    with pytest.raises(tools.QueryError) as caught:
        tools.find_paths(nodes, edges, starts, targets, np.zeros((1000, 2)), threads=threads)
    assert (caught.value.query, caught.value.node, caught.value.edge) == (700, 5, 5)
    targets[700] = 1
    with pytest.raises(tools.QueryError, match=r"^query 900: start node 12 is outside the node table \(9 nodes\)$"):
        tools.find_paths(nodes, edges, starts, targets, np.zeros((1000, 2)), threads=threads)


@pytest.mark.parametrize("threads", [1, 2, 4])
def test_inconsistency_met_by_a_search_names_the_query(threads):
    nodes, edges = chain(8)
    edges[5]["to"] = 99
    starts = [0] * 30 + [2] + [0] * 30
    targets = [1] * 30 + [8] + [1] * 30
    registry = RegistryClient()
    with pytest.raises(ValueError, match=r"^query 30: edge 5 of node 5 leads to node 99, outside the node table \(9 nodes\)$"):
        tools.find_paths(nodes, edges, starts, targets, np.zeros((61, 2)), threads=threads)
    assert registry.can_borrow_exclusively(nodes) and registry.can_borrow_exclusively(edges)
    registry.acquire_exclusive(edges)
    try:
        with pytest.raises(ValueError, match="argument 'edges': the array is borrowed for writing"):
            tools.find_paths(nodes, edges, starts, targets, np.zeros((61, 2)), threads=threads)
    finally:
        registry.release_exclusive(edges)


def test_signal_handlers_between_queries_leave_the_batch_alone():
    # A handler that runs single calls on the calling thread, on other tables, while
    # that thread works through its share of the batch.
    import signal

    starts, targets, target_points, _ = queries(20000, seed=8)
    expected = tools.find_paths(NODES, EDGES, starts, targets, target_points, threads=1)
    small = chain(3)
    calls = []

    def handler(signum, frame):
        calls.append(tools.corridor(*small, 0, 3).tolist())

    previous = signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, 0.002, 0.002)
    try:
        for threads in (1, 2):
            assert tools.find_paths(NODES, EDGES, starts, targets, target_points, threads=threads) == expected
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert calls and all(call == [0, 1, 2, 3] for call in calls)


def test_array_changed_in_place_during_a_batch_is_refused_and_released():
    import signal

    nodes, edges = NODES.copy(), EDGES.copy()
    # Long enough for several ticks of the timer below, on the small mesh too.
    starts, targets, target_points, _ = queries(200_000, seed=4)
    registry = RegistryClient()

    running = []

    def handler(signum, frame):
        # Only while the batch holds the tables: a change before it takes them is an
        # argument error, and the timing of either end varies from machine to machine.
        # Not within itself: a tick handled inside the probe's exclusive borrow would
        # change the array before the probe releases it.
        if running or edges.dtype == np.uint8:
            return
        running.append(True)
        try:
            if not registry.can_borrow_exclusively(edges):
                view_in_place_as(edges, np.uint8)
        finally:
            running.clear()

    previous = signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
    try:
        with pytest.raises(ValueError, match="argument 'edges': the array was changed in place during the call"):
            tools.find_paths(nodes, edges, starts, targets, target_points, threads=2)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert registry.can_borrow_exclusively(nodes) and registry.can_borrow_exclusively(edges)


def test_repeated_batches_keep_no_references():
    starts, targets, target_points, start_points = queries(40)
    gc.collect()
    counts = [sys.getrefcount(a) for a in (NODES, EDGES, starts, targets, target_points)]
    for _ in range(30):
        for straight in (False, True):
            tools.find_paths(NODES, EDGES, starts, targets, target_points, start_points=start_points,
                             straight=straight, threads=2)
    gc.collect()
    assert [sys.getrefcount(a) for a in (NODES, EDGES, starts, targets, target_points)] == counts
    objects = len(gc.get_objects())
    for _ in range(30):
        tools.find_paths(NODES, EDGES, starts, targets, target_points, threads=2)
    gc.collect()
    assert len(gc.get_objects()) <= objects + 5


def test_ctrl_c_stops_a_long_batch(python_run):
    result = python_run(
        """
        import os, signal, sys, threading, time
        import numpy as np
        import walkmesh_tools as tools
        from graphs import RegistryClient, make_edges, make_nodes

        # A 300 x 300 grid, every query from one corner to the other.
        side = 300
        index = np.arange(side * side).reshape(side, side)
        pairs = [(a, b) for a, b in zip(index[:, :-1].ravel(), index[:, 1:].ravel())]
        pairs += [(a, b) for a, b in zip(index[:-1].ravel(), index[1:].ravel())]
        out = {}
        for a, b in pairs:
            out.setdefault(a, []).append(b)
            out.setdefault(b, []).append(a)
        rows, edge_rows = [], []
        for node in range(side * side):
            rows.append(((float(node % side), float(node // side)), len(edge_rows), len(out[node])))
            edge_rows += [(to, 1, (0, 0), (0, 0)) for to in out[node]]
        nodes, edges = make_nodes(rows), make_edges(edge_rows)
        count = 20000
        timer = threading.Timer(0.5, lambda: os.kill(os.getpid(), signal.SIGINT))
        began = time.monotonic()
        timer.start()
        try:
            tools.find_paths(nodes, edges, [0] * count, [side * side - 1] * count, np.zeros((count, 2)), threads=2)
        except KeyboardInterrupt:
            late = time.monotonic() - began - 0.5
            registry = RegistryClient()
            assert registry.can_borrow_exclusively(nodes) and registry.can_borrow_exclusively(edges)
            print("interrupted", round(late, 3))
        else:
            print("finished", round(time.monotonic() - began, 3))
        """,
        env={"PYTHONPATH": pythonpath_with_tests()}, timeout=600)
    assert result.returncode == 0, result.stderr
    word, seconds = result.stdout.split()
    assert word == "interrupted", result.stdout
    # Workers stop between queries: one query of this grid takes milliseconds.
    assert float(seconds) < 2.0


class TestProgress:
    def test_a_callable_hears_growing_counts_from_the_calling_thread_then_the_total(self):
        import threading
        starts, targets, target_points, _ = queries(3000, seed=11)
        calls = []
        caller = threading.get_ident()

        def progress(done, total):
            calls.append((done, total, threading.get_ident()))

        paths = tools.find_paths(NODES, EDGES, starts, targets, target_points, threads=2, progress=progress)
        assert paths == tools.find_paths(NODES, EDGES, starts, targets, target_points, threads=1)
        assert calls and calls[-1][:2] == (3000, 3000)
        assert all(total == 3000 and thread == caller for _, total, thread in calls)
        counts = [done for done, _, _ in calls]
        assert counts == sorted(counts)

    def test_an_exception_from_the_callback_stops_the_batch_and_releases_the_tables(self):
        starts, targets, target_points, _ = queries(200)

        def progress(done, total):
            raise KeyError("stop")

        with pytest.raises(KeyError, match="stop"):
            tools.find_paths(NODES, EDGES, starts, targets, target_points, progress=progress)
        registry = RegistryClient()
        assert registry.can_borrow_exclusively(NODES) and registry.can_borrow_exclusively(EDGES)
        with pytest.raises(TypeError, match="progress must be True, False or a callable"):
            tools.find_paths(NODES, EDGES, starts, targets, target_points, progress="yes")

    def test_true_shows_a_line_on_stderr_without_tqdm_and_a_bar_with_it(self, python_run):
        code = """
            import sys
            if sys.argv[-1] == "hide":
                sys.modules["tqdm"] = None
            else:
                # Without tqdm's monitor thread, which would outlive the interpreter (a
                # leak to LeakSanitizer).
                import tqdm.std
                tqdm.std.tqdm.monitor_interval = 0
            import numpy as np, walkmesh_tools as tools
            from graphs import chain
            nodes, edges = chain(50)
            tools.find_paths(nodes, edges, np.zeros(500, np.int64), np.full(500, 50), np.zeros((500, 2)),
                             progress=True)
        """
        env = {"PYTHONPATH": pythonpath_with_tests()}
        hidden = python_run(code.replace('sys.argv[-1] == "hide"', "True"), env=env)
        assert hidden.returncode == 0, hidden.stderr
        assert hidden.stderr.splitlines()[-1].startswith("find_paths: 500 of 500 queries (100 %)")
        pytest.importorskip("tqdm")
        shown = python_run(code.replace('sys.argv[-1] == "hide"', "False"), env=env)
        assert shown.returncode == 0, shown.stderr
        assert "find_paths: 100%" in shown.stderr and "500/500" in shown.stderr
