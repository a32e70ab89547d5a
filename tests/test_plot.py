"""NavMesh.plot: every polygon and every portal once, routes and straight paths each
in their own style, from the points given."""
import numpy as np
import pytest

import walkmesh_tools as tools
import workloads

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.collections import LineCollection, PolyCollection  # noqa: E402

MESH = tools.NavMesh.load(workloads.small_mesh_path())


@pytest.fixture
def ax():
    figure, axes = plt.subplots()
    yield axes
    plt.close(figure)


def test_polygons_portals_and_both_kinds_of_path(ax):
    route = MESH.find_path((1, 1), (11, 7))
    straight = np.array([(1, 1), (6, 4), (11, 7)], dtype=np.float32)
    assert MESH.plot([((1, 1), route), route, straight], ax=ax) is ax
    [polygons] = [c for c in ax.collections if isinstance(c, PolyCollection)]
    [portals] = [c for c in ax.collections if isinstance(c, LineCollection)]
    rings = [MESH.vertices[corners].tolist() for corners in MESH.polygons]
    assert [p.vertices[:-1].tolist() for p in polygons.get_paths()] == rings
    drawn = {tuple(sorted(map(tuple, s.tolist()))) for s in portals.get_segments()}
    crossed = {tuple(sorted([tuple(map(float, e["left"])), tuple(map(float, e["right"]))])) for e in MESH.edges}
    assert len(portals.get_segments()) == len(MESH.edges) // 2 and drawn == crossed
    # Each path is a line, a ring at its start (not for a bare route, which begins at its
    # first portal) and a cross at its target.
    lines = [line for line in ax.get_lines() if line.get_linestyle() != "None"]
    from_start, route_only, solid = (np.column_stack(line.get_data()) for line in lines)
    assert from_start.tolist() == [[1, 1]] + [[p.x, p.y] for p in route]
    assert route_only.tolist() == from_start[1:].tolist()
    assert solid.tolist() == straight.tolist()
    assert [line.get_linestyle() for line in lines] == ["--", "--", "-"]
    markers = {}
    for line in ax.get_lines():
        if line.get_linestyle() == "None":
            markers.setdefault(line.get_marker(), []).append((np.column_stack(line.get_data()).tolist(),
                                                              line.get_color()))
    colors = [line.get_color() for line in lines]
    assert markers["o"] == [([[1, 1]], colors[0]), ([[1, 1]], colors[2])]
    assert markers["X"] == [([[11, 7]], color) for color in colors]
    assert [t.get_text() for t in ax.get_legend().get_texts()] == [
        "route through portal midpoints", "straight path", "start", "target"]


@pytest.mark.parametrize("own_figure", [False, True])
def test_the_legend_stays_off_the_map_and_in_the_picture(ax, own_figure):
    if own_figure:
        ax = MESH.plot([MESH.straight_path((1, 1), (11, 7))])
    else:
        MESH.plot([MESH.straight_path((1, 1), (11, 7))], ax=ax)
    try:
        ax.figure.canvas.draw()
        legend = ax.get_legend().get_window_extent()
        assert not legend.overlaps(ax.get_window_extent())
        if own_figure:
            # The figure plot() makes itself holds the legend whole.
            assert ax.figure.bbox.contains(legend.x0, legend.y0) and ax.figure.bbox.contains(legend.x1, legend.y1)
        assert [t.get_text() for t in ax.get_legend().get_texts()] == ["straight path", "start", "target"]
    finally:
        plt.close(ax.figure)


def test_a_path_must_be_points(ax):
    with pytest.raises(ValueError, match="a path must be a route"):
        MESH.plot([np.zeros((3, 3))], ax=ax)


@pytest.mark.parametrize("options, words", [
    (dict(colors=[]), "colors must hold at least one color"),
    (dict(colors=["red", "no such colour"]), "colors[1] is not a matplotlib color: 'no such colour'"),
    (dict(colors=3), "colors must be a sequence of matplotlib colors, not 3"),
    (dict(face_color="zz"), "face_color must be a matplotlib color, not 'zz'"),
    (dict(portal_color=None), "portal_color must be a matplotlib color, not None"),
    (dict(linewidth=-1), "linewidth must be a finite number at least 0, not -1"),
    (dict(linewidth=float("nan")), "linewidth must be a finite number at least 0, not nan"),
    (dict(linewidth="wide"), "linewidth must be a finite number at least 0, not 'wide'"),
])
def test_bad_options_are_a_value_error_before_anything_is_drawn(ax, options, words):
    with pytest.raises(ValueError) as caught:
        MESH.plot([MESH.straight_path((1, 1), (11, 7))], ax=ax, **options)
    assert str(caught.value) == words
    assert not ax.collections and not ax.get_lines()


def test_one_colour_or_a_list_of_them(ax):
    straight = MESH.straight_path((1, 1), (11, 7))
    MESH.plot([straight, straight], ax=ax, colors="red")
    MESH.plot([straight], ax=ax, colors=[(0.0, 0.5, 1.0)])
    paths = [line for line in ax.get_lines() if line.get_linestyle() != "None"]
    assert [line.get_color() for line in paths] == ["red", "red", (0.0, 0.5, 1.0)]
