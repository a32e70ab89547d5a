"""The companion's routes and batches beside walkmesh.find_path, on the aurora
scenarios (bench/compare.py runs this after the peers; `python bench/companion.py
[--quick]` runs it alone).

- corridor and straight_path against find_path, per query, in interleaved rounds of
  thread CPU time (targets: corridor at most 1.0x, straight_path at most 1.05x), and
  the mean length of the straight paths against the midpoint paths and against the
  scenario file's grid optimum;
- the scenarios repeated to at least 10,000 queries: a loop of find_path against
  find_paths(threads=1) (target at most 0.95x), threads=2 against threads=1 (target at
  least 1.8x the throughput), the cost of a one-node query inside a batch (target at
  most 1 us) and what each worker holds per node; and, when Dask distributed is
  installed, the same batch on a local cluster of two worker processes.
"""
from __future__ import annotations

import argparse
import gc
import math
import statistics
import sys
import time
from pathlib import Path
from typing import Dict, List, Optional

import numpy as np

import walkmesh
import walkmesh_tools as tools
from walkmesh_tools import _native

CORRIDOR_LIMIT = 1.0
STRAIGHT_LIMIT = 1.05
BATCH_OVER_LOOP_LIMIT = 0.95
TWO_THREAD_SPEEDUP_MINIMUM = 1.8
ONE_NODE_QUERY_LIMIT_US = 1.0
BATCH_QUERIES = 10_000


class Scenarios:
    """The located aurora scenarios with their grid optimum."""

    def __init__(self, meshes: Path, quick: bool):
        mesh = tools.NavMesh.load(meshes / "aurora.mesh")
        self.nodes, self.edges = mesh.nodes, mesh.edges
        rows = []
        for line in (meshes / "aurora.scen").read_text().splitlines()[1:]:
            fields = line.split()
            if len(fields) < 9:
                continue
            start_point = (float(fields[4]), float(fields[5]))
            target_point = (float(fields[6]), float(fields[7]))
            start, target = mesh.locate(start_point), mesh.locate(target_point)
            if start >= 0 and target >= 0:
                rows.append((start, target, start_point, target_point, float(fields[8])))
        if quick:
            rows = rows[::max(1, len(rows) // 60)]
        self.starts = np.array([r[0] for r in rows], np.int64)
        self.targets = np.array([r[1] for r in rows], np.int64)
        self.start_points = np.float32([r[2] for r in rows])
        self.target_points = np.float32([r[3] for r in rows])
        self.optimal = np.array([r[4] for r in rows])

    def __len__(self) -> int:
        return len(self.starts)


def polyline_length(points: np.ndarray) -> float:
    return float(np.hypot(*np.diff(points.astype(np.float64), axis=0).T).sum())


def time_routes(s: Scenarios, rounds: int) -> Dict[str, List[float]]:
    """Per query the fastest round of each call, in microseconds of thread time."""
    nodes, edges = s.nodes, s.edges
    calls = {
        "find_path": lambda i, p: walkmesh.find_path(nodes, edges, s.starts[i], s.targets[i], p),
        "corridor": lambda i, p: tools.corridor(nodes, edges, s.starts[i], s.targets[i]),
        "straight_path": lambda i, p: tools.straight_path(nodes, edges, s.starts[i], s.targets[i],
                                                          s.start_points[i], s.target_points[i]),
    }
    starts, targets = s.starts.tolist(), s.targets.tolist()
    s.starts, s.targets = starts, targets  # plain ints, as a caller would pass them
    points = [walkmesh.Point(*p) for p in s.target_points.tolist()]
    best = {name: [math.inf] * len(s) for name in calls}
    clock = time.thread_time_ns
    gc.disable()
    try:
        for _ in range(rounds):
            for name, call in calls.items():
                call(0, points[0])
                times = best[name]
                for i, point in enumerate(points):
                    began = clock()
                    result = call(i, point)
                    elapsed = clock() - began
                    del result
                    times[i] = min(times[i], elapsed / 1e3)
    finally:
        gc.enable()
        s.starts, s.targets = np.array(starts, np.int64), np.array(targets, np.int64)
    return best


def lengths(s: Scenarios) -> dict:
    batch = tools.find_paths(s.nodes, s.edges, s.starts, s.targets, s.target_points, threads=1)
    straight = tools.find_paths(s.nodes, s.edges, s.starts, s.targets, s.target_points,
                                start_points=s.start_points, straight=True, threads=1)
    midpoint = np.array([polyline_length(np.vstack([s.start_points[i], batch[i]])) for i in range(len(s))])
    taut = np.array([polyline_length(straight[i]) for i in range(len(s))])
    return {
        "straight_over_midpoint": taut.mean() / midpoint.mean(),
        "straight_over_optimal": taut.mean() / s.optimal.mean(),
        "midpoint_over_optimal": midpoint.mean() / s.optimal.mean(),
        "longest_straight_over_midpoint": float(np.max(taut / np.maximum(midpoint, 1e-9))),
    }


def repeated(s: Scenarios, count: int):
    index = np.resize(np.arange(len(s)), count)
    return s.starts[index], s.targets[index], s.target_points[index], s.start_points[index]


def best_seconds(body, rounds: int) -> float:
    best = math.inf
    for _ in range(rounds):
        gc.collect()
        gc.disable()
        began = time.perf_counter()
        body()
        best = min(best, time.perf_counter() - began)
        gc.enable()
    return best


def time_batches(s: Scenarios, rounds: int, count: int) -> dict:
    nodes, edges = s.nodes, s.edges
    starts, targets, target_points, _ = repeated(s, count)
    calls = list(zip(starts.tolist(), targets.tolist(), [walkmesh.Point(*p) for p in target_points.tolist()]))
    find_path = walkmesh.find_path

    def loop():
        for start, target, point in calls:
            find_path(nodes, edges, start, target, point)

    def batch(threads):
        return lambda: tools.find_paths(nodes, edges, starts, targets, target_points, threads=threads)

    timed = {"loop": [], "threads=1": [], "threads=2": []}
    # Interleaved, so that a busy spell of the machine touches them all alike.
    for _ in range(rounds):
        timed["loop"].append(best_seconds(loop, 1))
        timed["threads=1"].append(best_seconds(batch(1), 1))
        timed["threads=2"].append(best_seconds(batch(2), 1))
    best = {name: min(values) for name, values in timed.items()}

    same = np.resize(np.arange(len(nodes), dtype=np.int64), 100_000)
    one_node = best_seconds(lambda: tools.find_paths(nodes, edges, same, same, np.zeros((len(same), 2)),
                                                     threads=1), rounds)
    return {
        "queries": count,
        "seconds": best,
        "batch_over_loop": best["threads=1"] / best["loop"],
        "two_thread_speedup": best["threads=1"] / best["threads=2"],
        "one_node_query_us": one_node / len(same) * 1e6,
        "queries_per_second": {name: count / seconds for name, seconds in best.items()},
    }


def time_dask(s: Scenarios, count: int, local_qps: float) -> Optional[dict]:
    try:
        import distributed
    except ImportError:
        return None
    import walkmesh_tools.dask as tools_dask

    starts, targets, target_points, _ = repeated(s, count)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0",
                                  silence_logs=40) as cluster, distributed.Client(cluster) as client:
        local = tools.find_paths(s.nodes, s.edges, starts, targets, target_points, threads=2)
        seconds = []
        for _ in range(3):
            began = time.perf_counter()
            spread = tools_dask.find_paths(client, s.nodes, s.edges, starts, targets, target_points,
                                           chunk_size=2_000)
            seconds.append(time.perf_counter() - began)
        equal = spread == local
    return {"workers": 2, "chunk_size": 2_000, "seconds": min(seconds), "queries_per_second": count / min(seconds),
            "local_queries_per_second": local_qps, "equal_to_local": equal}


def run(meshes: Path, quick: bool, rounds: int) -> dict:
    s = Scenarios(meshes, quick)
    best = time_routes(s, rounds)
    totals = {name: sum(times) for name, times in best.items()}
    report = {
        "scenarios": len(s),
        "mean_us": {name: total / len(s) for name, total in totals.items()},
        "corridor_over_find_path": totals["corridor"] / totals["find_path"],
        "straight_path_over_find_path": totals["straight_path"] / totals["find_path"],
        "lengths": lengths(s),
    }
    count = 1_000 if quick else max(BATCH_QUERIES, len(s))
    report["batch"] = time_batches(s, rounds, count)
    report["batch"]["worker_bytes_per_node"] = _native.route_finder_bytes_per_node
    report["dask"] = None if quick else time_dask(s, count, report["batch"]["queries_per_second"]["threads=2"])
    print_report(report, quick)
    return report


def verdict(value: float, limit: float, at_most: bool = True) -> str:
    return "met" if (value <= limit if at_most else value >= limit) else "NOT met"


def print_report(r: dict, quick: bool) -> None:
    mean = r["mean_us"]
    print(f"\ncompanion on aurora: {r['scenarios']} scenarios, fastest of the rounds per query, thread CPU time")
    print(f"  find_path {mean['find_path']:.1f} us, corridor {mean['corridor']:.1f} us, "
          f"straight_path {mean['straight_path']:.1f} us per query")
    print(f"  target corridor <= {CORRIDOR_LIMIT:.2f}x find_path: {r['corridor_over_find_path']:.3f} "
          f"{verdict(r['corridor_over_find_path'], CORRIDOR_LIMIT)}")
    print(f"  target straight_path <= {STRAIGHT_LIMIT:.2f}x find_path: {r['straight_path_over_find_path']:.3f} "
          f"{verdict(r['straight_path_over_find_path'], STRAIGHT_LIMIT)}")
    lengths_ = r["lengths"]
    print(f"  mean length: straight / midpoint path {lengths_['straight_over_midpoint']:.4f}, straight / grid "
          f"optimum {lengths_['straight_over_optimal']:.4f}, midpoint / grid optimum "
          f"{lengths_['midpoint_over_optimal']:.4f}; longest straight / its midpoint path "
          f"{lengths_['longest_straight_over_midpoint']:.6f}")
    b = r["batch"]
    qps = b["queries_per_second"]
    print(f"  batch of {b['queries']} queries (wall time, best round): find_path loop {b['seconds']['loop']:.3f} s, "
          f"find_paths threads=1 {b['seconds']['threads=1']:.3f} s, threads=2 {b['seconds']['threads=2']:.3f} s "
          f"({qps['loop']:.0f}, {qps['threads=1']:.0f}, {qps['threads=2']:.0f} queries/s)")
    print(f"  target find_paths(threads=1) <= {BATCH_OVER_LOOP_LIMIT:.2f}x the loop: {b['batch_over_loop']:.3f} "
          f"{verdict(b['batch_over_loop'], BATCH_OVER_LOOP_LIMIT)}")
    print(f"  target threads=2 >= {TWO_THREAD_SPEEDUP_MINIMUM:.1f}x threads=1: {b['two_thread_speedup']:.3f} "
          f"{verdict(b['two_thread_speedup'], TWO_THREAD_SPEEDUP_MINIMUM, at_most=False)}")
    print(f"  target one-node query in a batch <= {ONE_NODE_QUERY_LIMIT_US:.1f} us: {b['one_node_query_us']:.3f} us "
          f"{verdict(b['one_node_query_us'], ONE_NODE_QUERY_LIMIT_US)}")
    print(f"  each worker holds {b['worker_bytes_per_node']} B per node for its tables, plus its open queue and "
          f"its points")
    d = r["dask"]
    if d is not None:
        print(f"  Dask, local cluster of {d['workers']} worker processes, chunks of {d['chunk_size']}: "
              f"{d['queries_per_second']:.0f} queries/s (local batch threads=2: {d['local_queries_per_second']:.0f}); "
              f"equal to the local result: {d['equal_to_local']}")
    if quick:
        print("  (a quick run: few queries, ratios swing with the machine's load; the full run decides)")


def main(argv: List[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--meshes", default=str(Path(__file__).resolve().parent.parent.parent / "shared" / "navmeshes"))
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args(argv)
    run(Path(args.meshes), args.quick, args.rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
