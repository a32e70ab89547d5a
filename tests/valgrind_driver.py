"""A representative run for valgrind (scripts/test-valgrind): every outcome of find_path
from tests/outcomes.py (intake errors, searches on a real mesh, every internal failure
kind), the record classes' constructors, getters, setters and their errors. Exits
non-zero when any call misbehaves."""
import sys

import walkmesh
from outcomes import Outcomes, call

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


def main():
    outcomes = Outcomes(query_count=10)
    problems = []
    try:
        for _ in range(ROUNDS):
            exercise_records()
            problems += [problem for problem in map(call, outcomes.cases) if problem]
    finally:
        outcomes.close()
    print(f"valgrind driver: {ROUNDS} rounds of {len(outcomes.cases)} find_path cases; {len(problems)} problems")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
