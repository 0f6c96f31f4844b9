#!/usr/bin/env bash
# Packing speed and size of `mavusfx pack` on the 16 MiB benchmark input.
#
# The input, perf/mixed.bin, is extracted from perf_lh5.lzh with mavusfx itself and
# checked against manifest.tsv.  It is then packed RUNS times (default 5) into an
# archive on tmpfs, once per method; the median wall time and the CPU time of that
# run are reported.  The targets, for -lh7-: an archive no larger than the
# independent encoder's perf_lh7.lzh, packed at 20 MB/s (10^6 bytes) or faster.
# The archive is checked with `mavusfx test` and, where installed, bsdtar.
#
# usage: bench/pack_bench.sh [--runs N] [--tool PATH] [--bench DIR]
# default DIR: ../shared/bench beside the checkout (or beside its parent).  Exit status 0 when both
# targets hold, 1 when one does not, 2 when the benchmark could not run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=5
tool=$root/build/native/mavusfx
bench=$root/../shared/bench
[ -d "$bench" ] || bench=$root/../../shared/bench   # a worktree one level further down
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --tool) tool=$2; shift 2 ;;
    --bench) bench=$2; shift 2 ;;
    *) echo "usage: bench/pack_bench.sh [--runs N] [--tool PATH] [--bench DIR]" >&2; exit 2 ;;
  esac
done
[ -x "$tool" ] || { echo "pack_bench: no tool at $tool (run scripts/build.sh)" >&2; exit 2; }
[ -f "$bench/perf_lh5.lzh" ] || { echo "pack_bench: no perf_lh5.lzh in $bench" >&2; exit 2; }

work=$(mktemp -d /dev/shm/mavusfx-pack-bench.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" extract -C "$work/in" "$bench/perf_lh5.lzh" >/dev/null
input=$work/in/perf/mixed.bin
want=$(awk -F'\t' '$1 == "perf_lh5.lzh" { print $5 }' "$bench/manifest.tsv")
have=$(sha256sum "$input" | cut -d' ' -f1)
[ "$have" = "$want" ] || { echo "pack_bench: extracted input does not match manifest.tsv" >&2; exit 2; }
bytes=$(stat -c %s "$input")

# One timed run: prints "wall user+sys" in seconds.
timed_pack() {
  local TIMEFORMAT='%R %U %S'
  { time "$tool" pack "$work/in" -o "$work/out.lzh" --method "$1" >/dev/null; } 2>&1 |
    awk '{ printf "%s %.3f\n", $1, $2 + $3 }'
}

status=0
printf '%-6s %12s %12s %10s %10s %9s  %s\n' method archive reference "wall s" "MB/s" "cpu MB/s" verdict
for method in lh5 lh6 lh7; do
  results=()
  for ((i = 0; i < runs; i++)); do results+=("$(timed_pack $method)"); done
  median=$(printf '%s\n' "${results[@]}" | sort -n | awk -v n="$runs" 'NR == int((n + 1) / 2)')
  wall=${median% *}
  cpu=${median#* }
  size=$(stat -c %s "$work/out.lzh")
  reference=$(stat -c %s "$bench/perf_$method.lzh")
  "$tool" test "$work/out.lzh" >/dev/null || { echo "pack_bench: mavusfx test failed on -$method-" >&2; exit 1; }
  if command -v bsdtar >/dev/null; then
    got=$(bsdtar -xOf "$work/out.lzh" | sha256sum | cut -d' ' -f1)
    [ "$got" = "$want" ] || { echo "pack_bench: bsdtar reads -$method- wrongly" >&2; exit 1; }
  fi
  speed=$(awk -v b="$bytes" -v t="$wall" 'BEGIN { printf "%.1f", b / t / 1e6 }')
  cpu_speed=$(awk -v b="$bytes" -v t="$cpu" 'BEGIN { printf "%.1f", b / t / 1e6 }')
  verdict="size $(awk -v a="$size" -v r="$reference" 'BEGIN { printf "%.3f", a / r }') of reference"
  if [ $method = lh7 ]; then
    if [ "$size" -le "$reference" ] && awk -v s="$speed" 'BEGIN { exit !(s >= 20) }'; then
      verdict="$verdict; targets met"
    else
      verdict="$verdict; targets NOT met (size <= reference, >= 20 MB/s)"
      status=1
    fi
  fi
  printf '%-6s %12s %12s %10s %10s %9s  %s\n' "-$method-" "$size" "$reference" "$wall" "$speed" "$cpu_speed" "$verdict"
done
exit $status
