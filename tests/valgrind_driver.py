"""A representative run for valgrind (scripts/test-valgrind): every outcome of find_path
from tests/outcomes.py (intake errors, searches on a real mesh, every internal failure
kind), the record classes' constructors, getters, setters and their errors, and the
companion's routes and batches with their errors. Exits non-zero when any call
misbehaves."""
import sys

import numpy as np

import walkmesh
import walkmesh_tools as tools
from graphs import chain
from outcomes import Outcomes, call, real_mesh

ROUNDS = 3


def exercise_records():
    point = walkmesh.Point(1.5, -2.0)
    node = walkmesh.Node(point, 3, 4)
    edge = walkmesh.Edge(1, 2, point, walkmesh.Point(0, 0))
    node.centroid, node.edge_start, edge.cost, point.x = edge.left, 9, 7, 0.25
    values = (point.x, point.y, node.centroid.x, node.edge_start, node.edge_count, edge.to, edge.right.y)
    assert values == (0.25, -2.0, 1.5, 9, 4, 1, 0.0), values
    failures = 0
    for make in (lambda: walkmesh.Point(1.0), lambda: walkmesh.Node(point, -1, 0),
                 lambda: walkmesh.Edge(1.5, 2, point, point), lambda: walkmesh.Point(1, 2, z=0),
                 lambda: setattr(point, "x", "text"), lambda: delattr(edge, "to"),
                 lambda: setattr(node, "centroid", (1, 2)), lambda: walkmesh.Edge(2**32, 0, point, point)):
        try:
            make()
        except (TypeError, OverflowError, AttributeError):
            failures += 1
    assert failures == 8


def exercise_companion(nodes, edges):
    count = len(nodes)
    starts = np.arange(0, count, 7)
    targets = starts[::-1].copy()
    points = np.zeros((len(starts), 2))
    for threads in (1, 2):
        for straight in (False, True):
            paths = tools.find_paths(nodes, edges, starts, targets, points, start_points=points, straight=straight,
                                     threads=threads, max_expansions=None if threads == 1 else 30, partial=True)
            assert len(paths) == len(starts)
    assert len(tools.corridor(nodes, edges, 0, count - 1)) > 0
    assert tools.straight_path(nodes, edges, 0, count - 1, (0, 0), (1, 1)).shape[1] == 2
    broken_nodes, broken_edges = chain(4)
    broken_edges[2]["to"] = 50
    failures = 0
    for make in (lambda: tools.corridor(broken_nodes, broken_edges, 0, 4),
                 lambda: tools.find_paths(broken_nodes, broken_edges, [0, 0], [4, 1], np.zeros((2, 2)), threads=2),
                 lambda: tools.straight_path(nodes, edges, 0, count, (0, 0), (1, 1)),
                 lambda: tools.find_paths(nodes, edges, [0], [1], [(np.nan, 0)])):
        try:
            make()
        except (ValueError, IndexError):
            failures += 1
    assert failures == 4


def main():
    outcomes = Outcomes(query_count=10)
    problems = []
    try:
        for _ in range(ROUNDS):
            exercise_records()
            exercise_companion(outcomes.nodes, outcomes.edges)
            problems += [problem for problem in map(call, outcomes.cases) if problem]
    finally:
        outcomes.close()
    print(f"valgrind driver: {ROUNDS} rounds of {len(outcomes.cases)} find_path cases; {len(problems)} problems")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
