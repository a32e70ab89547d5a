# Types of walkmesh_tools._native, the package's extension module. Its callers are the
# Python functions of walkmesh_tools, which add the keyword defaults and check the
# query arrays before they come here.
from typing import Callable, Optional, Sequence, Tuple, Union, final

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

@final
class Mesh:
    """The native side of a NavMesh: point location and nearest points."""

    def __new__(
        cls,
        vertices: npt.NDArray[np.float64],
        polygon_offsets: npt.NDArray[np.int64],
        polygon_corners: npt.NDArray[np.int64],
    ) -> "Mesh": ...
    def locate(self, points: npt.NDArray[np.float64]) -> npt.NDArray[np.int64]: ...
    def nearest(
        self, points: npt.NDArray[np.float64], max_distance: float
    ) -> Tuple[npt.NDArray[np.float64], npt.NDArray[np.int64], npt.NDArray[np.float64]]: ...
    def place(self, point: object) -> int: ...
    def first_overlap(self, tolerance: float) -> Optional[Tuple[int, int]]: ...
    def locator_bytes(self) -> int: ...
