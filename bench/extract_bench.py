#!/usr/bin/env python3
"""Whole-process extraction time of `mavusfx extract` against other readers.

For each benchmark archive the extractors run in alternating order, each as a whole
process into a fresh folder on tmpfs (/dev/shm), RUNS times (default 11); the medians
are compared.  Beside the LHA readers (bsdtar, 7z, lhasa: whichever are installed and
give the same files) two programs that do not read LHA at all set the scale:

- zstd -d: the same content (what mavusfx extracted, as one file) compressed by zstd at
  level 3 in the bench's folder, decompressed into one file;
- cat: the same content copied into one file, the floor of writing it.

Targets, in the same run:
- -lh5-, -lh6-, -lh7- (one 16 MiB member): mavusfx at most 0.30 of the faster of
  bsdtar and 7z, and at most 0.90 of zstd;
- -lh1- (which bsdtar and 7z do not read): mavusfx at most a third of lhasa;
- many.lzh, 5,000 files of 1 to 20 KB in 250 folders (bench/many_files.py makes it
  in build/bench-many; --no-many leaves it out): mavusfx at most 0.40 of bsdtar, and
  `mavusfx test` at most 5 us a file more than on the same bytes as one member
  (one.lzh), by CPU time (user + system; the elapsed time is printed beside it);
  `--instructions` counts the instructions of both under cachegrind as well;
- every mavusfx run under 8 MiB of peak memory (the child's maximum resident size).

Each cell is elapsed/CPU milliseconds (CPU = user + system of that process, which
moves less than the elapsed time when others load the machine); the peak memory of
each program is taken in one more run of its own, under GNU time (/usr/bin/time).  --baseline adds another mavusfx build to
the same alternation, for before/after figures.  Exits 1 when a target is missed.

usage: bench/extract_bench.py [--runs N] [--tool PATH] [--baseline PATH] [--no-many]
                              [--instructions] [ARCHIVE...]
default archives: shared/bench/*.lzh beside the checkout or beside its worktree folder,
and many.lzh
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

LHA_PEERS = ("bsdtar", "7z", "lhasa")
FAST_PEERS = ("bsdtar", "7z")      # the peers of the -lh5- to -lh7- target
PEER_LIMIT = 0.30                  # of the faster of FAST_PEERS
ZSTD_LIMIT = 0.90                  # of zstd -d on the same content
LHASA_LIMIT = 1 / 3                # of lhasa, where no fast peer reads the archive
MANY_LIMIT = 0.40                  # of bsdtar, on the many small files
MEMBER_LIMIT_US = 5.0              # test's cost of a member beyond its bytes
MEMORY_LIMIT_KIB = 8 * 1024
MANY_FOLDER = os.path.join(ROOT, "build", "bench-many")


def extractors(tool, baseline, zst, content):
    return {
        "mavusfx": lambda archive: [tool, "extract", archive],
        "baseline": lambda archive: [baseline, "extract", archive],
        "bsdtar": lambda archive: ["bsdtar", "-xf", archive],
        "7z": lambda archive: ["7z", "x", "-y", archive],
        "lhasa": lambda archive: ["lhasa", "xq2f", archive],
        "zstd": lambda archive: ["zstd", "-d", "-q", "-f", zst, "-o", "content.bin"],
        # cat's output goes to a file in its folder (see run_once).
        "cat": lambda archive: ["cat", content],
    }


def run_once(command, work, needs_files=True):
    """(elapsed s, cpu s) for one whole-process run in an empty folder; None if it failed
    or (when it should have) wrote nothing."""
    folder = tempfile.mkdtemp(dir=work)
    out = open(os.path.join(folder, "content.bin"), "wb") if command[0] == "cat" else None
    start = time.perf_counter()
    child = subprocess.Popen(command, cwd=folder, stdout=out or subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.perf_counter() - start
    if out:
        out.close()
    code = os.waitstatus_to_exitcode(status)
    ok = code == 0 and (not needs_files or any(files for _, _, files in os.walk(folder)))
    shutil.rmtree(folder)
    return (elapsed, usage.ru_utime + usage.ru_stime) if ok else None


def peak_memory(command, work):
    """The largest resident size in KiB of one run, by GNU time: the rusage of a child
    of this script would carry the script's own size, which it had when it forked.
    None without /usr/bin/time."""
    if not os.path.exists("/usr/bin/time"):
        return None
    folder = tempfile.mkdtemp(dir=work)
    report = os.path.join(work, "peak.txt")
    out = open(os.path.join(folder, "content.bin"), "wb") if command[0] == "cat" else None
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + command, cwd=folder,
                   stdout=out or subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if out:
        out.close()
    shutil.rmtree(folder)
    with open(report) as f:
        return int(f.read().split()[-1])


def extracted_files(command, work):
    """(sorted digests of the files' contents, their bytes joined in the order of their
    paths) of one run."""
    folder = tempfile.mkdtemp(dir=work)
    subprocess.run(command, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # File contents only: peers may spell Shift-JIS names differently.
    contents = []
    for base, _, files in sorted(os.walk(folder)):
        for name in sorted(files):
            with open(os.path.join(base, name), "rb") as f:
                contents.append(f.read())
    shutil.rmtree(folder)
    return sorted(hashlib.sha256(c).hexdigest() for c in contents), b"".join(contents)


def verdicts(median, cpu, peak, peers, many):
    """Lines saying how mavusfx stands against each target that applies, and whether
    all of them are met."""
    lines, met = [], True

    def check(what, ratio, limit, cpu_ratio):
        nonlocal met
        ok = ratio <= limit
        met &= ok
        lines.append(f"{what}: {ratio:.2f} (target <= {limit:.2f}, "
                     f"{'met' if ok else 'NOT met'}; by cpu {cpu_ratio:.2f})")

    fast = [p for p in FAST_PEERS if p in peers]
    if many:
        if "bsdtar" in peers:
            check("of bsdtar", median["mavusfx"] / median["bsdtar"], MANY_LIMIT,
                  cpu["mavusfx"] / cpu["bsdtar"])
    elif fast:
        best = min(fast, key=lambda p: median[p])
        check(f"of the faster peer ({best})", median["mavusfx"] / median[best], PEER_LIMIT,
              cpu["mavusfx"] / min(cpu[p] for p in fast))
        if median.get("zstd"):
            check("of zstd -d", median["mavusfx"] / median["zstd"], ZSTD_LIMIT,
                  cpu["mavusfx"] / cpu["zstd"])
    elif "lhasa" in peers:
        check("of lhasa", median["mavusfx"] / median["lhasa"], LHASA_LIMIT,
              cpu["mavusfx"] / cpu["lhasa"])
    if median.get("cat"):
        lines.append(f"of cat: {median['mavusfx'] / median['cat']:.2f} (the floor)")
    if peak.get("mavusfx") is not None:
        ok = peak["mavusfx"] < MEMORY_LIMIT_KIB
        met &= ok
        lines.append(f"peak memory: {peak['mavusfx']} KiB (target < {MEMORY_LIMIT_KIB} KiB, "
                     f"{'met' if ok else 'NOT met'})")
    return lines, met


def instructions(command):
    """The instructions one run executes, counted by cachegrind (no cache simulation)."""
    result = subprocess.run(["valgrind", "--tool=cachegrind", "--cache-sim=no",
                             "--cachegrind-out-file=/dev/null"] + command,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in result.stderr.splitlines():
        if "I" in line and "refs:" in line:
            return int(line.split("refs:")[1].replace(",", "").split()[0])
    return None


def member_overhead(builds, makers, runs, work, count_instructions):
    """`mavusfx test` of many.lzh against one.lzh, alternated, 3 x RUNS times: what each
    file costs beyond its bytes.  Returns whether the target is met."""
    many, one = os.path.join(MANY_FOLDER, "many.lzh"), os.path.join(MANY_FOLDER, "one.lzh")
    with open(os.path.join(MANY_FOLDER, "files.tsv")) as f:
        files = sum(1 for _ in f)
    cases = [(b, a) for b in builds for a in (many, one)]
    times = {c: [] for c in cases}
    for i in range(3 * runs):
        for b, a in cases[i % len(cases):] + cases[:i % len(cases)]:
            t = run_once([makers[b](a)[0], "test", a], work, needs_files=False)
            if t is not None:
                times[(b, a)].append(t)
    met = True
    print(f"mavusfx test, many.lzh ({files} files) against one.lzh (the same bytes as one "
          f"member), {3 * runs} runs, medians:")
    for b in builds:
        if not times[(b, many)] or not times[(b, one)]:
            print(f"    {b}: failed")
            met = False
            continue
        m = {a: (statistics.median(t[0] for t in times[(b, a)]),
                 statistics.median(t[1] for t in times[(b, a)])) for a in (many, one)}
        per_elapsed = (m[many][0] - m[one][0]) / files * 1e6
        per_cpu = (m[many][1] - m[one][1]) / files * 1e6
        line = (f"    {b}: {m[many][0]*1000:.1f}/{m[many][1]*1000:.1f} ms against "
                f"{m[one][0]*1000:.1f}/{m[one][1]*1000:.1f} ms: {per_cpu:.1f} us a file by cpu "
                f"(elapsed {per_elapsed:.1f})")
        if b == "mavusfx":
            ok = per_cpu <= MEMBER_LIMIT_US
            met &= ok
            line += f" (target <= {MEMBER_LIMIT_US:.0f} us, {'met' if ok else 'NOT met'})"
        print(line, flush=True)
        if count_instructions:
            counts = {a: instructions([makers[b](a)[0], "test", a]) for a in (many, one)}
            if None not in counts.values():
                print(f"      instructions {counts[many]:,} against {counts[one]:,}: "
                      f"{(counts[many] - counts[one]) / files:,.0f} a file", flush=True)
    return met


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--tool", default=os.path.join(ROOT, "build/native/mavusfx"))
    parser.add_argument("--baseline", help="another mavusfx build to time alongside")
    parser.add_argument("--no-many", action="store_true", help="leave the many small files out")
    parser.add_argument("--instructions", action="store_true",
                        help="count test's instructions on the many files under cachegrind")
    parser.add_argument("archives", nargs="*")
    args = parser.parse_args()
    archives = [os.path.abspath(a) for a in args.archives]
    for shared in ("../shared/bench", "../../shared/bench"):
        archives = archives or sorted(glob.glob(os.path.join(ROOT, shared, "*.lzh")))
    if not archives:
        sys.exit("no benchmark archives given or found in shared/bench")
    if not args.no_many and not args.archives:
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "many_files.py"), MANY_FOLDER,
                        "--tool", os.path.abspath(args.tool)], check=True)
        archives.append(os.path.join(MANY_FOLDER, "many.lzh"))
    work = tempfile.mkdtemp(prefix="mavusfx-bench-", dir="/dev/shm")
    zst, content = os.path.join(work, "content.zst"), os.path.join(work, "content.bin")
    # Each program runs in a folder of its own, so the builds are named from here.
    tool = os.path.abspath(args.tool)
    baseline = os.path.abspath(args.baseline) if args.baseline else None
    makers = extractors(tool, baseline, zst, content)
    ours = ["mavusfx"] + (["baseline"] if args.baseline else [])
    scale = [p for p in ("zstd", "cat") if shutil.which(p)]
    columns = ours + list(LHA_PEERS) + scale
    all_met = True
    uptime = os.getloadavg()
    print(f"load average at start: {uptime[0]:.2f} {uptime[1]:.2f} {uptime[2]:.2f}; "
          f"{args.runs} runs, medians")
    print(f"{'archive':<14} " + " ".join(f"{c + ' ms':>15}" for c in columns))
    print(f"{'':<14} " + " ".join(f"{'elapsed/cpu':>15}" for c in columns))
    try:
        for archive in archives:
            name = os.path.basename(archive)
            reference, joined = extracted_files(makers["mavusfx"](archive), work)
            with open(content, "wb") as f:
                f.write(joined)
            if "zstd" in scale:
                subprocess.run(["zstd", "-3", "-q", "-f", content, "-o", zst], check=True)
            peers = [p for p in LHA_PEERS
                     if shutil.which(p) and run_once(makers[p](archive), work) is not None
                     and extracted_files(makers[p](archive), work)[0] == reference]
            order = ours + peers + scale
            times = {p: [] for p in order}
            for i in range(args.runs):
                for p in order[i % len(order):] + order[:i % len(order)]:
                    t = run_once(makers[p](archive), work)
                    if t is not None:
                        times[p].append(t)
            if not times["mavusfx"]:
                print(f"{name:<14} mavusfx failed on this archive", flush=True)
                all_met = False
                continue
            median = {p: statistics.median(t[0] for t in ts) for p, ts in times.items() if ts}
            cpu = {p: statistics.median(t[1] for t in ts) for p, ts in times.items() if ts}
            peak = {p: peak_memory(makers[p](archive), work) for p in median}
            cells = [f"{median[p]*1000:7.1f}/{cpu[p]*1000:<7.1f}" if p in median
                     else f"{'-':>15}" for p in columns]
            print(f"{name:<14} {' '.join(cells)}", flush=True)
            print(f"{'  peak KiB':<14} " + " ".join(
                f"{peak[p]:>15}" if peak.get(p) else f"{'-':>15}" for p in columns))
            lines, met = verdicts(median, cpu, peak, [p for p in peers if p in median],
                                 archive.startswith(MANY_FOLDER))
            all_met &= met
            for line in lines:
                print(f"    mavusfx {line}", flush=True)
        if any(a.startswith(MANY_FOLDER) for a in archives):
            all_met &= member_overhead(ours, makers, args.runs, work, args.instructions)
    finally:
        shutil.rmtree(work)
    return 0 if all_met else 1


if __name__ == "__main__":
    sys.exit(main())
