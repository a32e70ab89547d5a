"""walkmesh.find_path side by side with what a Python user would pick instead, on
real meshes: aurora.mesh with its scenario workload and Berlin_0_1024.mesh with
random node pairs (bench/workloads.py, fixed seed); then the companion's
corridor, straight paths and batches beside find_path (bench/companion.py).

    python bench/compare.py [--quick] [--only NAME] [--meshes DIR] [--rounds N] [--harness PATH] [--out DIR]

Builds the tables and each peer's graph once, times every tool per query (the
search core without Python through the replay harness, the rest in this process),
checks that every tool finds a path of the same cost for every query it runs,
measures what one call allocates and what a call costs besides the search, then
prints a table and writes compare.json and compare.png under bench/out/. Exits 1
when any tool disagrees on a cost, 0 otherwise: the timing targets are reported,
never enforced (machines are shared and noisy).
"""
from __future__ import annotations

import argparse
import gc
import json
import math
import platform
import shutil
import statistics
import subprocess
import sys
import time
import timeit
import tracemalloc
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Dict, List, Optional, Tuple

import numpy as np

import walkmesh
import walkmesh_tools as tools

import companion
import peers
import workloads

ROOT = Path(__file__).resolve().parent.parent
HARNESS_TARGET = "walkmesh_core_replay"

# Targets of the aurora workload, measured as ratios of total time over the same queries.
FIND_PATH_OVER_CORE_LIMIT = 1.10
PEER_OVER_FIND_PATH_MINIMUM = 5.0


@dataclass
class Tool:
    key: str
    label: str
    # Every stride-th query of the workload is run; the full and the quick run differ.
    stride: int
    stride_quick: int


TOOLS = [
    Tool("find_path", "walkmesh.find_path", 1, 1),
    Tool("core", "C++ core, no Python", 1, 1),
    Tool("scipy", "scipy dijkstra", 1, 1),
    Tool("scipy_limit", "scipy dijkstra, limit=cost (oracle)", 1, 1),
    Tool("networkx", "networkx astar_path", 8, 1),
    Tool("rustworkx", "rustworkx astar", 2, 1),
    Tool("igraph", "igraph astar", 2, 1),
]
PEER_KEYS = ["scipy", "scipy_limit", "networkx", "rustworkx", "igraph"]


@dataclass
class Case:
    name: str
    nodes: np.ndarray
    edges: np.ndarray
    queries: List[workloads.Query]
    graph: peers.Graph = None
    # Per tool: query index -> microseconds of each round.
    times: Dict[str, Dict[int, List[float]]] = field(default_factory=dict)
    # Query index -> cost of find_path's route, None when it found no path.
    costs: Dict[int, Optional[int]] = field(default_factory=dict)
    mismatches: List[str] = field(default_factory=list)
    checked: Dict[str, int] = field(default_factory=dict)
    core: dict = field(default_factory=dict)


def find_meshes(given: Optional[str]) -> Path:
    if given:
        return Path(given)
    # ../shared/navmeshes beside the project, or the nearest shared/ further up.
    for directory in [ROOT.parent, *ROOT.parent.parents]:
        candidate = directory / "shared" / "navmeshes"
        if (candidate / "aurora.mesh").exists():
            return candidate
    sys.exit("compare.py: no ../shared/navmeshes with aurora.mesh; pass --meshes DIR")


def every(items: list, count: Optional[int]) -> List[int]:
    """Indices of `count` items spread evenly over the list (all when count is None)."""
    if count is None or count >= len(items):
        return list(range(len(items)))
    step = len(items) / count
    return [int(i * step) for i in range(count)]


def load_cases(meshes: Path, quick: bool, only: Optional[str] = None) -> List[Case]:
    per_case = 12 if quick else None
    cases = []
    if only in (None, "aurora"):
        aurora = tools.NavMesh.load(meshes / "aurora.mesh")
        queries = workloads.scenario_queries(aurora, workloads.load_scenarios(meshes / "aurora.scen"))
        cases.append(Case("aurora", aurora.nodes, aurora.edges, [queries[i] for i in every(queries, per_case)]))
    if only in (None, "Berlin_0_1024"):
        berlin = tools.NavMesh.load(meshes / "Berlin_0_1024.mesh")
        queries = workloads.random_node_queries(berlin.nodes)
        cases.append(Case("Berlin_0_1024", berlin.nodes, berlin.edges, [queries[i] for i in every(queries, per_case)]))
    for case in cases:
        case.graph = peers.Graph.from_tables(case.nodes, case.edges)
    return cases


# --- walkmesh.find_path -----------------------------------------------------------

class RouteReader:
    """Turns find_path's points back into nodes: from each node, the edge whose portal
    midpoint is the next point (midpoints computed as walkmesh does, in float32)."""

    def __init__(self, nodes: np.ndarray, edges: np.ndarray):
        half = np.float32(0.5)
        mid_x = ((edges["left"]["x"] + edges["right"]["x"]) * half).tolist()
        mid_y = ((edges["left"]["y"] + edges["right"]["y"]) * half).tolist()
        to = edges["to"].tolist()
        self.exits: List[Dict[Tuple[float, float], int]] = []
        for start, count in zip(nodes["edge_start"].tolist(), nodes["edge_count"].tolist()):
            exits: Dict[Tuple[float, float], int] = {}
            for k in range(start, start + count):
                exits.setdefault((mid_x[k], mid_y[k]), to[k])
            self.exits.append(exits)

    def node_path(self, start: int, points: list) -> Optional[List[int]]:
        path = [start]
        for point in points[:-1]:
            following = self.exits[path[-1]].get((point.x, point.y))
            if following is None:
                return None
            path.append(following)
        return path


def check_find_path(case: Case, index: int, points: list, reader: RouteReader) -> None:
    query = case.queries[index]
    if len(points) == 1 and query.start != query.target:
        case.costs[index] = None
        return
    path = reader.node_path(query.start, points)
    if path is None or path[-1] != query.target:
        case.mismatches.append(f"{case.name} query {index}: find_path's points do not follow edges to the target")
        case.costs[index] = -1
        return
    case.costs[index] = case.graph.path_cost(path)


def time_find_path(case: Case, check: bool) -> None:
    """One round over the workload. Each result is checked and freed off the clock,
    at once: results kept alive would spread the allocator's heap, and the search's
    tables would then keep landing on fresh pages."""
    calls = [(q.start, q.target, walkmesh.Point(*q.target_point)) for q in case.queries]
    find_path, nodes, edges = walkmesh.find_path, case.nodes, case.edges
    reader = RouteReader(case.nodes, case.edges) if check else None
    times = case.times.setdefault("find_path", {})
    clock = time.thread_time_ns
    # Untimed: the tables come back into the caches that the previous tool emptied.
    find_path(nodes, edges, *calls[0])
    gc.disable()
    for index, (start, target, point) in enumerate(calls):
        began = clock()
        points = find_path(nodes, edges, start, target, point)
        ended = clock()
        times.setdefault(index, []).append((ended - began) / 1e3)
        if reader is not None:
            check_find_path(case, index, points, reader)
        del points
    gc.enable()
    if check:
        case.checked["find_path"] = len(calls)


# --- the search core without Python ------------------------------------------------

def tool_path(name: str) -> Optional[str]:
    """`name` from this interpreter's environment first, then from PATH."""
    beside = Path(sys.executable).parent / name
    return str(beside) if beside.exists() else shutil.which(name)


def build_harness(build_dir: Path) -> Path:
    cmake = tool_path("cmake")
    if cmake is None:
        sys.exit("compare.py: cmake is needed to build the replay harness (pip install -r bench/requirements.txt)")
    if not (build_dir / "CMakeCache.txt").exists():
        ninja = tool_path("ninja")
        generator = ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}"] if ninja else []
        subprocess.run([cmake, "-S", str(ROOT), "-B", str(build_dir), *generator, "-DCMAKE_BUILD_TYPE=Release",
                        "-DWALKMESH_BUILD_MODULE=OFF", "-DWALKMESH_BUILD_BENCH=ON"],
                       check=True, stdout=subprocess.DEVNULL)
    subprocess.run([cmake, "--build", str(build_dir), "--target", HARNESS_TARGET], check=True,
                   stdout=subprocess.DEVNULL)
    return build_dir / "bench" / HARNESS_TARGET


def write_workload(case: Case, path: Path) -> None:
    pairs = np.array([(q.start, q.target) for q in case.queries], dtype=np.uint32)
    with open(path, "wb") as out:
        out.write(b"WMREPLAY")
        out.write(np.array([len(case.nodes), len(case.edges), len(pairs)], dtype=np.uint64).tobytes())
        out.write(np.ascontiguousarray(case.nodes).tobytes())
        out.write(np.ascontiguousarray(case.edges).tobytes())
        out.write(pairs.tobytes())


def run_harness(harness: Path, workload: Path, *options: str) -> dict:
    completed = subprocess.run([str(harness), str(workload), *options], check=True, capture_output=True, text=True)
    return json.loads(completed.stdout)


def check_core(case: Case, checks: List[list]) -> None:
    for index, (reached, target_cost, route_cost, _, _) in enumerate(checks):
        expected = case.costs.get(index)
        if expected is None and not reached and case.queries[index].start != case.queries[index].target:
            continue
        if not reached or expected != target_cost or expected != route_cost:
            case.mismatches.append(f"{case.name} query {index}: core reached={reached} best cost {target_cost}, "
                                   f"route cost {route_cost}; find_path {expected}")
    case.checked["core"] = len(checks)
    case.core["expansions"] = statistics.mean(check[3] for check in checks)


def time_core(case: Case, harness: Path, workload: Path, first_round: bool) -> None:
    report = run_harness(harness, workload, "--rounds", "1", *(["--check"] if first_round else []))
    if first_round:
        check_core(case, report["checks"])
    times = case.times.setdefault("core", {})
    for index, rounds in enumerate(report["microseconds"]):
        times.setdefault(index, []).extend(rounds)


def measure_core_memory(case: Case, harness: Path, workload: Path) -> dict:
    rows = run_harness(harness, workload, "--memory")["memory"]
    n = len(case.nodes)
    columns = list(zip(*rows))

    def per_node(column: int) -> Dict[str, float]:
        values = columns[column]
        return {"mean": statistics.mean(values) / n, "max": max(values) / n}

    return {
        "allocations_per_call": statistics.mean(r[0] + r[2] for r in rows),
        "tables_bytes_per_node": per_node(1),
        "growth_bytes_per_node": per_node(3),
        "queue_capacity_bytes_per_node": per_node(4),
        "peak_live_bytes_per_node": per_node(5),
    }


# --- the peers ----------------------------------------------------------------------

def peer_paths(case: Case) -> Dict[str, Callable[[int, int], peers.NodePath]]:
    known = {(q.start, q.target): case.costs.get(i) for i, q in enumerate(case.queries)
             if case.costs.get(i) is not None}
    return {
        "scipy": peers.scipy_dijkstra(case.graph),
        "scipy_limit": peers.scipy_dijkstra_known_limit(case.graph, known),
        "networkx": peers.networkx_astar(case.graph),
        "rustworkx": peers.rustworkx_astar(case.graph),
        "igraph": peers.igraph_astar(case.graph),
    }


def time_peer(case: Case, key: str, path_of: Callable[[int, int], peers.NodePath], stride: int,
              check: bool) -> None:
    times = case.times.setdefault(key, {})
    clock = time.thread_time_ns
    checked = 0
    # Untimed, as for find_path: the peer's graph comes back into the caches.
    path_of(case.queries[0].start, case.queries[0].target)
    for index in range(0, len(case.queries), stride):
        query = case.queries[index]
        gc.disable()
        began = clock()
        path = path_of(query.start, query.target)
        ended = clock()
        gc.enable()
        times.setdefault(index, []).append((ended - began) / 1e3)
        if not check:
            continue
        cost = None if path is None else case.graph.path_cost(path)
        valid = path is None or (path[0] == query.start and path[-1] == query.target)
        if not valid or cost != case.costs.get(index):
            case.mismatches.append(f"{case.name} query {index}: {key} cost {cost}, find_path {case.costs.get(index)}")
        checked += 1
    if check:
        case.checked[key] = checked


# --- per-call overhead and the result list ------------------------------------------

def two_node_tables() -> Tuple[np.ndarray, np.ndarray]:
    nodes = np.zeros(2, dtype=tools.NODE_DTYPE)
    edges = np.zeros(1, dtype=tools.EDGE_DTYPE)
    nodes["edge_start"] = [0, 1]
    nodes["edge_count"] = [1, 0]
    nodes["centroid"]["x"] = [0.0, 1.0]
    edges[0] = (1, 1, (0.5, 0.0), (0.5, 1.0), 0)
    return nodes, edges


def build_record_dtypes() -> None:
    """The two record dtypes, built as find_path builds them on every call: each
    with fresh Point sub-dtypes."""
    np.dtype([("centroid", np.dtype([("x", "=f4"), ("y", "=f4")])), ("edge_start", "=u4"), ("edge_count", "=u4")])
    np.dtype([("to", "=u4"), ("cost", "=u4"), ("left", np.dtype([("x", "=f4"), ("y", "=f4")])),
              ("right", np.dtype([("x", "=f4"), ("y", "=f4")])), ("padding", "=u4")])


def best_microseconds(body: Callable[[], object], quick: bool) -> float:
    number, repeat = (2000, 3) if quick else (20000, 9)
    return min(timeit.repeat(body, number=number, repeat=repeat, timer=time.thread_time)) / number * 1e6


def measure_overhead(quick: bool) -> dict:
    nodes, edges = two_node_tables()
    point = walkmesh.Point(1.0, 0.5)
    find_path = walkmesh.find_path
    call = best_microseconds(lambda: find_path(nodes, edges, 0, 1, point), quick)
    dtypes = best_microseconds(build_record_dtypes, quick)
    return {"two_node_call_us": call, "record_dtypes_us": dtypes, "ratio": call / dtypes}


def measure_result_list(case: Case) -> dict:
    """Python heap taken by find_path's result list per point, on the longest route."""
    index = max(range(len(case.queries)), key=lambda i: case.costs.get(i) or 0)
    query = case.queries[index]
    point = walkmesh.Point(*query.target_point)
    walkmesh.find_path(case.nodes, case.edges, query.start, query.target, point)
    tracemalloc.start()
    before = tracemalloc.take_snapshot()
    points = walkmesh.find_path(case.nodes, case.edges, query.start, query.target, point)
    grown = sum(stat.size_diff for stat in tracemalloc.take_snapshot().compare_to(before, "filename"))
    tracemalloc.stop()
    return {"points": len(points), "bytes_per_point": grown / len(points)}


# --- figures ------------------------------------------------------------------------

def fastest(rounds: List[float]) -> float:
    return min(rounds)


def summarise(case: Case) -> Dict[str, dict]:
    base = {i: fastest(r) for i, r in case.times["find_path"].items()}
    rows = {}
    for tool in TOOLS:
        times = case.times.get(tool.key)
        if not times:
            continue
        per_query = {i: fastest(r) for i, r in times.items()}
        values = sorted(per_query.values())
        total = sum(per_query.values())
        deciles = statistics.quantiles(values, n=10) if len(values) > 1 else [values[0]] * 9
        rows[tool.key] = {
            "label": tool.label,
            "queries": len(values),
            "median_us": statistics.median(values),
            "p10_us": deciles[0],
            "p90_us": deciles[-1],
            "mean_us": total / len(values),
            "ratio_to_find_path": total / sum(base[i] for i in per_query),
            "checked": case.checked.get(tool.key, 0),
        }
    return rows


def outside_search(case: Case, harness: Path, out: Path, overhead: dict, repeats: int) -> dict:
    """How much of an aurora query find_path spends outside the search. The query of
    median time is run `repeats` times from Python and in the harness, the fastest of
    each compared; the workload figure compares the per-query times of the rounds."""
    fp = {i: fastest(r) for i, r in case.times["find_path"].items()}
    core = {i: fastest(r) for i, r in case.times["core"].items()}
    median = statistics.median(fp.values())
    typical = min(fp, key=lambda i: abs(fp[i] - median))
    query = case.queries[typical]
    single = Case(case.name, case.nodes, case.edges, [query])
    workload = out / f"{case.name}.typical.workload"
    write_workload(single, workload)
    core_us = min(run_harness(harness, workload, "--rounds", str(repeats))["microseconds"][0])
    point = walkmesh.Point(*query.target_point)
    find_path, clock = walkmesh.find_path, time.thread_time_ns
    python_us = math.inf
    for _ in range(repeats):
        began = clock()
        points = find_path(case.nodes, case.edges, query.start, query.target, point)
        python_us = min(python_us, (clock() - began) / 1e3)
        # Freed outside the clock, as in the rounds.
        del points
    return {
        "typical_query": typical,
        "typical_find_path_us": python_us,
        "typical_core_us": core_us,
        "typical_share": (python_us - core_us) / python_us,
        "workload_share": (sum(fp.values()) - sum(core.values())) / sum(fp.values()),
        "two_node_call_share_of_median": overhead["two_node_call_us"] / median,
    }


def print_table(case: Case, rows: Dict[str, dict], memory: dict) -> None:
    peak = memory["peak_live_bytes_per_node"]["mean"]
    print(f"\n{case.name}: {len(case.nodes)} nodes, {len(case.edges)} edges, {len(case.queries)} queries, "
          f"{sum(c is None for c in case.costs.values())} without a path, "
          f"{case.core['expansions']:.0f} expansions per query")
    header = f"  {'tool':38} {'queries':>7} {'median us':>11} {'p10-p90 us':>19} {'mean us':>10} {'x find_path':>11} {'B/node':>7}"
    print(header)
    for key, row in rows.items():
        spread = f"{row['p10_us']:.0f}-{row['p90_us']:.0f}"
        memory_cell = f"{peak:.1f}" if key in ("find_path", "core") else "-"
        print(f"  {row['label']:38} {row['queries']:7d} {row['median_us']:11.1f} {spread:>19} "
              f"{row['mean_us']:10.1f} {row['ratio_to_find_path']:10.2f}x {memory_cell:>7}")


def print_memory(case: Case, memory: dict, result_list: dict) -> None:
    tables = memory["tables_bytes_per_node"]["mean"]
    queue = memory["queue_capacity_bytes_per_node"]
    growth = memory["growth_bytes_per_node"]["mean"]
    peak = memory["peak_live_bytes_per_node"]
    print(f"  memory per call ({case.name}, counting allocator): tables {tables:.1f} B/node; open queue at its "
          f"largest {queue['mean']:.2f} B/node (max {queue['max']:.2f}); growths ask {growth:.2f} B/node in all; "
          f"peak held {peak['mean']:.1f} B/node (max {peak['max']:.1f}); "
          f"{memory['allocations_per_call']:.1f} allocations per call; result list "
          f"{result_list['bytes_per_point']:.0f} B/point")


def print_targets(rows: Dict[str, dict], quick: bool) -> dict:
    core_ratio = 1 / rows["core"]["ratio_to_find_path"]
    real_peers = [k for k in PEER_KEYS if k in rows and k != "scipy_limit"]
    slowest_ok = min(rows[k]["ratio_to_find_path"] for k in real_peers)
    verdict = {
        "find_path_over_core": core_ratio,
        "find_path_over_core_met": core_ratio <= FIND_PATH_OVER_CORE_LIMIT,
        "closest_peer": min(real_peers, key=lambda k: rows[k]["ratio_to_find_path"]),
        "closest_peer_ratio": slowest_ok,
        "peers_met": slowest_ok >= PEER_OVER_FIND_PATH_MINIMUM,
    }
    print(f"  target find_path / core <= {FIND_PATH_OVER_CORE_LIMIT:.2f}: {core_ratio:.3f} "
          f"{'met' if verdict['find_path_over_core_met'] else 'NOT met'}")
    print(f"  target every peer >= {PEER_OVER_FIND_PATH_MINIMUM:.0f}x find_path: closest "
          f"{rows[verdict['closest_peer']]['label']} at {slowest_ok:.2f}x "
          f"{'met' if verdict['peers_met'] else 'NOT met'}")
    if "scipy_limit" in rows:
        print(f"  (scipy given the answer's cost as its limit: {rows['scipy_limit']['ratio_to_find_path']:.2f}x)")
    if quick:
        print("  (a quick run times 12 queries: its ratios swing with the machine's load; the full run decides)")
    return verdict


def draw_chart(results: Dict[str, Dict[str, dict]], path: Path) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(1, len(results), figsize=(6.5 * len(results), 4.2))
    for axis, (name, rows) in zip(np.atleast_1d(axes), results.items()):
        labels = [row["label"] for row in rows.values()]
        medians = [row["median_us"] for row in rows.values()]
        colours = ["#1f77b4" if key in ("find_path", "core") else "#999999" for key in rows]
        bars = axis.barh(labels[::-1], medians[::-1], color=colours[::-1])
        axis.set_xscale("log")
        axis.set_xlabel("median microseconds per query (log scale)")
        axis.set_title(name)
        for bar, row in zip(bars, list(rows.values())[::-1]):
            axis.text(bar.get_width() * 1.05, bar.get_y() + bar.get_height() / 2,
                      f"{row['ratio_to_find_path']:.2f}x", va="center", fontsize=8)
        axis.set_xlim(min(medians) / 3, max(medians) * 6)
    figure.suptitle("Time per path query; labels: total time relative to walkmesh.find_path")
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)


def main(argv: List[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="12 queries per mesh, fewer repeats (for CI)")
    parser.add_argument("--meshes", help="directory of aurora.mesh, aurora.scen and Berlin_0_1024.mesh")
    parser.add_argument("--rounds", type=int, help="rounds of every tool over its queries (default 3)")
    parser.add_argument("--harness", help="a built walkmesh_core_replay (default: build it under build/)")
    parser.add_argument("--only", choices=["aurora", "Berlin_0_1024"], help="run one workload")
    parser.add_argument("--out", default=str(ROOT / "bench" / "out"), help="where the JSON and PNG go")
    args = parser.parse_args(argv)
    rounds = args.rounds or 3
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    began = time.perf_counter()

    meshes = find_meshes(args.meshes)
    harness = Path(args.harness) if args.harness else build_harness(ROOT / "build" / "bench-compare")
    cases = load_cases(meshes, args.quick, args.only)
    print(f"walkmesh.find_path against its peers, {'quick' if args.quick else 'full'} run, "
          f"per query the fastest of {rounds} round(s) of each tool, in thread CPU time")
    print(f"meshes {meshes}; Python {platform.python_version()}; "
          + ", ".join(f"{k} {v}" for k, v in peers.versions().items()))

    results: Dict[str, Dict[str, dict]] = {}
    report = {"quick": args.quick, "rounds": rounds, "versions": peers.versions(), "cases": {}}
    overhead = measure_overhead(args.quick)
    for case in cases:
        workload = out / f"{case.name}.workload"
        write_workload(case, workload)
        paths = {}
        # Every tool runs once per round, so that a busy spell of the machine
        # touches them all alike; each query keeps its fastest round.
        for round_ in range(rounds):
            time_find_path(case, check=round_ == 0)
            time_core(case, harness, workload, round_ == 0)
            # The oracle limit needs find_path's costs, known after the first round.
            paths = paths or peer_paths(case)
            for key, path_of in paths.items():
                tool = next(t for t in TOOLS if t.key == key)
                time_peer(case, key, path_of, tool.stride_quick if args.quick else tool.stride, round_ == 0)
        memory = measure_core_memory(case, harness, workload)
        result_list = measure_result_list(case)
        rows = summarise(case)
        results[case.name] = rows
        print_table(case, rows, memory)
        print_memory(case, memory, result_list)
        entry = {"nodes": len(case.nodes), "edges": len(case.edges), "queries": len(case.queries),
                 "expansions_per_query": case.core["expansions"], "tools": rows, "memory": memory,
                 "result_list": result_list, "mismatches": case.mismatches}
        if case.name == "aurora":
            entry["targets"] = print_targets(rows, args.quick)
            entry["outside_search"] = outside_search(case, harness, out, overhead, 20 if args.quick else 200)
        report["cases"][case.name] = entry

    print(f"\nper-call overhead: find_path on a 2-node graph {overhead['two_node_call_us']:.2f} us; building the "
          f"Node and Edge record dtypes with numpy.dtype {overhead['record_dtypes_us']:.2f} us; "
          f"ratio {overhead['ratio']:.2f}")
    share = report["cases"].get("aurora", {}).get("outside_search")
    if share:
        print(f"outside the search on aurora: typical query {share['typical_query']} "
              f"(fastest of repeats: {share['typical_find_path_us']:.0f} us from Python, "
              f"{share['typical_core_us']:.0f} us core) "
              f"{share['typical_share'] * 100:.2f}%; whole workload {share['workload_share'] * 100:.2f}%; "
              f"the 2-node call is {share['two_node_call_share_of_median'] * 100:.2f}% of the median query")
    report["overhead"] = overhead
    if args.only in (None, "aurora"):
        report["companion"] = companion.run(meshes, args.quick, rounds)
    mismatches = [m for case in cases for m in case.mismatches]
    for line in mismatches[:20]:
        print("MISMATCH " + line)
    checked = sum(sum(case.checked.values()) for case in cases)
    print(f"cost check: {checked} tool-query pairs, {len(mismatches)} mismatches")

    (out / "compare.json").write_text(json.dumps(report, indent=1))
    draw_chart(results, out / "compare.png")
    print(f"wrote {out / 'compare.json'} and {out / 'compare.png'} in {time.perf_counter() - began:.0f} s")
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
