"""From level geometry to the tables that `walkmesh.find_path` searches, and back to a
picture: `NavMesh` builds, reads, writes, searches and draws navigation meshes,
`validate` checks node and edge tables, `corridor`, `straight_path` and `find_paths`
run searches over them, and the workloads are the queries that the demo, the tests
and the benchmarks share.

>>> import walkmesh_tools as tools
>>> mesh = tools.NavMesh.load(tools.small_mesh_path())
>>> mesh.locate((1, 1)), tools.validate(mesh.nodes, mesh.edges)
(0, [])
"""
from .batch import Paths, find_paths
from .errors import QueryError
from .navmesh import NavMesh
from .paths import corridor, straight_path
from .records import EDGE_DTYPE, NODE_DTYPE, POINT_DTYPE
from .validate import PROBLEM_KINDS, Problem, validate
from .workloads import (Query, load_scenarios, path_length, random_node_queries, random_obstacle_map,
                        scenario_queries, shared_mesh_path, small_mesh_path, splitmix64)

__all__ = [
    "NavMesh", "POINT_DTYPE", "NODE_DTYPE", "EDGE_DTYPE", "Problem", "PROBLEM_KINDS", "validate",
    "Query", "load_scenarios", "scenario_queries", "splitmix64", "random_node_queries", "random_obstacle_map",
    "shared_mesh_path", "small_mesh_path", "path_length", "corridor", "straight_path", "Paths", "find_paths", "QueryError",
]
