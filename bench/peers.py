"""What a Python user would reach for instead of walkmesh.find_path, set up on the
same graph: the same directed edges with the same integer costs and, for the A*
searches, the same estimate (the float32 straight-line distance between node
centroids, truncated). Each path function returns the node path from start to
target, or None when the target cannot be reached; everything it does per query
(the estimate table, the predecessor walk) is part of what is timed.
"""
from __future__ import annotations

import math
import warnings
from dataclasses import dataclass
from typing import Callable, Dict, List, Optional, Tuple

import numpy as np

from walkmesh_tools import ragged

NodePath = Optional[List[int]]


@dataclass
class Graph:
    """The edge list with parallel edges merged into the cheapest one (the search
    only ever pays the cheapest), plus what the estimate and the checks need."""
    node_count: int
    sources: np.ndarray
    targets: np.ndarray
    costs: np.ndarray
    centroid_x: np.ndarray
    centroid_y: np.ndarray
    pair_cost: Dict[Tuple[int, int], int]

    @classmethod
    def from_tables(cls, nodes: np.ndarray, edges: np.ndarray) -> "Graph":
        # The runs lie one after another, in node order.
        sources = ragged.row_of(ragged.offsets_from_lengths(nodes["edge_count"]))
        pair_cost: Dict[Tuple[int, int], int] = {}
        for u, v, cost in zip(sources.tolist(), edges["to"].tolist(), edges["cost"].tolist()):
            if cost < pair_cost.get((u, v), math.inf):
                pair_cost[u, v] = cost
        pairs = sorted(pair_cost)
        return cls(
            node_count=len(nodes),
            sources=np.array([u for u, _ in pairs], dtype=np.int64),
            targets=np.array([v for _, v in pairs], dtype=np.int64),
            costs=np.array([pair_cost[p] for p in pairs], dtype=np.int64),
            centroid_x=np.ascontiguousarray(nodes["centroid"]["x"]),
            centroid_y=np.ascontiguousarray(nodes["centroid"]["y"]),
            pair_cost=pair_cost,
        )

    def estimates(self, target: int) -> List[int]:
        """Every node's estimate towards `target`, as walkmesh computes it: float32
        differences, each product and the sum rounded to float32, float32 square root,
        truncated. Each step runs in float64 and is rounded to float32 at once, which
        gives exactly the float32 result: NumPy's own float32 loops may flush tiny
        values or approximate the square root (they do on 32-bit ARM). The meshes'
        centroids are finite, so no saturation is needed."""
        def f32(values: np.ndarray) -> np.ndarray:
            return values.astype(np.float32).astype(np.float64)

        dx = f32(np.float64(self.centroid_x[target]) - self.centroid_x.astype(np.float64))
        dy = f32(np.float64(self.centroid_y[target]) - self.centroid_y.astype(np.float64))
        squared = f32(f32(dy * dy) + f32(dx * dx))
        return f32(np.sqrt(squared)).astype(np.uint32).tolist()

    def path_cost(self, path: List[int]) -> int:
        return sum(self.pair_cost[u, v] for u, v in zip(path, path[1:]))


def scipy_dijkstra(graph: Graph) -> Callable[[int, int], NodePath]:
    import scipy.sparse
    from scipy.sparse.csgraph import dijkstra

    n = graph.node_count
    matrix = scipy.sparse.csr_matrix((graph.costs.astype(np.float64), (graph.sources, graph.targets)), shape=(n, n))

    def path(start: int, target: int) -> NodePath:
        distances, predecessors, _ = dijkstra(matrix, directed=True, indices=start,
                                              return_predecessors=True, min_only=True)
        return _predecessor_walk(distances, predecessors, start, target)

    return path


def scipy_dijkstra_known_limit(graph: Graph, known_costs: Dict[Tuple[int, int], float]) -> Callable[[int, int], NodePath]:
    """scipy told the answer's cost as its `limit`, so it stops as soon as it is
    reached: a lower bound for scipy, not something a caller can do."""
    import scipy.sparse
    from scipy.sparse.csgraph import dijkstra

    n = graph.node_count
    matrix = scipy.sparse.csr_matrix((graph.costs.astype(np.float64), (graph.sources, graph.targets)), shape=(n, n))

    def path(start: int, target: int) -> NodePath:
        limit = known_costs.get((start, target), math.inf) + 0.5
        distances, predecessors, _ = dijkstra(matrix, directed=True, indices=start, return_predecessors=True,
                                              min_only=True, limit=limit)
        return _predecessor_walk(distances, predecessors, start, target)

    return path


def _predecessor_walk(distances: np.ndarray, predecessors: np.ndarray, start: int, target: int) -> NodePath:
    if not math.isfinite(distances[target]):
        return None
    path = [target]
    while path[-1] != start:
        path.append(int(predecessors[path[-1]]))
    path.reverse()
    return path


def networkx_astar(graph: Graph) -> Callable[[int, int], NodePath]:
    import networkx as nx

    g = nx.DiGraph()
    g.add_nodes_from(range(graph.node_count))
    g.add_weighted_edges_from(zip(graph.sources.tolist(), graph.targets.tolist(), graph.costs.tolist()),
                              weight="cost")

    def path(start: int, target: int) -> NodePath:
        estimate = graph.estimates(target)
        try:
            return nx.astar_path(g, start, target, heuristic=lambda u, _: estimate[u], weight="cost")
        except nx.NetworkXNoPath:
            return None

    return path


def rustworkx_astar(graph: Graph) -> Callable[[int, int], NodePath]:
    import rustworkx as rx

    g = rx.PyDiGraph()
    g.add_nodes_from(range(graph.node_count))
    g.add_edges_from(list(zip(graph.sources.tolist(), graph.targets.tolist(), graph.costs.tolist())))

    def path(start: int, target: int) -> NodePath:
        estimate = graph.estimates(target)
        try:
            found = rx.digraph_astar_shortest_path(g, start, lambda node: node == target, float,
                                                   lambda node: estimate[node])
        except rx.NoPathFound:
            return None
        return list(found)

    return path


def igraph_astar(graph: Graph) -> Callable[[int, int], NodePath]:
    import igraph as ig

    g = ig.Graph(n=graph.node_count, edges=list(zip(graph.sources.tolist(), graph.targets.tolist())), directed=True)
    g.es["cost"] = graph.costs.tolist()

    def path(start: int, target: int) -> NodePath:
        estimate = graph.estimates(target)
        # An unreachable target gives an empty path and a RuntimeWarning.
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            found = g.get_shortest_path_astar(start, target, lambda _, v, __: estimate[v], weights="cost",
                                              mode="out", output="vpath")
        return found or None

    return path


def versions() -> Dict[str, str]:
    found = {}
    for name, module in [("numpy", "numpy"), ("scipy", "scipy"), ("networkx", "networkx"),
                         ("rustworkx", "rustworkx"), ("python-igraph", "igraph")]:
        try:
            found[name] = __import__(module).__version__
        except ImportError:
            found[name] = "missing"
    return found
