"""Routes across the small mesh that ships with walkmesh_tools, written against the
package's types: CI checks this file with `mypy --strict`, and the test suite runs it.

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


def main() -> None:
    path = route(corridor(), 0, 1, (1.75, 0.25))
    print("corridor:", [(point.x, point.y) for point in path])

    mesh = tools.NavMesh.load(tools.small_mesh_path())
    tables = mesh.nodes, mesh.edges
    queries = tools.scenario_queries(mesh, tools.load_scenarios(tools.small_mesh_path("small.scen")))
    total = 0.0
    for query in queries:
        total += tools.path_length(query.start_point, route(tables, query.start, query.target, query.target_point))
    print(f"small mesh: {len(queries)} routes, {total:.3f} long in all")


if __name__ == "__main__":
    main()
