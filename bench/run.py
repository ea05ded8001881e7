"""Times quellon's casts against NumPy's and writes a table, JSON and a chart.

Usage: python bench/run.py [--quick] [--out bench/results]
"""
import argparse
import gc
import json
import os
import platform
import sys
import time
import tracemalloc

# NumPy's BLAS threads otherwise wait in spin loops on the other core, and
# nothing here uses BLAS.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(__file__))
from cases import CASES  # noqa: E402

import _quellon  # noqa: E402

SIZES = [1 << 10, 1 << 16, 1 << 20, 1 << 24]
LARGE = {1 << 20, 1 << 24}


def batch_size(fn, target_seconds):
    """Calls per batch so that a batch lasts about target_seconds."""
    fn()
    start = time.perf_counter()
    fn()
    once = max(time.perf_counter() - start, 1e-7)
    return max(1, int(target_seconds / once))


def best_times(fns, repeats, target_seconds=0.01):
    """Best time of one call of each fn. The batches take turns, so that a
    slow spell of the machine falls on every contender alike."""
    loops = [batch_size(fn, target_seconds) for fn in fns]
    best = [float("inf")] * len(fns)
    for _ in range(repeats):
        for k, fn in enumerate(fns):
            start = time.perf_counter()
            for _ in range(loops[k]):
                fn()
            best[k] = min(best[k], (time.perf_counter() - start) / loops[k])
    return best


def best_time(fn, repeats):
    return best_times([fn], repeats)[0]


def copy_bandwidth(repeats):
    """Bytes per second moved (read plus written) by a plain copy of a large buffer."""
    nbytes = 256 << 20
    src = np.ones(nbytes, np.uint8)
    dst = np.empty_like(src)
    t = best_time(lambda: np.copyto(dst, src), repeats)
    return 2 * nbytes / t


def quellon_alloc(case):
    kw = dict(target_dtype=case.target, rounding_mode=case.rounding, out_of_range_mode=case.out_of_range)
    return lambda a: _quellon.cast_array(a, **kw)


def quellon_into(case):
    kw = dict(rounding_mode=case.rounding, out_of_range_mode=case.out_of_range)
    return lambda a, out: _quellon.cast_array_into(a, out, **kw)


def check_agreement(case, a):
    """The benchmark compares like with like only if both give the same array."""
    if case.numpy_alloc is None or "unchecked" in case.name:
        return
    got = quellon_alloc(case)(a)
    want = case.numpy_alloc(a)
    if not np.array_equal(got, want, equal_nan=True):
        raise SystemExit(f"{case.name}: quellon and NumPy disagree; the comparison would be meaningless")


def peak_memory(fn):
    gc.collect()
    tracemalloc.start()
    tracemalloc.reset_peak()
    result = fn()
    _, peak = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    del result
    return peak


def run(sizes, repeats, rounds):
    """Every row is timed in each of `rounds` passes over all cases, keeping
    each contender's best, so that a slow spell of the machine cannot settle
    a row on its own."""
    rng = np.random.default_rng(2026)
    inputs = {(case.name, n): case.make_input(rng, n) for case in CASES for n in sizes}
    for case in CASES:
        check_agreement(case, inputs[(case.name, sizes[0])])
    best = {}
    for _ in range(rounds):
        for case in CASES:
            for n in sizes:
                a = inputs[(case.name, n)]
                out = np.empty(n, dtype=case.target)
                q_alloc = quellon_alloc(case)
                q_into = quellon_into(case)
                contenders = {"quellon_alloc": lambda: q_alloc(a), "quellon_into": lambda: q_into(a, out)}
                if case.numpy_alloc is not None:
                    contenders["numpy_alloc"] = lambda: case.numpy_alloc(a)
                    contenders["numpy_into"] = lambda: case.numpy_into(a, out)
                times = dict(zip(contenders, best_times(list(contenders.values()), repeats)))
                row = best.setdefault((case.name, n), dict(case=case.name, n=n, numpy=case.numpy_label,
                                                           bytes=a.nbytes + out.nbytes))
                for key, t in times.items():
                    row[key] = min(row.get(key, t), t)
                del out
    rows = list(best.values())
    # rows without a NumPy counterpart borrow the times of the row they name
    by_key = {(r["case"], r["n"]): r for r in rows}
    for case in CASES:
        if case.compare_with:
            for n in sizes:
                ref = by_key[(case.compare_with, n)]
                by_key[(case.name, n)]["reference_alloc"] = ref["quellon_alloc"]
                by_key[(case.name, n)]["reference_into"] = ref["quellon_into"]
    return rows


def overhead(repeats):
    a = np.arange(16, dtype=np.float64)
    q, n = best_times([lambda: _quellon.cast_array(a, target_dtype="float32", rounding_mode="nearest-even"),
                       lambda: a.astype(np.float32)], repeats)
    return dict(n=16, quellon_alloc=q, numpy_astype=n)


def memory():
    n = 1 << 24
    a = np.random.default_rng(1).uniform(-50, 300, size=n).astype(np.float32)
    q = peak_memory(lambda: _quellon.cast_array(a, target_dtype="uint8", rounding_mode="nearest-even",
                                                out_of_range_mode="clamp"))
    npy = peak_memory(lambda: np.clip(np.rint(a), 0, 255).astype(np.uint8))
    return dict(n=n, output_bytes=n, quellon_peak=q, numpy_clip_chain_peak=npy)


def ratio(row, kind):
    numpy_time = row.get(f"numpy_{kind}", row.get(f"reference_{kind}"))
    return numpy_time / row[f"quellon_{kind}"] if numpy_time else None


def print_table(rows, bandwidth, extra):
    print(f"copy bandwidth ceiling: {bandwidth / 1e9:.2f} GB/s (read + write)")
    header = (f"{'case':30} {'n':>9} {'quellon Melem/s':>16} {'ratio alloc':>12} "
              f"{'ratio into':>11} {'of copy bw':>11}  NumPy counterpart")
    print(header)
    print("-" * len(header))
    for r in rows:
        rate = r["n"] / r["quellon_into"] / 1e6
        ra, ri = ratio(r, "alloc"), ratio(r, "into")
        frac = (r["bytes"] / r["quellon_into"]) / bandwidth if r["n"] in LARGE else None
        fmt = lambda x, w: f"{x:{w}.2f}" if x is not None else " " * (w - 1) + "-"
        print(f"{r['case']:30} {r['n']:>9} {rate:16.1f} {fmt(ra, 12)} {fmt(ri, 11)} "
              f"{fmt(frac, 11)}  {r['numpy']}")
    o = extra["overhead"]
    print(f"\nper-call overhead, 16 elements: quellon {o['quellon_alloc'] * 1e9:.0f} ns, "
          f"NumPy astype {o['numpy_astype'] * 1e9:.0f} ns "
          f"({o['quellon_alloc'] / o['numpy_astype']:.2f}x)")
    m = extra["memory"]
    print(f"peak extra memory, cast_array of {m['n']} float32 to uint8 with clamp: "
          f"quellon {m['quellon_peak'] / 2**20:.1f} MiB (output {m['output_bytes'] / 2**20:.1f} MiB), "
          f"NumPy clip chain {m['numpy_clip_chain_peak'] / 2**20:.1f} MiB")
    print("ratios are NumPy time / quellon time: above 1 means quellon is faster")


def chart(rows, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    names = [c.name for c in CASES]
    sizes = sorted({r["n"] for r in rows})
    fig, ax = plt.subplots(figsize=(11, 6))
    width = 0.8 / len(sizes)
    for i, n in enumerate(sizes):
        values = []
        for name in names:
            row = next(r for r in rows if r["case"] == name and r["n"] == n)
            values.append(ratio(row, "into") or 0)
        ax.bar([k + i * width for k in range(len(names))], values, width, label=f"{n:,} elements")
    ax.axhline(1.0, color="black", linewidth=0.8)
    ax.set_xticks([k + 0.4 - width / 2 for k in range(len(names))])
    ax.set_xticklabels(names, rotation=35, ha="right", fontsize=8)
    ax.set_yscale("log")
    ax.set_ylabel("speed-up over NumPy (cast_array_into vs copyto / idiom)")
    ax.set_title("quellon vs NumPy, higher is better")
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="small sizes and few repetitions")
    parser.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "results"))
    args = parser.parse_args()
    sizes = SIZES[:2] if args.quick else SIZES
    repeats, rounds = (2, 1) if args.quick else (7, 3)

    bandwidth = copy_bandwidth(repeats)
    rows = run(sizes, repeats, rounds)
    extra = dict(overhead=overhead(repeats), memory=memory())
    print_table(rows, bandwidth, extra)

    os.makedirs(args.out, exist_ok=True)
    result = dict(machine=platform.processor() or platform.machine(), python=platform.python_version(),
                  numpy=np.__version__, copy_bandwidth=bandwidth, rows=rows, **extra)
    with open(os.path.join(args.out, "results.json"), "w") as f:
        json.dump(result, f, indent=1)
    chart(rows, os.path.join(args.out, "chart.png"))
    print(f"wrote {args.out}/results.json and {args.out}/chart.png")


if __name__ == "__main__":
    main()
