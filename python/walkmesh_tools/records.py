"""The record dtypes of the tables that `walkmesh.find_path` reads: a point, a node
(16 bytes) and an edge (28 bytes), in native byte order."""
import numpy as np

__all__ = ["POINT_DTYPE", "NODE_DTYPE", "EDGE_DTYPE"]

POINT_DTYPE = np.dtype([("x", "=f4"), ("y", "=f4")])
NODE_DTYPE = np.dtype([("centroid", POINT_DTYPE), ("edge_start", "=u4"), ("edge_count", "=u4")])
EDGE_DTYPE = np.dtype([("to", "=u4"), ("cost", "=u4"), ("left", POINT_DTYPE),
                       ("right", POINT_DTYPE), ("padding", "=u4")])
