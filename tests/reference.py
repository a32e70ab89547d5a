"""A pure-Python twin of find_path, written from the description of the search: A*
with unsigned 32-bit costs that wrap, a float32 straight-line estimate truncated to
an integer, ties broken towards the higher node index, no closed set, the path walk
over portal midpoints and the target point appended. Failures raise ReferenceFailure
with the message the module's PanicException carries."""
import heapq
import math

import numpy as np

U32 = 0xFFFFFFFF


class ReferenceFailure(Exception):
    pass


def f32(value):
    with np.errstate(over="ignore", invalid="ignore"):
        return float(np.float32(value))


def index_failure(index, length):
    raise ReferenceFailure(f"index out of bounds: the len is {length} but the index is {index}")


def run_failure(start, end, length):
    if start > length:
        raise ReferenceFailure(f"range start index {start} out of range for slice of length {length}")
    if end > length:
        raise ReferenceFailure(f"range end index {end} out of range for slice of length {length}")
    raise ReferenceFailure(f"slice index starts at {start} but ends at {end}")


def estimate(point, goal):
    # float32 differences, products and sum, each rounded; float32 square root.
    dx = f32(goal[0] - point[0])
    dy = f32(goal[1] - point[1])
    r = f32(math.sqrt(f32(f32(dy * dy) + f32(dx * dx))))
    if math.isnan(r) or r <= 0:
        return 0
    return U32 if r >= 2.0**32 else int(r)


class Tables:
    """The records as plain Python values."""

    def __init__(self, nodes, edges):
        self.centroids = [(float(x), float(y)) for x, y in zip(nodes["centroid"]["x"], nodes["centroid"]["y"])]
        self.runs = [(int(s), int(c)) for s, c in zip(nodes["edge_start"], nodes["edge_count"])]
        self.edges = [
            (int(to), int(cost), (float(lx), float(ly)), (float(rx), float(ry)))
            for to, cost, lx, ly, rx, ry in zip(
                edges["to"], edges["cost"], edges["left"]["x"], edges["left"]["y"],
                edges["right"]["x"], edges["right"]["y"])
        ]

    def run(self, node):
        start, count = self.runs[node]
        end = (start + count) & U32
        if end < start or end > len(self.edges):
            run_failure(start, end, len(self.edges))
        return self.edges[start:end]


def search(tables, start, target):
    """The portal midpoints from start to target, or None when there is no path."""
    n = len(tables.centroids)
    best = [U32] * n
    came_from = [None] * n
    if start >= n:
        index_failure(start, n)
    best[start] = 0
    if target >= n:
        index_failure(target, n)
    goal = tables.centroids[target]
    queue = [(estimate(tables.centroids[start], goal), -start)]
    while queue:
        f, negated = heapq.heappop(queue)
        u = -negated
        if u == target:
            return walk(tables, came_from, start, target)
        if f > (best[u] + estimate(tables.centroids[u], goal)) & U32:
            continue
        for to, cost, _, _ in tables.run(u):
            if to >= n:
                index_failure(to, n)
            candidate = (best[u] + cost) & U32
            if candidate < best[to]:
                best[to] = candidate
                came_from[to] = u
                heapq.heappush(queue, ((candidate + estimate(tables.centroids[to], goal)) & U32, -to))
    return None


def walk(tables, came_from, start, target):
    points = []
    current = target
    while came_from[current] is not None:
        previous = came_from[current]
        # The first edge of the run that leads to `current`, whatever its cost.
        _, _, left, right = next(e for e in tables.run(previous) if e[0] == current)
        points.append((f32(f32(left[0] + right[0]) * 0.5), f32(f32(left[1] + right[1]) * 0.5)))
        if previous == start:
            break
        current = previous
    points.reverse()
    return points


def find_path(nodes, edges, start, target, target_point):
    """What walkmesh.find_path returns, as (x, y) pairs."""
    points = search(Tables(nodes, edges), start, target) or []
    return points + [(f32(target_point[0]), f32(target_point[1]))]
