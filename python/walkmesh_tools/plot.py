"""A matplotlib drawing of a mesh: its polygons, its portals and paths across it. A
mesh with heights has its polygons coloured by height, the lower drawn first, and
takes paths with heights (drawn in plan)."""
from __future__ import annotations

import math
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple

import numpy as np

from .polygons import corner_links

if TYPE_CHECKING:
    from .navmesh import NavMesh

__all__ = ["plot_mesh"]

POLYGON_FACE = "#e4ecf4"
# The colour map of heights, and how opaque polygons of a mesh with heights are, so
# that a floor shows through the bridge over it.
HEIGHT_COLORS = "viridis"
LAYER_ALPHA = 0.6
POLYGON_EDGE = "#9fb0c2"
PORTAL = "#c7d4e1"
LEGEND = "#555555"
START_MARKER = "o"
TARGET_MARKER = "X"


def _matplotlib() -> Tuple[Any, Any, Any, Any]:
    try:
        import matplotlib
    except ImportError:
        raise ImportError("NavMesh.plot draws with matplotlib: pip install 'walkmesh[plot]'") from None
    from matplotlib.collections import LineCollection, PolyCollection
    from matplotlib.lines import Line2D
    return matplotlib, LineCollection, PolyCollection, Line2D


def _is_point(value: Any) -> bool:
    return hasattr(value, "x") and hasattr(value, "y")


def _classify(path: Any, heights: bool = False) -> Tuple[str, np.ndarray, bool]:
    """("route" or "straight", (k, 2) points, whether the first point is the start) of
    one entry of `paths`: a bare route begins at its first portal, not at its start.
    With `heights`, (k, 3) points are taken too, and drawn in plan."""
    if isinstance(path, tuple) and len(path) == 2 and isinstance(path[1], list) and all(map(_is_point, path[1])):
        start, route = path
        start = (start.x, start.y) if _is_point(start) else tuple(start)
        return "route", np.array([start] + [(p.x, p.y) for p in route], dtype=np.float64).reshape(-1, 2), True
    if isinstance(path, list) and path and all(map(_is_point, path)):
        return "route", np.array([(p.x, p.y) for p in path], dtype=np.float64), False
    points = np.asarray(path, dtype=np.float64)
    if points.ndim != 2 or points.shape[1] not in ((2, 3) if heights else (2,)):
        shape = "(k, 2) or (k, 3)" if heights else "(k, 2)"
        raise ValueError(f"a path must be a route (a list of walkmesh.Point, or a pair (start, route)) or an "
                         f"array of shape {shape}, not shape {points.shape}")
    return "straight", points[:, :2], True


def _checked_style(matplotlib: Any, colors: Any, linewidth: Any, named: Dict[str, Any]) -> List[Any]:
    """The path colours to cycle through; ValueError naming any option that is not a
    matplotlib colour, an empty `colors` or a line width that is not a number >= 0."""
    from matplotlib.colors import is_color_like
    for name, color in named.items():
        if not is_color_like(color):
            raise ValueError(f"{name} must be a matplotlib color, not {color!r}")
    try:
        width = float(linewidth)
    except (TypeError, ValueError):
        width = math.nan
    if not (math.isfinite(width) and width >= 0):
        raise ValueError(f"linewidth must be a finite number at least 0, not {linewidth!r}")
    if colors is None:
        return [c["color"] for c in matplotlib.rcParams["axes.prop_cycle"]]
    if isinstance(colors, str):
        colors = [colors]
    try:
        listed = list(colors)
    except TypeError:
        raise ValueError(f"colors must be a sequence of matplotlib colors, not {colors!r}") from None
    if not listed:
        raise ValueError("colors must hold at least one color")
    for i, color in enumerate(listed):
        if not is_color_like(color):
            raise ValueError(f"colors[{i}] is not a matplotlib color: {color!r}")
    return listed


def plot_mesh(mesh: NavMesh, paths: Sequence[Any] = (), ax: Any = None, *, face_color: str = POLYGON_FACE, edge_color: str = POLYGON_EDGE,
              portal_color: str = PORTAL, linewidth: float = 0.3, colors: Optional[Sequence[Any]] = None) -> Any:
    matplotlib, LineCollection, PolyCollection, Line2D = _matplotlib()
    colors = _checked_style(matplotlib, colors, linewidth,
                            dict(face_color=face_color, edge_color=edge_color, portal_color=portal_color))
    if ax is None:
        import matplotlib.pyplot as plt
        # A constrained layout makes room for the legend beside the map.
        _, ax = plt.subplots(constrained_layout=True)
    heights = mesh.heights
    classified = [_classify(path, heights is not None) for path in paths]
    rings = [mesh.vertices[corners, :2] for corners in mesh.polygons]
    if heights is None:
        ax.add_collection(PolyCollection(rings, facecolors=face_color, edgecolors=edge_color, linewidths=linewidth,
                                         zorder=1))
    else:
        _add_layers(matplotlib, PolyCollection, ax, mesh, rings, edge_color, linewidth)
    # Each portal once: from the polygon with the lower index.
    corners, neighbours = mesh.polygon_corners, mesh.neighbours
    polygon, before, _ = corner_links(mesh.polygon_offsets)
    portal = np.flatnonzero(neighbours > polygon)
    plan = mesh.vertices[:, :2]
    segments = np.stack([plan[corners[before[portal]]], plan[corners[portal]]], axis=1)
    ax.add_collection(LineCollection(segments, colors=portal_color, linewidths=linewidth, zorder=2))
    kinds = []
    for i, (kind, points, has_start) in enumerate(classified):
        color = colors[i % len(colors)]
        if kind == "route":
            ax.plot(points[:, 0], points[:, 1], linestyle="--", linewidth=1.0, marker=".", markersize=3,
                    color=color, zorder=3)
        else:
            ax.plot(points[:, 0], points[:, 1], linestyle="-", linewidth=1.6, color=color, zorder=4)
        if has_start:
            ax.plot(points[:1, 0], points[:1, 1], linestyle="none", marker=START_MARKER, markersize=6,
                    markerfacecolor="white", markeredgewidth=1.5, color=color, zorder=5)
        ax.plot(points[-1:, 0], points[-1:, 1], linestyle="none", marker=TARGET_MARKER, markersize=7, color=color,
                zorder=5)
        kinds.append((kind, has_start))
    ax.set_aspect("equal")
    ax.autoscale_view()
    if kinds:
        _legend(ax, Line2D, kinds)
    return ax


def _add_layers(matplotlib: Any, PolyCollection: Any, ax: Any, mesh: NavMesh, rings: List[np.ndarray],
                edge_color: str, linewidth: float) -> None:
    """The polygons of a mesh with heights, coloured by their mean height, the lowest
    drawn first, with a colour bar."""
    heights = mesh.heights
    assert heights is not None
    level = np.array([heights[corners].mean() for corners in mesh.polygons]) if len(mesh) else np.zeros(0)
    low, high = (float(level.min()), float(level.max())) if len(level) else (0.0, 1.0)
    norm = matplotlib.colors.Normalize(low, high if high > low else low + 1.0)
    order = np.argsort(level, kind="stable")
    collection = PolyCollection([rings[i] for i in order], array=level[order], cmap=HEIGHT_COLORS, norm=norm,
                                edgecolors=edge_color, linewidths=linewidth, alpha=LAYER_ALPHA, zorder=1)
    ax.add_collection(collection)
    ax.figure.colorbar(collection, ax=ax, label="height", shrink=0.8)


def _legend(ax: Any, Line2D: Any, kinds: Sequence[Tuple[str, bool]]) -> None:
    """One entry for each kind of line and marker drawn, in grey, to the right of the map
    (outside the axes, so it hides none of it: save with bbox_inches="tight" or a
    constrained layout to keep it in the picture)."""
    drawn = {kind for kind, _ in kinds}
    handles = []
    if "route" in drawn:
        handles.append(Line2D([], [], linestyle="--", linewidth=1.0, marker=".", markersize=3, color=LEGEND,
                              label="route through portal midpoints"))
    if "straight" in drawn:
        handles.append(Line2D([], [], linestyle="-", linewidth=1.6, color=LEGEND, label="straight path"))
    if any(has_start for _, has_start in kinds):
        handles.append(Line2D([], [], linestyle="none", marker=START_MARKER, markersize=6, markerfacecolor="white",
                              markeredgewidth=1.5, color=LEGEND, label="start"))
    handles.append(Line2D([], [], linestyle="none", marker=TARGET_MARKER, markersize=7, color=LEGEND, label="target"))
    ax.legend(handles=handles, loc="upper left", bbox_to_anchor=(1.02, 1.0), borderaxespad=0.0, fontsize="small")
