# Types of walkmesh_tools._native, the package's extension module. Its callers are the
# Python functions of walkmesh_tools, which add the keyword defaults and check the
# query arrays before they come here.
from typing import Callable, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

import walkmesh

_Table = npt.NDArray[np.void]
_PointLike = Union[walkmesh.Point, Sequence[float], npt.NDArray[np.floating]]

route_finder_bytes_per_node: int

def corridor(
    nodes: _Table,
    edges: _Table,
    start: int,
    target: int,
    max_expansions: Optional[int],
    partial: bool,
) -> npt.NDArray[np.uint32]: ...
def straight_path(
    nodes: _Table,
    edges: _Table,
    start: int,
    target: int,
    start_point: _PointLike,
    target_point: _PointLike,
    max_expansions: Optional[int],
    partial: bool,
) -> npt.NDArray[np.float32]: ...
def find_paths(
    nodes: _Table,
    edges: _Table,
    starts: npt.NDArray[np.int64],
    targets: npt.NDArray[np.int64],
    target_points: npt.NDArray[np.float32],
    start_points: Optional[npt.NDArray[np.float32]],
    straight: bool,
    threads: Optional[int],
    max_expansions: Optional[int],
    partial: bool,
    progress: Optional[Callable[[int, int], object]],
) -> Tuple[npt.NDArray[np.int64], npt.NDArray[np.float32], npt.NDArray[np.bool_]]: ...
def mesh(
    vertices: npt.NDArray[np.float64],
    polygon_offsets: npt.NDArray[np.int64],
    polygon_corners: npt.NDArray[np.int64],
    neighbours: npt.NDArray[np.int64],
) -> object: ...
def layered_mesh(
    vertices: npt.NDArray[np.float64],
    polygon_offsets: npt.NDArray[np.int64],
    polygon_corners: npt.NDArray[np.int64],
    neighbours: npt.NDArray[np.int64],
    heights: Optional[npt.NDArray[np.float64]],
) -> object: ...
def shortest_path(
    mesh: object,
    start_polygon: int,
    start: Sequence[float],
    target_polygon: int,
    target: Sequence[float],
) -> Tuple[npt.NDArray[np.float64], float, int, int, int]: ...
def shortest_paths(
    mesh: object,
    start_polygons: npt.NDArray[np.int64],
    starts: npt.NDArray[np.float64],
    target_polygons: npt.NDArray[np.int64],
    targets: npt.NDArray[np.float64],
    threads: Optional[int],
    progress: Optional[Callable[[int, int], object]],
) -> Tuple[npt.NDArray[np.int64], npt.NDArray[np.float64], npt.NDArray[np.bool_], npt.NDArray[np.float64]]: ...
def locate(
    mesh: object, points: npt.NDArray[np.float64], heights: Optional[npt.NDArray[np.float64]], max_climb: float
) -> npt.NDArray[np.int64]: ...
def nearest(
    mesh: object,
    points: npt.NDArray[np.float64],
    max_distance: float,
    heights: Optional[npt.NDArray[np.float64]],
    max_climb: float,
) -> Tuple[npt.NDArray[np.float64], npt.NDArray[np.int64], npt.NDArray[np.float64], npt.NDArray[np.float64]]: ...
def levels(mesh: object, point: Sequence[float]) -> List[float]: ...
def place(mesh: object, point: object) -> int: ...
def first_overlap(mesh: object, tolerance: float, agent_height: float) -> Optional[Tuple[int, int]]: ...
def stacked(mesh: object, agent_height: float) -> npt.NDArray[np.int64]: ...
def lift(
    mesh: object,
    offsets: npt.NDArray[np.int64],
    points: npt.NDArray[np.float64],
    polygons: npt.NDArray[np.int64],
    starts: npt.NDArray[np.float64],
    lasts: npt.NDArray[np.int64],
) -> npt.NDArray[np.float64]: ...
def locator_bytes(mesh: object) -> int: ...
