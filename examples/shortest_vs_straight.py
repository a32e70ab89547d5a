"""The aurora scenario where A* over the polygons with the funnel (straight_path)
strays furthest from the true shortest path (shortest_path): both drawn on the part of
the mesh they cross (docs/shortest-aurora.png).

    python examples/shortest_vs_straight.py [MESHES_DIR] [OUTPUT.png]
"""
import sys
from pathlib import Path

import matplotlib
import numpy as np

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from PIL import Image  # noqa: E402

import walkmesh_tools as tools  # noqa: E402
from walkmesh_tools._sample import load_scenarios  # noqa: E402

meshes = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[1] / ".." / "shared" / "navmeshes")
output = Path(sys.argv[2] if len(sys.argv) > 2 else "docs/shortest-aurora.png")
mesh = tools.NavMesh.load(meshes / "aurora.mesh")
pairs = load_scenarios(meshes / "aurora.scen")
starts = np.array([p[0] for p in pairs], np.float64)
targets = np.array([p[1] for p in pairs], np.float64)
located = (mesh.locate(starts) >= 0) & (mesh.locate(targets) >= 0)
starts, targets = starts[located], targets[located]

shortest = mesh.shortest_paths(starts, targets)
straight = mesh.find_paths(starts, targets, straight=True)
straight_lengths = np.array([np.sum(np.hypot(*np.diff(p.astype(np.float64), axis=0).T)) for p in straight])
reached = shortest.reached & straight.reached & (shortest.lengths > 0)
excess = np.where(reached, straight_lengths / np.where(reached, shortest.lengths, 1.0) - 1.0, -1.0)
worst = int(np.argmax(excess))
best_path, funnel_path = shortest[worst], straight[worst]
print(f"query {worst}: {tuple(starts[worst])} to {tuple(targets[worst])}: straight_path "
      f"{straight_lengths[worst]:.2f}, shortest_path {shortest.lengths[worst]:.2f} (+{100 * excess[worst]:.1f} %)")

figure, ax = plt.subplots(figsize=(7, 6), dpi=100, constrained_layout=True)
mesh.plot([funnel_path, best_path], ax=ax, colors=["#d62728", "#1f3fbf"], linewidth=0.4)
funnel_line, best_line = [line for line in ax.get_lines() if line.get_linestyle() == "-"][:2]
funnel_line.set_label(f"straight_path (A* + funnel): {straight_lengths[worst]:.1f}")
best_line.set_label(f"shortest_path (exact): {shortest.lengths[worst]:.1f}")
ax.legend(handles=[funnel_line, best_line], loc="upper left", fontsize=8)
both = np.concatenate([funnel_path, best_path])
low, high = both.min(axis=0), both.max(axis=0)
margin = 0.08 * float(np.max(high - low))
ax.set_xlim(low[0] - margin, high[0] + margin)
ax.set_ylim(low[1] - margin, high[1] + margin)
ax.set_title(f"aurora: the scenario where the corridor costs most ({100 * excess[worst]:.1f} % longer)", fontsize=9)
figure.savefig(output)
# A palette image: the drawing has few colours.
Image.open(output).convert("RGB").quantize(colors=64).save(output, optimize=True)
print(f"{output}: {output.stat().st_size} bytes")
