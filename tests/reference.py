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


def route(tables, start, target, max_expansions=None, partial=False):
    """The twin of walkmesh_tools.corridor: (nodes from start on, reached, expansions).
    The search stops before an expansion beyond `max_expansions`; a partial route ends
    at the expanded node of the smallest estimate, the first expanded of equals."""
    n = len(tables.centroids)
    if start >= n or target >= n:
        index_failure(max(start, target), n)
    best = [U32] * n
    came_from = [None] * n
    best[start] = 0
    goal = tables.centroids[target]
    queue = [(estimate(tables.centroids[start], goal), -start)]
    expansions = 0
    closest, closest_estimate = start, None
    while queue:
        f, negated = heapq.heappop(queue)
        u = -negated
        if u == target:
            return chain_to(came_from, start, target), True, expansions
        h = estimate(tables.centroids[u], goal)
        if f > (best[u] + h) & U32:
            continue
        if max_expansions is not None and expansions == max_expansions:
            break
        expansions += 1
        if closest_estimate is None or h < closest_estimate:
            closest, closest_estimate = u, h
        for to, cost, _, _ in tables.run(u):
            if to >= n:
                index_failure(to, n)
            candidate = (best[u] + cost) & U32
            if candidate < best[to]:
                best[to] = candidate
                came_from[to] = u
                heapq.heappush(queue, ((candidate + estimate(tables.centroids[to], goal)) & U32, -to))
    if partial:
        return chain_to(came_from, start, closest), False, expansions
    return [], False, expansions


def chain_to(came_from, start, end):
    nodes = [end]
    while nodes[-1] != start and came_from[nodes[-1]] is not None:
        nodes.append(came_from[nodes[-1]])
    return nodes[::-1]


def _crossing_interval(a, b, p, q, eps):
    """The parameters s in [0, 1] at which the segment a -> b meets the segment p -> q,
    as (low, high), or None."""
    d = (b[0] - a[0], b[1] - a[1])
    e = (q[0] - p[0], q[1] - p[1])
    w = (p[0] - a[0], p[1] - a[1])
    denominator = d[0] * e[1] - d[1] * e[0]
    scale = max(1.0, abs(d[0]) + abs(d[1])) * max(1.0, abs(e[0]) + abs(e[1]))
    if abs(denominator) > eps * scale:
        s = (w[0] * e[1] - w[1] * e[0]) / denominator
        u = (w[0] * d[1] - w[1] * d[0]) / denominator
        if -eps <= s <= 1 + eps and -eps <= u <= 1 + eps:
            return max(s, 0.0), min(max(s, 0.0), 1.0)
        return None
    # Parallel: they meet only when collinear, over the overlap of their projections.
    if abs(w[0] * d[1] - w[1] * d[0]) > eps * scale:
        return None
    length = d[0] * d[0] + d[1] * d[1]
    if length == 0:
        # a == b: the point must lie on p -> q.
        t = (e[0] * -w[0] + e[1] * -w[1]) / max(e[0] * e[0] + e[1] * e[1], 1e-300)
        return (0.0, 1.0) if -eps <= t <= 1 + eps else None
    s1 = (w[0] * d[0] + w[1] * d[1]) / length
    s2 = ((q[0] - a[0]) * d[0] + (q[1] - a[1]) * d[1]) / length
    low, high = max(min(s1, s2), 0.0), min(max(s1, s2), 1.0)
    return (low, high) if low <= high + eps else None


def _passes_in_order(a, b, portals, eps):
    """Whether a -> b meets every portal of `portals` at parameters that never go back."""
    s = 0.0
    for p, q in portals:
        interval = _crossing_interval(a, b, p, q, eps)
        if interval is None or interval[1] + eps < s:
            return False
        s = max(s, interval[0])
    return True


def shortest_through_portals(start, portals, end, eps=1e-9):
    """Length and corners of the shortest polyline from `start` to `end` that meets the
    portals (pairs of end points) in order, found as the shortest path of a graph: its
    vertices are the end points, an edge joins two of them when the straight segment
    between meets every portal between them in order. Exact for portal sequences whose
    shortest polyline bends only at portal ends, as every strip of convex regions'."""
    vertices = [(-1, start)] + [(k, point) for k, portal in enumerate(portals) for point in portal]
    vertices.append((len(portals), end))
    distance = [math.inf] * len(vertices)
    previous = [None] * len(vertices)
    distance[0] = 0.0
    for i, (k, a) in enumerate(vertices):
        if distance[i] == math.inf:
            continue
        for j in range(i + 1, len(vertices)):
            m, b = vertices[j]
            if m <= k or not _passes_in_order(a, b, portals[k + 1:m], eps):
                continue
            through = distance[i] + math.dist(a, b)
            if through < distance[j]:
                distance[j], previous[j] = through, i
    corners = []
    at = len(vertices) - 1
    while at is not None:
        corners.append(vertices[at][1])
        at = previous[at]
    return distance[-1], corners[::-1]
