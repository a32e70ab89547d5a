"""One find_path call for every outcome a caller can meet: paths on a real mesh, and
each binding error, conversion error and internal failure, with what it must raise.
The soak test, the thread stress and the valgrind driver run these."""
import numpy as np

import walkmesh
import walkmesh_tools as tools
from graphs import RegistryClient, chain, make_edges, make_nodes
import workloads

def real_mesh():
    """The shared arena mesh when present, else the small mesh shipped with the tools."""
    mesh = tools.NavMesh.load(workloads.shared_mesh_path("arena.mesh") or workloads.small_mesh_path())
    return mesh.nodes, mesh.edges


def panic_exception_type():
    try:
        walkmesh.find_path(*chain(1), 5, 0, walkmesh.Point(0, 0))
    except BaseException as error:  # noqa: B036
        return type(error)
    raise AssertionError("no failure")


class IndexRaising:
    """An index whose __index__ raises a new `exception(message)` each time (one
    instance raised again would grow its traceback, and with it this object's count)."""

    def __init__(self, exception, message):
        self.exception = exception
        self.message = message

    def __index__(self):
        raise self.exception(self.message)


class TypeErrorSubclass(TypeError):
    pass


def wrapped_cost_cycle():
    """Costs that wrap past 2^32 and leave a predecessor cycle that misses the start."""
    nodes = make_nodes([((0, 0), 0, 1), ((0, 0), 1, 2), ((0, 0), 3, 1), ((0, 0), 4, 0)])
    edges = make_edges([(1, 4294967294, (0, 0), (0, 0)), (2, 5, (0, 0), (0, 0)),
                        (3, 10, (0, 0), (0, 0)), (1, 1, (0, 0), (0, 0))])
    return nodes, edges


def failure(exception, message, prefix=False):
    return ("raises", exception, message, prefix)


class Outcomes:
    """`cases`: (name, args, kwargs, expected); expected is ("returns", [(x, y), ...]) or
    failure(...). Holds an exclusive borrow of one array for the AlreadyBorrowed case
    until close()."""

    def __init__(self, query_count=20):
        self.nodes, self.edges = real_mesh()
        self.panic = panic_exception_type()
        self.registry = RegistryClient()
        self.held = self.edges.copy()
        assert self.registry.acquire_exclusive(self.held) == 0
        self.cases = self._successes(query_count) + self._failures()

    def close(self):
        self.registry.release_exclusive(self.held)

    def _successes(self, query_count):
        cases = []
        for query in workloads.random_node_queries(self.nodes, query_count, seed=7):
            arguments = (self.nodes, self.edges, query.start, query.target, walkmesh.Point(*query.target_point))
            expected = [(p.x, p.y) for p in walkmesh.find_path(*arguments)]
            cases.append((f"path {query.start}->{query.target}", arguments, {}, ("returns", expected)))
        small_nodes, small_edges = chain(3)
        cases.append(("start is target", (small_nodes, small_edges, 2, 2, walkmesh.Point(1, 1)), {},
                      ("returns", [(1.0, 1.0)])))
        cases.append(("unreachable", (small_nodes, small_edges, 3, 0, walkmesh.Point(2, 2)), {},
                      ("returns", [(2.0, 2.0)])))
        cases.append(("by keyword", (small_nodes,), dict(edges=small_edges, target_point=walkmesh.Point(0, 0),
                                                           target=1, start=0), ("returns", [(0.5, 1.0), (0.0, 0.0)])))
        return cases

    def _failures(self):
        nodes, edges, point, panic = self.nodes, self.edges, walkmesh.Point(3, 4), self.panic
        unwrap = "called `Result::unwrap()` on an `Err` value: "
        bad_to = make_nodes([((0, 0), 0, 1), ((1, 0), 1, 0)]), make_edges([(9, 1, (0, 0), (0, 1))])
        run_nodes, run_edges = make_nodes([((0, 0), 0, 0), ((1, 0), 5, 1), ((2, 0), 2, 2), ((3, 0), 2, 0xFFFFFFFF)]), \
            make_edges([(1, 1, (0, 0), (0, 1)), (2, 1, (0, 0), (0, 1)), (3, 1, (0, 0), (0, 1))])
        cycle = wrapped_cost_cycle()
        return [
            ("six positional", (nodes, edges, 0, 1, point, 6), {},
             failure(TypeError, "find_path() takes 5 positional arguments but 6 were given")),
            ("unknown keyword", (nodes, edges, 0, 1, point), dict(other=1),
             failure(TypeError, "find_path() got an unexpected keyword argument 'other'")),
            ("multiple values", (nodes, edges, 0, 1, point), dict(start=0),
             failure(TypeError, "find_path() got multiple values for argument 'start'")),
            ("missing", (nodes, edges), dict(target_point=point),
             failure(TypeError, "find_path() missing 2 required positional arguments: 'start' and 'target'")),
            ("list nodes", ([1, 2], edges, 0, 1, point), {},
             failure(TypeError, "argument 'nodes': 'list' object cannot be cast as 'ndarray'")),
            ("2-D nodes", (nodes.reshape(1, -1), edges, 0, 1, point), {},
             failure(TypeError, "argument 'nodes': 'ndarray' object cannot be cast as 'ndarray'")),
            ("edges as nodes", (nodes, nodes, 0, 1, point), {},
             failure(TypeError, "argument 'edges': 'ndarray' object cannot be cast as 'ndarray'")),
            ("float start", (nodes, edges, 1.5, 1, point), {},
             failure(TypeError, "argument 'start': 'float' object cannot be interpreted as an integer")),
            ("negative start", (nodes, edges, -1, 1, point), {}, failure(OverflowError, None)),
            ("target above u32", (nodes, edges, 0, 2**32, point), {},
             failure(OverflowError, "out of range integral type conversion attempted")),
            ("index raising a TypeError subclass", (nodes, edges, IndexRaising(TypeErrorSubclass, "own"), 1, point),
             {}, failure(TypeErrorSubclass, "own")),
            ("index raising PanicException", (nodes, edges, 0, IndexRaising(panic, "from __index__"), point), {},
             failure(panic, "from __index__")),
            ("tuple target_point", (nodes, edges, 0, 1, (1.0, 2.0)), {},
             failure(TypeError, "argument 'target_point': 'tuple' object cannot be cast as 'Point'")),
            ("exclusively borrowed", (nodes, self.held, 0, 1, point), {}, failure(panic, unwrap + "AlreadyBorrowed")),
            ("not contiguous", (nodes, np.repeat(edges, 2)[::2], 0, 1, point), {},
             failure(panic, unwrap + "NotContiguousError")),
            ("empty node table", (nodes[:0], edges, 0, 0, point), {},
             failure(panic, "index out of bounds: the len is 0 but the index is 0")),
            ("start out of range", (nodes, edges, len(nodes), 0, point), {},
             failure(panic, f"index out of bounds: the len is {len(nodes)} but the index is {len(nodes)}")),
            ("target out of range", (nodes, edges, 0, 99999, point), {},
             failure(panic, f"index out of bounds: the len is {len(nodes)} but the index is 99999")),
            ("edge to out of range", (*bad_to, 0, 1, point), {},
             failure(panic, "index out of bounds: the len is 2 but the index is 9")),
            ("run start beyond the table", (run_nodes, run_edges, 1, 0, point), {},
             failure(panic, "range start index 5 out of range for slice of length 3")),
            ("run end beyond the table", (run_nodes, run_edges, 2, 0, point), {},
             failure(panic, "range end index 4 out of range for slice of length 3")),
            ("run end wraps", (run_nodes, run_edges, 3, 0, point), {},
             failure(panic, "slice index starts at 2 but ends at 1")),
            ("predecessor cycle", (*cycle, 0, 3, point), {},
             failure(panic, "predecessor chain does not reach the start node")),
        ]


def call(case):
    """Runs one case; returns None when it behaved, else a description of what went wrong."""
    name, args, kwargs, expected = case
    try:
        result = walkmesh.find_path(*args, **kwargs)
    except BaseException as error:  # noqa: B036
        if expected[0] != "raises":
            return f"{name}: raised {type(error).__name__}: {error}"
        _, exception, message = expected[:3]
        if type(error) is not exception or (message is not None and str(error) != message):
            return f"{name}: raised {type(error).__name__}: {error}"
        return None
    if expected[0] != "returns" or [(p.x, p.y) for p in result] != expected[1]:
        return f"{name}: returned {[(p.x, p.y) for p in result]}"
    return None
