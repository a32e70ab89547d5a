"""Soak: many find_path calls that mix paths on a real mesh with every failure kind
(tests/outcomes.py) give the right outcome every time, leave the reference count of
every argument unchanged, and keep memory flat. WALKMESH_SOAK_CALLS sets the number of
calls; CI runs 100,000."""
import gc
import os
import sys
import tracemalloc

from outcomes import Outcomes, call

CALLS = int(os.environ.get("WALKMESH_SOAK_CALLS", "4000"))
# Growth over the second half of the run, once caches and free lists have settled: a
# steady leak shows in both halves, noise only in the first.
TRACED_GROWTH_LIMIT = 64 * 1024
RSS_GROWTH_LIMIT = 1024 * 1024


def watched_objects(cases):
    """Every argument object whose count only a leak could change (not small ints,
    None, booleans or interned names)."""
    objects = {}
    for _, args, kwargs, _ in cases:
        for value in (*args, *kwargs.values()):
            shared = value is None or isinstance(value, (bool, str)) or (type(value) is int and -5 <= value <= 256)
            if not shared:
                objects[id(value)] = value
    return list(objects.values())


def rss_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def under_memory_tool():
    # ASan's quarantine and valgrind's allocator hold freed memory; their own leak
    # checks take the place of the RSS check there.
    with open("/proc/self/maps") as maps:
        text = maps.read()
    return "libasan" in text or "vgpreload" in text


def run(cases, calls, problems):
    for i in range(calls):
        problem = call(cases[i % len(cases)])
        if problem and len(problems) < 10:
            problems.append(problem)


def test_soak_every_outcome():
    outcomes = Outcomes()
    try:
        cases = outcomes.cases
        watched = watched_objects(cases)
        counts = [sys.getrefcount(value) for value in watched]
        problems = []
        warm_up = max(len(cases) * 4, CALLS // 10)
        half = (CALLS - warm_up) // 2
        run(cases, warm_up, problems)
        tracemalloc.start()
        traced, rss = [], []
        for calls in (0, half, CALLS - warm_up - half):
            run(cases, calls, problems)
            gc.collect()
            traced.append(tracemalloc.get_traced_memory()[0])
            rss.append(rss_bytes())
        tracemalloc.stop()
        traced_growth, rss_growth = traced[2] - traced[1], rss[2] - rss[1]
        print(f"soak: {CALLS} calls over {len(cases)} cases; over the second half traced memory grew "
              f"{traced_growth} B and RSS {rss_growth} B (first half: {traced[1] - traced[0]} B, "
              f"{rss[1] - rss[0]} B)", file=sys.__stdout__)
        assert problems == []
        assert [sys.getrefcount(value) for value in watched] == counts
        assert traced_growth < TRACED_GROWTH_LIMIT
        if not under_memory_tool():
            assert rss_growth < RSS_GROWTH_LIMIT
    finally:
        outcomes.close()
