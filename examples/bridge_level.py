"""A level with a bridge over a road, as a modelling tool would export it: the mesh
keeps the heights of its vertices, a point under the bridge and one on it are told
apart by their heights, and paths come back with the height of the ground under each
point. Draws the level with a path that crosses under the bridge and one that climbs
onto it (docs/bridge-level.png).

    python examples/bridge_level.py [OUTPUT.png]
"""
import sys
import tempfile
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from PIL import Image  # noqa: E402

import walkmesh_tools as tools  # noqa: E402
from walkmesh_tools._sample import bridge_level  # noqa: E402

output = Path(sys.argv[1] if len(sys.argv) > 1 else "docs/bridge-level.png")
vertices, polygons = bridge_level(deck=3.0)
level = tools.NavMesh.from_polygons(vertices, polygons, agent_height=2.0)
# Through a file, as a level comes from a modelling tool.
with tempfile.TemporaryDirectory() as folder:
    level.save(Path(folder) / "level.glb")
    mesh = tools.NavMesh.load(Path(folder) / "level.glb", merge=True)

under = mesh.shortest_path((10, 4, 0), (30, 20, 0))
climb = mesh.shortest_path((20, 12, 0), (18, 12, 3))
for name, path in [("under the bridge", under), ("onto the bridge", climb)]:
    corners = ", ".join("(" + ", ".join(f"{c:g}" for c in point) + ")" for point in path.tolist())
    print(f"{name}: {corners}")

figure, ax = plt.subplots(figsize=(8, 5.2), dpi=100, constrained_layout=True)
mesh.plot([under, climb], ax=ax, colors=["#d62728", "#1f3fbf"], edge_color="#404040", linewidth=0.6)
under_line, climb_line = [line for line in ax.get_lines() if line.get_linestyle() == "-"]
under_line.set_label("under the bridge: (10, 4, 0) to (30, 20, 0)")
climb_line.set_label("onto it: (20, 12, 0) to (18, 12, 3), by the west ramp")
ax.legend(handles=[under_line, climb_line], loc="upper left", fontsize=7)
for x, y, z in climb.tolist():
    ax.annotate(f"z={z:g}", (x, y), textcoords="offset points", xytext=(-8, 6), fontsize=7, color="#1f3fbf")
ax.set_title("A bridge deck (height 3) over a road, a ramp at each end", fontsize=9)
ax.set_xlabel("x")
ax.set_ylabel("y")
figure.savefig(output)
# A palette image: the drawing has few colours.
Image.open(output).convert("RGB").quantize(colors=64).save(output, optimize=True)
print(f"{output}: {output.stat().st_size} bytes")
