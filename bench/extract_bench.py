#!/usr/bin/env python3
"""Whole-process extraction time of `mavusfx extract` against bsdtar and 7z.

For each benchmark archive, the three extractors run in alternating order, each into a
fresh folder on tmpfs (/dev/shm), RUNS times; the medians are compared.  The target is
mavusfx at most half the time of the faster peer.  Archives that no peer reads (-lh1-)
get mavusfx's own throughput.

usage: bench/extract_bench.py [--runs N] [--tool PATH] [ARCHIVE...]
default archives: ../shared/bench/*.lzh beside the checkout
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


def extractors(tool):
    return {
        "mavusfx": lambda archive: [tool, "extract", archive],
        "bsdtar": lambda archive: ["bsdtar", "-xf", archive],
        "7z": lambda archive: ["7z", "x", "-y", archive],
    }


def run_once(command, work):
    """Seconds for one whole-process run in an empty folder; None if it failed."""
    folder = tempfile.mkdtemp(dir=work)
    start = time.perf_counter()
    done = subprocess.run(command, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    ok = done.returncode == 0 and any(files for _, _, files in os.walk(folder))
    shutil.rmtree(folder)
    return elapsed if ok else None


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
    parser.add_argument("archives", nargs="*")
    args = parser.parse_args()
    archives = args.archives or sorted(glob.glob(os.path.join(ROOT, "../shared/bench/*.lzh")))
    if not archives:
        sys.exit("no benchmark archives given or found in ../shared/bench")
    work = tempfile.mkdtemp(prefix="mavusfx-bench-", dir="/dev/shm")
    makers = extractors(args.tool)
    try:
        print(f"{'archive':<14} {'mavusfx':>9} {'bsdtar':>9} {'7z':>9}  result")
        for archive in archives:
            name = os.path.basename(archive)
            reference = output_digest(makers["mavusfx"](archive), work)
            peers = [p for p in ("bsdtar", "7z")
                     if shutil.which(p) and run_once(makers[p](archive), work) is not None
                     and output_digest(makers[p](archive), work) == reference]
            order = ["mavusfx"] + peers
            times = {p: [] for p in order}
            for i in range(args.runs):
                for p in order[i % len(order):] + order[:i % len(order)]:
                    t = run_once(makers[p](archive), work)
                    if t is not None:
                        times[p].append(t)
            if not times["mavusfx"]:
                print(f"{name:<14} mavusfx failed on this archive", flush=True)
                continue
            median = {p: statistics.median(ts) if ts else None for p, ts in times.items()}
            cells = [f"{median[p]*1000:8.1f}ms" if median.get(p) else f"{'-':>9}" for p in ("mavusfx", "bsdtar", "7z")]
            if peers:
                best = min(median[p] for p in peers)
                ratio = median["mavusfx"] / best
                verdict = f"{ratio:.2f} of the faster peer ({'met' if ratio <= 0.5 else 'NOT met'}: target 0.50)"
            else:
                listing = subprocess.run([args.tool, "list", archive], capture_output=True, text=True).stdout
                original = int(listing.strip().splitlines()[-1].split(",")[2].split()[0])
                verdict = f"{original / median['mavusfx'] / 1e6:.0f} MB/s (no peer reads it)"
            print(f"{name:<14} {' '.join(cells)}  {verdict}", flush=True)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
