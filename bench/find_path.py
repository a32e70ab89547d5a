"""Times walkmesh.find_path from Python on the shared workloads: every located
scenario of aurora.scen, and 1,000 splitmix64 node pairs on Berlin.

    python bench/find_path.py [SHARED_NAVMESHES_DIR]
"""
import statistics
import sys
import time
from pathlib import Path

import walkmesh
import walkmesh_tools as tools
import workloads

ROUNDS = 5


def run(label, nodes, edges, queries):
    calls = [(q.start, q.target, walkmesh.Point(*q.target_point)) for q in queries]
    rounds = []
    points = 0
    for _ in range(ROUNDS):
        began = time.perf_counter()
        points = sum(len(walkmesh.find_path(nodes, edges, s, t, p)) for s, t, p in calls)
        rounds.append(time.perf_counter() - began)
    best = min(rounds)
    print(f"{label}: {len(calls)} queries, {points} points; per query best {best / len(calls) * 1e6:.1f} us, "
          f"median {statistics.median(rounds) / len(calls) * 1e6:.1f} us over {ROUNDS} rounds")


def main(argv):
    root = Path(argv[0]) if argv else Path(__file__).resolve().parent.parent.parent / "shared" / "navmeshes"
    if not (root / "aurora.mesh").exists():
        sys.exit(f"no navigation meshes in {root}")
    began = time.perf_counter()
    aurora = tools.NavMesh.load(root / "aurora.mesh")
    queries = workloads.scenario_queries(aurora, workloads.load_scenarios(root / "aurora.scen"))
    print(f"aurora: tables and {len(queries)} located queries in {time.perf_counter() - began:.2f} s")
    run("aurora", aurora.nodes, aurora.edges, queries)
    berlin = tools.NavMesh.load(root / "Berlin_0_1024.mesh")
    run("Berlin", berlin.nodes, berlin.edges, workloads.random_node_queries(berlin.nodes))


if __name__ == "__main__":
    main(sys.argv[1:])
