"""validate: each kind of problem planted in sound tables is found where it was
planted, and the shared meshes have none."""
from pathlib import Path

import numpy as np
import pytest

import walkmesh_tools as tools
import workloads

NAVMESHES = Path(__file__).resolve().parent.parent.parent / "shared" / "navmeshes"
MESH = tools.NavMesh.load(workloads.small_mesh_path())


def reverse_of(edges, k, u):
    """The edge that crosses edge k's portal the other way."""
    v = int(edges[k]["to"])
    start, count = MESH.nodes[v]["edge_start"], MESH.nodes[v]["edge_count"]
    for j in range(start, start + count):
        if edges[j]["to"] == u and tuple(edges[j]["left"]) == tuple(edges[k]["right"]):
            return j
    raise AssertionError("no reverse edge")


def plant(kind):
    """Sound tables with one problem of `kind`; returns them and the problem expected."""
    nodes, edges = MESH.nodes.copy(), MESH.edges.copy()
    u = 5
    k = int(nodes[u]["edge_start"]) + 1
    v = int(edges[k]["to"])
    if kind == "run_outside":
        nodes[u]["edge_count"] = len(edges)
        return nodes, edges, (kind, u, -1)
    if kind == "to_outside":
        edges[k]["to"] = len(nodes) + 2
        return nodes, edges, (kind, u, k)
    if kind == "overlapping_runs":
        nodes[u + 1]["edge_start"] = k
        return nodes, edges, (kind, u + 1, k)
    if kind == "no_reverse":
        edges[k]["left"]["x"] += np.float32(0.25)
        return nodes, edges, (kind, u, k)
    if kind == "cost_below_estimate":
        edges[k]["cost"] = 1
        return nodes, edges, (kind, u, k)
    if kind == "zero_length_portal":
        j = reverse_of(edges, k, u)
        edges[k]["right"] = edges[k]["left"]
        edges[j]["left"] = edges[j]["right"]
        return nodes, edges, (kind, u, k)
    if kind == "self_loop":
        edges[k]["to"] = u
        return nodes, edges, (kind, u, k)
    if kind == "not_finite":
        nodes[v]["centroid"]["y"] = np.nan
        return nodes, edges, (kind, v, -1)
    raise AssertionError(kind)


@pytest.mark.parametrize("kind", tools.PROBLEM_KINDS)
def test_each_planted_problem_is_found_where_it_was_planted(kind):
    assert tools.validate(MESH.nodes, MESH.edges) == []
    nodes, edges, expected = plant(kind)
    problems = tools.validate(nodes, edges)
    assert expected in [(p.kind, p.node, p.edge) for p in problems]
    found = next(p for p in problems if (p.kind, p.node, p.edge) == expected)
    assert str(found) == found.message and (f"node {expected[1]}" in found.message)


def test_problems_say_what_is_wrong():
    nodes, edges, (_, _, k) = plant("cost_below_estimate")
    to = edges[k]["to"]
    distance = np.hypot(*(np.float64(nodes[5]["centroid"][c]) - np.float64(nodes[to]["centroid"][c]) for c in "xy"))
    assert [p.message for p in tools.validate(nodes, edges)] == [
        f"edge {k} from node 5 to node {to} costs 1, below the straight-line estimate {int(distance)} between their "
        "centroids: paths may not be shortest"]
    # A run past the table is never read: the portals its edges crossed lack their reverse.
    nodes, edges, _ = plant("run_outside")
    problems = tools.validate(nodes, edges)
    assert problems[0].message == f"node 5's edge run [10, {10 + len(edges)}) ends past the edge table (46 edges)"
    assert {(p.kind, int(edges[p.edge]["to"])) for p in problems[1:]} == {("no_reverse", 5)}


def test_tables_of_another_dtype_are_a_type_error():
    with pytest.raises(TypeError, match="nodes must be a one-dimensional array of"):
        tools.validate(MESH.edges, MESH.edges)
    with pytest.raises(TypeError, match="edges must be"):
        tools.validate(MESH.nodes, MESH.edges.reshape(1, -1))


@pytest.mark.parametrize("name", ["arena", "aurora", "Berlin_0_1024"])
def test_shared_meshes_have_no_problems(name):
    path = NAVMESHES / f"{name}.mesh"
    if not path.exists():
        pytest.skip(f"{path} is absent")
    mesh = tools.NavMesh.load(path)
    assert tools.validate(mesh.nodes, mesh.edges) == []
