#!/usr/bin/env python3
"""Whole-process extraction time of `mavusfx extract` against bsdtar and 7z.

For each benchmark archive, the three extractors run in alternating order, each into a
fresh folder on tmpfs (/dev/shm), RUNS times; the medians are compared.  The target is
mavusfx at most half the time of the faster peer.  Archives that no peer reads (-lh1-)
get mavusfx's own throughput.  The CPU time (user + system) of each run is reported
beside it: on a machine that others share, it moves less with their load than the
elapsed time does.  --baseline adds another mavusfx build to the same alternation,
for before/after figures.

usage: bench/extract_bench.py [--runs N] [--tool PATH] [--baseline PATH] [ARCHIVE...]
default archives: shared/bench/*.lzh beside the checkout or beside its worktree folder
"""
import argparse
import glob
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def extractors(tool, baseline):
    return {
        "mavusfx": lambda archive: [tool, "extract", archive],
        "baseline": lambda archive: [baseline, "extract", archive],
        "bsdtar": lambda archive: ["bsdtar", "-xf", archive],
        "7z": lambda archive: ["7z", "x", "-y", archive],
    }


def run_once(command, work):
    """(elapsed, cpu) seconds for one whole-process run in an empty folder; None if it failed."""
    folder = tempfile.mkdtemp(dir=work)
    start = time.perf_counter()
    child = subprocess.Popen(command, cwd=folder, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    ok = child.returncode == 0 and any(files for _, _, files in os.walk(folder))
    shutil.rmtree(folder)
    return (elapsed, usage.ru_utime + usage.ru_stime) if ok else None


def output_digest(command, work):
    folder = tempfile.mkdtemp(dir=work)
    subprocess.run(command, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # File contents only: peers may spell Shift-JIS names differently.
    contents = []
    for base, _, files in os.walk(folder):
        for name in files:
            with open(os.path.join(base, name), "rb") as f:
                contents.append(hashlib.sha256(f.read()).hexdigest())
    shutil.rmtree(folder)
    return sorted(contents)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--tool", default=os.path.join(ROOT, "build/native/mavusfx"))
    parser.add_argument("--baseline", help="another mavusfx build to time alongside")
    parser.add_argument("archives", nargs="*")
    args = parser.parse_args()
    archives = args.archives
    for shared in ("../shared/bench", "../../shared/bench"):
        archives = archives or sorted(glob.glob(os.path.join(ROOT, shared, "*.lzh")))
    if not archives:
        sys.exit("no benchmark archives given or found in shared/bench")
    work = tempfile.mkdtemp(prefix="mavusfx-bench-", dir="/dev/shm")
    makers = extractors(args.tool, args.baseline)
    columns = ["mavusfx"] + (["baseline"] if args.baseline else []) + ["bsdtar", "7z"]
    try:
        print(f"{'archive':<14} " + " ".join(f"{c + ' ms':>17}" for c in columns) + "  result")
        print(f"{'':<14} " + " ".join(f"{'elapsed/cpu':>17}" for c in columns))
        for archive in archives:
            name = os.path.basename(archive)
            reference = output_digest(makers["mavusfx"](archive), work)
            peers = [p for p in ("bsdtar", "7z")
                     if shutil.which(p) and run_once(makers[p](archive), work) is not None
                     and output_digest(makers[p](archive), work) == reference]
            order = ["mavusfx"] + (["baseline"] if args.baseline else []) + peers
            times = {p: [] for p in order}
            for i in range(args.runs):
                for p in order[i % len(order):] + order[:i % len(order)]:
                    t = run_once(makers[p](archive), work)
                    if t is not None:
                        times[p].append(t)
            if not times["mavusfx"]:
                print(f"{name:<14} mavusfx failed on this archive", flush=True)
                continue
            median = {p: statistics.median(t[0] for t in ts) if ts else None
                      for p, ts in times.items()}
            cpu = {p: statistics.median(t[1] for t in ts) if ts else None
                   for p, ts in times.items()}
            cells = [f"{median[p]*1000:8.1f}/{cpu[p]*1000:<8.1f}" if median.get(p)
                     else f"{'-':>17}" for p in columns]
            if peers:
                best = min(median[p] for p in peers)
                ratio = median["mavusfx"] / best
                cpu_ratio = cpu["mavusfx"] / min(cpu[p] for p in peers)
                met = "met" if ratio <= 0.5 else "NOT met"
                verdict = (f"{ratio:.2f} of the faster peer ({met}: target 0.50; "
                           f"cpu {cpu_ratio:.2f})")
            else:
                listing = subprocess.run([args.tool, "list", archive], capture_output=True, text=True).stdout
                original = int(listing.strip().splitlines()[-1].split(",")[2].split()[0])
                verdict = (f"{original / median['mavusfx'] / 1e6:.0f} MB/s, "
                           f"cpu {original / cpu['mavusfx'] / 1e6:.0f} MB/s (no peer reads it)")
            print(f"{name:<14} {' '.join(cells)}  {verdict}", flush=True)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
