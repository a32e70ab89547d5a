"""Threads: find_path from eight threads on shared arrays while other threads read and
write shared Point, Node and Edge instances, and while another thread takes and
releases exclusive borrows of the same arrays through the registry capsule.
WALKMESH_THREAD_CALLS sets the calls per find_path thread."""
import ctypes
import os
import sys
import threading
import time

import pytest

import workloads
from graphs import RegistryClient
from outcomes import panic_exception_type, real_mesh
from walkmesh import Edge, Node, Point, find_path

THREADS = 8
CALLS = int(os.environ.get("WALKMESH_THREAD_CALLS", "300"))
CONFLICTS = {"Already borrowed", "Already mutably borrowed"}
ALREADY_BORROWED = "called `Result::unwrap()` on an `Err` value: AlreadyBorrowed"
COORDINATES = (1.5, -2.0, 3.25)


@pytest.fixture(autouse=True)
def frequent_switches():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


def xy(points):
    return [(p.x, p.y) for p in points]


def mesh_queries(count):
    nodes, edges = real_mesh()
    calls = [(q.start, q.target, Point(*q.target_point)) for q in workloads.random_node_queries(nodes, count, seed=11)]
    expected = [xy(find_path(nodes, edges, *arguments)) for arguments in calls]
    return nodes, edges, calls, expected


def run_threads(workers):
    errors = []

    def guarded(work):
        try:
            work()
        except BaseException as error:  # noqa: B036
            errors.append(repr(error))

    threads = [threading.Thread(target=guarded, args=(work,)) for work in workers]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return errors


class RecordTraffic:
    """Reads and writes shared instances until stopped; borrow conflicts are counted,
    any other error or a value never written is a fault."""

    def __init__(self):
        self.point = Point(COORDINATES[0], COORDINATES[0])
        self.node = Node(self.point, 1, 2)
        self.edge = Edge(1, 2, self.point, self.point)
        self.stop = threading.Event()
        self.conflicts = 0
        self.operations = 0

    def writer(self):
        i = 0
        while not self.stop.is_set():
            i += 1
            value = COORDINATES[i % len(COORDINATES)]
            self.attempt(lambda: setattr(self.point, "x" if i % 2 else "y", value))
            self.attempt(lambda: setattr(self.node, "centroid", Point(value, value)))
            self.attempt(lambda: setattr(self.edge, "left" if i % 2 else "right", self.point))
            self.attempt(lambda: setattr(self.node, "edge_count", i % 7))

    def reader(self):
        while not self.stop.is_set():
            for read in (lambda: (self.point.x, self.point.y), lambda: xy([self.node.centroid])[0],
                         lambda: xy([self.edge.left])[0]):
                value = self.attempt(read)
                if value is not None:
                    assert set(value) <= set(COORDINATES), value
            count = self.attempt(lambda: self.node.edge_count)
            assert count is None or 0 <= count < 7

    def attempt(self, operation):
        self.operations += 1
        try:
            return operation()
        except RuntimeError as error:
            if str(error) not in CONFLICTS:
                raise
            self.conflicts += 1
            return None


def test_find_path_from_eight_threads_beside_record_traffic():
    nodes, edges, calls, expected = mesh_queries(40)
    traffic = RecordTraffic()
    results = []

    def searcher(offset):
        def work():
            for i in range(CALLS):
                k = (offset + i) % len(calls)
                start, target, point = calls[k]
                if i % 5 == 0:
                    # The shared point that the writers change: any written value may come back.
                    path = xy(find_path(nodes, edges, start, target, traffic.point))
                    assert path[:-1] == expected[k][:-1] and set(path[-1]) <= set(COORDINATES)
                else:
                    assert xy(find_path(nodes, edges, start, target, point)) == expected[k]
                results.append(k)
        return work

    background = [threading.Thread(target=role) for role in (traffic.writer, traffic.writer, traffic.reader,
                                                              traffic.reader)]
    for thread in background:
        thread.start()
    try:
        errors = run_threads([searcher(7 * n) for n in range(THREADS)])
    finally:
        traffic.stop.set()
        for thread in background:
            thread.join()
    print(f"threads: {THREADS} x {CALLS} find_path calls; {traffic.operations} record operations, "
          f"{traffic.conflicts} borrow conflicts", file=sys.__stdout__)
    assert errors == []
    assert len(results) == THREADS * CALLS
    assert traffic.operations > 0


class GilFreeRegistry:
    """The registry's exclusive operations called the way a module that holds no GIL
    calls them: ctypes releases the GIL around each call."""

    def __init__(self):
        record = RegistryClient().record
        self.state = record.state
        # The same functions as the record's, called through GIL-releasing prototypes.
        address = lambda function: ctypes.cast(function, ctypes.c_void_p).value  # noqa: E731
        self.acquire_exclusive = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)(
            address(record.acquire_exclusive))
        self.release_exclusive = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)(
            address(record.release_exclusive))


@pytest.mark.parametrize("borrower", ["holding the GIL", "without the GIL"])
def test_exclusive_borrows_elsewhere_refuse_or_let_through(borrower):
    nodes, edges, calls, expected = mesh_queries(20)
    registry = RegistryClient()
    if borrower == "without the GIL":
        registry = GilFreeRegistry()
        acquire = lambda array: registry.acquire_exclusive(registry.state, array)  # noqa: E731
        release = lambda array: registry.release_exclusive(registry.state, array)  # noqa: E731
    else:
        acquire, release = registry.acquire_exclusive, registry.release_exclusive
    panic = panic_exception_type()
    held = [nodes, edges, edges[3:9], nodes[:1]]
    stop = threading.Event()
    # list.append is atomic under the GIL; a shared counter's += is not.
    outcomes = {"path": [], "refused": [], "borrows": []}

    def wait_for(outcome):
        seen = len(outcomes[outcome])
        while len(outcomes[outcome]) == seen and not stop.is_set():
            time.sleep(0.0001)

    def borrower_loop():
        i = 0
        while not stop.is_set():
            array = held[i % len(held)]
            i += 1
            if acquire(array) == 0:
                outcomes["borrows"].append(i)
                # Every call that begins now is refused: hold on until one has been,
                # however slow the machine.
                wait_for("refused")
                release(array)
            # Every call that begins now goes through: stay away until one has.
            wait_for("path")

    def searcher(offset):
        def work():
            for i in range(CALLS):
                k = (offset + i) % len(calls)
                try:
                    assert xy(find_path(nodes, edges, *calls[k])) == expected[k]
                    outcomes["path"].append(k)
                except panic as error:
                    assert error.args == (ALREADY_BORROWED,)
                    outcomes["refused"].append(k)
        return work

    background = threading.Thread(target=borrower_loop)
    background.start()
    try:
        errors = run_threads([searcher(3 * n) for n in range(THREADS)])
    finally:
        stop.set()
        background.join()
    counts = {outcome: len(entries) for outcome, entries in outcomes.items()}
    print(f"registry stress ({borrower}): {THREADS} x {CALLS} calls, {counts}", file=sys.__stdout__)
    assert errors == []
    assert counts["path"] + counts["refused"] == THREADS * CALLS
    assert counts["path"] > 0 and counts["refused"] > 0 and counts["borrows"] > 0
    # Nothing is left registered: each array can be borrowed exclusively again.
    client = RegistryClient()
    for array in (nodes, edges, *held):
        assert client.can_borrow_exclusively(array)
