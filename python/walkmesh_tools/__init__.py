"""From level geometry to the tables that `walkmesh.find_path` searches, and back to a
picture: `NavMesh` builds, reads, writes, searches and draws navigation meshes,
`validate` checks node and edge tables, and `corridor`, `straight_path` and
`find_paths` run searches over them (their query faults are `QueryError`).

>>> import walkmesh_tools as tools
>>> mesh = tools.NavMesh.from_polygons([(0, 0), (1, 0), (1, 1), (0, 1), (2, 0), (2, 1)],
...                                    [(0, 1, 2, 3), (1, 4, 5, 2)])
>>> mesh.locate((1.5, 0.5)), tools.validate(mesh.nodes, mesh.edges)
(1, [])
"""
from ._sample import small_mesh_path as _small_mesh_path
from .batch import Paths, find_paths
from .errors import QueryError
from .navmesh import NavMesh
from .paths import corridor, straight_path
from .records import EDGE_DTYPE, NODE_DTYPE, POINT_DTYPE
from .validate import PROBLEM_KINDS, Problem, validate

__all__ = [
    "NavMesh", "POINT_DTYPE", "NODE_DTYPE", "EDGE_DTYPE", "Problem", "PROBLEM_KINDS", "validate",
    "corridor", "straight_path", "Paths", "find_paths", "QueryError",
]
