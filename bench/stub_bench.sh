#!/usr/bin/env bash
# The stub under Wine against the native tool, on one benchmark archive.
#
#   bench/stub_bench.sh [--runs N] [ARCHIVE]     (default: ../shared/bench/perf_lh5.lzh)
#
# Packs ARCHIVE into a combined file with `mavusfx make`, then, RUNS times in turn
# (default 5): `mavusfx extract` natively into tmpfs; the stub under Wine through its
# destination dialog, worked by tests/wine/sfx_driver.exe, which reports the time from
# the start to the end of the stub's process; and mavusfx-tool.exe (the same engine
# built for Windows with the fast paths) under Wine, by the wall time of the `wine`
# command.  Every run's files are checked against the native tool's.  Each run also
# times the stub through its dialog on a one-member archive: what Wine's start of a
# windowed program, the dialog and the end cost by themselves, so that the difference
# is the stub's extraction.  Prints the medians and the ratios.  Needs scripts/build.sh and
# scripts/setup.sh first (a headless display and a fresh Wine prefix are made here).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=5
bench_dir=$root/../shared/bench
[ -d "$bench_dir" ] || bench_dir=$root/../../shared/bench   # a worktree one level further down
archive=$bench_dir/perf_lh5.lzh
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    *) archive=$(realpath "$1"); shift ;;
  esac
done
tool=$root/build/native/mavusfx
[ -x "$tool" ] && [ -f build/i686/mavusfx.exe ] || { echo "run scripts/build.sh first" >&2; exit 2; }

work=$(mktemp -d /tmp/mavusfx-stub-bench.XXXXXX)
shm=$(mktemp -d /dev/shm/mavusfx-stub-bench.XXXXXX)
# shellcheck source=scripts/wine-session.sh
. scripts/wine-session.sh
cleanup() {
  wine_session_stop
  rm -rf "$work" "$shm"
}
trap cleanup EXIT
wine_session_start "$work"
bench=$c_drive/bench
mkdir -p "$bench"
cp build/i686/mavusfx-tool.exe "$c_drive/mavusfx/"
"$tool" make --stub build/i686/mavusfx.exe --archive "$archive" -o "$bench/sfx.exe" \
  --dest 'C:\bench\stub' >/dev/null
cp "$archive" "$bench/archive.lzh"
mkdir -p "$work/tiny" && echo tiny > "$work/tiny/tiny.txt"
"$tool" pack "$work/tiny" -o "$work/tiny.lzh" >/dev/null
"$tool" make --stub build/i686/mavusfx.exe --archive "$work/tiny.lzh" -o "$bench/tiny.exe" \
  --dest 'C:\bench\tiny' >/dev/null

now_ms() { date +%s%3N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# stub_ms NAME: runs C:\bench\NAME.exe through its dialog; the driver's time of it.
stub_ms() {
  local out
  out=$(driver run "C:\\bench\\$1.exe" --timeout 600)
  grep -qx 'exit 0' <<<"$out" || { echo "$1.exe failed:"; echo "$out"; exit 1; } >&2
  sed -n 's/^ran \([0-9]*\) ms$/\1/p' <<<"$out"
}

native=() stub=() tiny=() wintool=()
for i in $(seq "$runs"); do
  rm -rf "$shm/native" && mkdir "$shm/native"
  t=$(now_ms); "$tool" extract -C "$shm/native" "$archive" >/dev/null; native+=($(($(now_ms) - t)))

  rm -rf "$bench/stub"
  t=$(stub_ms sfx); stub+=("$t")
  diff -r "$shm/native" "$bench/stub" >/dev/null || { echo "the stub's files differ" >&2; exit 1; }
  t=$(stub_ms tiny); tiny+=("$t")

  rm -rf "$bench/tool" && mkdir "$bench/tool"
  t=$(now_ms)
  wine 'C:\mavusfx\mavusfx-tool.exe' extract -C 'C:\bench\tool' 'C:\bench\archive.lzh' >/dev/null 2>&1
  wintool+=($(($(now_ms) - t)))
  diff -r "$shm/native" "$bench/tool" >/dev/null || { echo "mavusfx-tool.exe's files differ" >&2; exit 1; }
  echo "run $i: native ${native[-1]} ms, stub under Wine ${stub[-1]} ms (one member: ${tiny[-1]} ms), mavusfx-tool.exe under Wine ${wintool[-1]} ms"
done

n=$(printf '%s\n' "${native[@]}" | median)
s=$(printf '%s\n' "${stub[@]}" | median)
w=$(printf '%s\n' "${wintool[@]}" | median)
o=$(printf '%s\n' "${tiny[@]}" | median)
echo "$(basename "$archive"), medians of $runs runs:"
echo "  mavusfx extract (native)          $n ms"
echo "  stub under Wine, through its dialog $s ms  ($(awk -v a="$s" -v b="$n" 'BEGIN { printf "%.1f", a / b }') x native)"
echo "  the stub on one member            $o ms  (Wine's start of a windowed program, the dialog, the end)"
echo "  the stub's extraction alone       $((s - o)) ms  ($(awk -v a="$((s - o))" -v b="$n" 'BEGIN { printf "%.1f", a / b }') x native)"
echo "  mavusfx-tool.exe under Wine       $w ms"
