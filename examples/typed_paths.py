"""Routes across tables built from records and across a mesh built from polygons,
written against the package's types: CI checks this file with `mypy --strict`, and
the test suite runs it.

    python examples/typed_paths.py
"""
from __future__ import annotations

from typing import List, Tuple

import numpy as np
import numpy.typing as npt

import walkmesh
import walkmesh_tools as tools

Tables = Tuple[npt.NDArray[np.void], npt.NDArray[np.void]]


def corridor() -> Tables:
    """Two unit squares side by side, joined by the portal x = 1, built from records."""
    left, right = walkmesh.Point(0.5, 0.5), walkmesh.Point(1.5, 0.5)
    nodes = [walkmesh.Node(left, 0, 1), walkmesh.Node(right, 1, 1)]
    bottom, top = walkmesh.Point(1, 0), walkmesh.Point(1, 1)
    edges = [walkmesh.Edge(1, 1, bottom, top), walkmesh.Edge(0, 1, top, bottom)]
    node_table = np.array([((n.centroid.x, n.centroid.y), n.edge_start, n.edge_count) for n in nodes],
                          dtype=tools.NODE_DTYPE)
    edge_table = np.array([(e.to, e.cost, (e.left.x, e.left.y), (e.right.x, e.right.y), 0) for e in edges],
                          dtype=tools.EDGE_DTYPE)
    return node_table, edge_table


def route(tables: Tables, start: int, target: int, goal: Tuple[float, float]) -> List[walkmesh.Point]:
    nodes, edges = tables
    return walkmesh.find_path(nodes, edges, start, target, walkmesh.Point(*goal))


def pillar() -> tools.NavMesh:
    """Eight unit squares around a square pillar, [1, 2] x [1, 2], in [0, 3] x [0, 3]."""
    vertices = [(float(i), float(j)) for j in range(4) for i in range(4)]
    squares = [(4 * j + i, 4 * j + i + 1, 4 * j + i + 5, 4 * j + i + 4)
               for j in range(3) for i in range(3) if (i, j) != (1, 1)]
    return tools.NavMesh.from_polygons(vertices, squares)


def length(points: npt.NDArray[np.float32]) -> float:
    return float(np.hypot(*np.diff(points.astype(np.float64), axis=0).T).sum())


def main() -> None:
    path = route(corridor(), 0, 1, (1.75, 0.25))
    print("corridor:", [(point.x, point.y) for point in path])

    mesh = pillar()
    start, target = (0.5, 0.5), (2.5, 2.5)
    node: int = mesh.locate(start)
    nodes: npt.NDArray[np.int64] = mesh.locate([start, target])
    midpoints = np.array([start] + [(p.x, p.y) for p in route((mesh.nodes, mesh.edges), node, int(nodes[1]), target)],
                         dtype=np.float32)
    straight = mesh.straight_path(start, target)
    print(f"pillar: {len(midpoints)} points through portal midpoints, {length(midpoints):.4f} long; "
          f"{len(straight)} on the straight path, {length(straight):.4f} long")


if __name__ == "__main__":
    main()
