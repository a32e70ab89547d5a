"""Exact shortest paths (NavMesh.shortest_path) beside the straight paths of the A*
corridor (straight_path), on the scenarios of aurora and arena and on random polygon
pairs of Berlin (it has no scenario file): `python bench/shortest.py [--quick]`.

- per query, the fastest of interleaved rounds of thread CPU time, both calls given
  located polygons (target on aurora: shortest_path at most 1.0x straight_path), and
  the search nodes the shortest-path search generates per query;
- shortest_paths on 2 threads against 1, wall time of the same batch (target: at
  least 1.8x the throughput);
- what the corridor costs in length: mean, 95th percentile and worst excess of
  straight_path's length over shortest_path's.
"""
from __future__ import annotations

import argparse
import gc
import math
import sys
import time
from pathlib import Path
from typing import Dict, List

import numpy as np

import walkmesh_tools as tools
from walkmesh_tools import _native
from workloads import load_scenarios, splitmix64

SPEED_LIMIT = 1.0
TWO_THREAD_SPEEDUP_MINIMUM = 1.8
BATCH_QUERIES = 10_000


class Workload:
    """Located queries on one mesh: polygons and float64 points."""

    def __init__(self, mesh: tools.NavMesh, starts: np.ndarray, targets: np.ndarray):
        start_nodes, target_nodes = mesh.locate(starts), mesh.locate(targets)
        keep = (start_nodes >= 0) & (target_nodes >= 0)
        self.mesh = mesh
        self.start_nodes, self.target_nodes = start_nodes[keep], target_nodes[keep]
        self.starts, self.targets = starts[keep], targets[keep]

    def __len__(self) -> int:
        return len(self.starts)


def scenario_workload(meshes: Path, name: str, quick: bool) -> Workload:
    mesh = tools.NavMesh.load(meshes / f"{name}.mesh")
    pairs = load_scenarios(meshes / f"{name}.scen")
    if quick:
        pairs = pairs[::max(1, len(pairs) // 100)]
    return Workload(mesh, np.array([p[0] for p in pairs], np.float64), np.array([p[1] for p in pairs], np.float64))


def random_workload(meshes: Path, name: str, count: int) -> Workload:
    """Pairs of polygons drawn with splitmix64, from the mean of one's corners to the other's."""
    mesh = tools.NavMesh.load(meshes / f"{name}.mesh")
    numbers = splitmix64(20261207)
    polygons = [(next(numbers) % len(mesh), next(numbers) % len(mesh)) for _ in range(count)]
    centre = np.array([mesh.vertices[p].mean(axis=0) for p in mesh.polygons])
    return Workload(mesh, centre[[a for a, _ in polygons]], centre[[b for _, b in polygons]])


def polyline_lengths(paths: tools.Paths) -> np.ndarray:
    return np.array([float(np.hypot(*np.diff(p.astype(np.float64), axis=0).T).sum()) for p in paths])


def time_queries(w: Workload, rounds: int) -> Dict[str, object]:
    mesh, native_mesh = w.mesh, w.mesh._mesh
    nodes, edges = mesh.nodes, mesh.edges
    s, t = w.start_nodes.tolist(), w.target_nodes.tolist()
    sp, tp = [tuple(p) for p in w.starts.tolist()], [tuple(p) for p in w.targets.tolist()]
    calls = {
        "shortest_path": lambda i: _native.shortest_path(native_mesh, s[i], sp[i], t[i], tp[i]),
        "straight_path": lambda i: tools.straight_path(nodes, edges, s[i], t[i], sp[i], tp[i]),
    }
    best = {name: [math.inf] * len(w) for name in calls}
    clock = time.thread_time_ns
    gc.disable()
    try:
        for _ in range(rounds):
            for name, call in calls.items():
                call(0)
                times = best[name]
                for i in range(len(w)):
                    began = clock()
                    result = call(i)
                    elapsed = clock() - began
                    del result
                    times[i] = min(times[i], elapsed / 1e3)
    finally:
        gc.enable()
    generated = [_native.shortest_path(native_mesh, s[i], sp[i], t[i], tp[i])[2] for i in range(len(w))]
    totals = {name: sum(times) for name, times in best.items()}
    return {
        "mean_us": {name: total / len(w) for name, total in totals.items()},
        "shortest_over_straight": totals["shortest_path"] / totals["straight_path"],
        "nodes_generated": {"mean": float(np.mean(generated)), "median": float(np.median(generated)),
                            "max": int(np.max(generated))},
    }


def excess(w: Workload) -> Dict[str, float]:
    mesh = w.mesh
    shortest = mesh.shortest_paths(w.starts, w.targets, threads=1)
    straight = mesh.find_paths(w.starts, w.targets, straight=True, threads=1)
    reached = shortest.reached & straight.reached
    straight_lengths = polyline_lengths(straight)[reached]
    optimal = shortest.lengths[reached]
    ratio = np.where(optimal > 0, straight_lengths / np.maximum(optimal, 1e-300), 1.0) - 1.0
    return {"queries": int(reached.sum()), "mean": float(ratio.mean()), "p95": float(np.percentile(ratio, 95)),
            "worst": float(ratio.max()), "within_1e-6": float(np.mean(ratio <= 1e-6)),
            "shorter_than_optimal": int(np.sum(ratio < -1e-6))}


def time_batches(w: Workload, rounds: int, count: int) -> Dict[str, float]:
    index = np.resize(np.arange(len(w)), count)
    starts, targets = w.starts[index], w.targets[index]
    seconds = {1: math.inf, 2: math.inf}
    for _ in range(rounds):
        for threads in seconds:
            gc.collect()
            began = time.perf_counter()
            w.mesh.shortest_paths(starts, targets, threads=threads)
            seconds[threads] = min(seconds[threads], time.perf_counter() - began)
    return {"queries": count, "seconds_1": seconds[1], "seconds_2": seconds[2],
            "two_thread_speedup": seconds[1] / seconds[2]}


def run(meshes: Path, quick: bool, rounds: int) -> Dict[str, dict]:
    workloads = {
        "aurora": scenario_workload(meshes, "aurora", quick),
        "arena": scenario_workload(meshes, "arena", quick),
        "Berlin": random_workload(meshes, "Berlin_0_1024", 100 if quick else 1000),
    }
    report = {}
    for name, w in workloads.items():
        entry = {"queries": len(w), **time_queries(w, rounds), "excess": excess(w)}
        report[name] = entry
    aurora = workloads["aurora"]
    report["aurora"]["batch"] = time_batches(aurora, rounds, 1_000 if quick else max(BATCH_QUERIES, len(aurora)))
    return report


def print_report(report: Dict[str, dict], quick: bool) -> None:
    print(f"exact shortest paths beside straight paths{' (quick)' if quick else ''}")
    print("| mesh | queries | shortest_path us | straight_path us | ratio | nodes generated (mean / median / max) |")
    print("|---|---|---|---|---|---|")
    for name, r in report.items():
        g = r["nodes_generated"]
        print(f"| {name} | {r['queries']} | {r['mean_us']['shortest_path']:.1f} | {r['mean_us']['straight_path']:.1f} "
              f"| {r['shortest_over_straight']:.3f} | {g['mean']:.0f} / {g['median']:.0f} / {g['max']} |")
    print()
    print("| mesh | queries | mean excess | 95th percentile | worst | within 1e-6 | straight shorter |")
    print("|---|---|---|---|---|---|---|")
    for name, r in report.items():
        e = r["excess"]
        print(f"| {name} | {e['queries']} | {e['mean']:.2%} | {e['p95']:.2%} | {e['worst']:.2%} "
              f"| {e['within_1e-6']:.0%} | {e['shorter_than_optimal']} |")
    print()
    ratio = report["aurora"]["shortest_over_straight"]
    print(f"aurora: shortest_path / straight_path per query {ratio:.3f} "
          f"(target at most {SPEED_LIMIT}: {'met' if ratio <= SPEED_LIMIT else 'NOT met'})")
    b = report["aurora"]["batch"]
    print(f"aurora: shortest_paths of {b['queries']} queries, {b['seconds_1']:.3f} s on 1 thread, "
          f"{b['seconds_2']:.3f} s on 2: {b['two_thread_speedup']:.2f}x (target at least "
          f"{TWO_THREAD_SPEEDUP_MINIMUM}x: {'met' if b['two_thread_speedup'] >= TWO_THREAD_SPEEDUP_MINIMUM else 'NOT met'})")


def main(argv: List[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a sample of the queries, 1 round")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--meshes", type=Path, default=Path(__file__).resolve().parents[1] / ".." / "shared" / "navmeshes")
    args = parser.parse_args(argv)
    report = run(args.meshes, args.quick, 1 if args.quick else args.rounds)
    print_report(report, args.quick)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
