#!/usr/bin/env bash
# The stub under Wine: many small files against the floor of writing them, and the
# speed on one 16 MiB member.
#
#   bench/stub_bench.sh [--runs N] [--stub EXE] [--baseline-stub EXE] [--notify] [--bench DIR]
#
# Every program runs as a whole `wine` process in a fresh folder of a Wine prefix on
# tmpfs, RUNS times (default 5) in alternating order; the medians are compared.  The
# stubs are made with `mavusfx make --no-config` (no dialog: they extract into the
# current folder behind their progress window):
#
#   many    the stub on build/bench-many/many.lzh (bench/many_files.py: 5,000 files
#           of 1 to 20 KB in 250 folders); its files are compared with the tree's
#   big     the stub on perf_lh5.lzh (one member of 16,777,216 bytes), compared too
#   tiny    the stub on a one-member archive of 5 bytes: Wine's start of a windowed
#           program, the window and the end, which the two above pay as well
#   floor   bench/floor_writer.exe on the same 5,000 names and sizes: a plain Win32
#           program doing only the file operations the stub does per member (folder,
#           new temporary, one write, time stamp, move over the name)
#   floor0  the same program on an empty list: its start and end
#   floorn  (with --notify) the floor with one SHChangeNotify a file
#
# --baseline-stub adds another build's stub (many, big and tiny) to the alternation:
# this version against the last in the same run.  Prints the medians and:
#   - the stub's extraction of the many files (many - tiny) against the floor's
#     (floor - floor0): target at most 2;
#   - the 16 MiB member's speed, 16,777,216 bytes / (big - tiny): target 200 MB/s.
# Exits 1 when a target is missed.  Needs scripts/setup.sh and scripts/build.sh first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=5
stub=$root/build/i686/mavusfx.exe
baseline=
notify=
bench_dir=$root/../shared/bench
[ -d "$bench_dir" ] || bench_dir=$root/../../shared/bench   # a worktree one level further down
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --stub) stub=$(realpath "$2"); shift 2 ;;
    --baseline-stub) baseline=$(realpath "$2"); shift 2 ;;
    --notify) notify=1; shift ;;
    --bench) bench_dir=$(realpath "$2"); shift 2 ;;
    *) echo "usage: bench/stub_bench.sh [--runs N] [--stub EXE] [--baseline-stub EXE] [--notify] [--bench DIR]" >&2; exit 2 ;;
  esac
done
tool=$root/build/native/mavusfx
[ -x "$tool" ] && [ -f "$stub" ] || { echo "run scripts/build.sh first" >&2; exit 2; }
big_archive=$bench_dir/perf_lh5.lzh
many=$root/build/bench-many
python3 bench/many_files.py "$many" --tool "$tool"

work=$(mktemp -d /dev/shm/mavusfx-stub-bench.XXXXXX)
# shellcheck source=scripts/wine-session.sh
. scripts/wine-session.sh
cleanup() {
  wine_session_stop
  rm -rf "$work"
}
trap cleanup EXIT
wine_session_start "$work"
bench=$c_drive/bench
mkdir -p "$bench" "$c_drive/run"

i686-w64-mingw32-gcc -O2 -municode -o "$bench/floor.exe" bench/floor_writer.c -lshell32
cp "$many/files.tsv" "$bench/files.tsv"
: > "$bench/empty.tsv"
mkdir -p "$work/tiny" && echo tiny > "$work/tiny/tiny.txt"
"$tool" pack "$work/tiny" -o "$work/tiny.lzh" >/dev/null
"$tool" extract -C "$work/big" "$big_archive" >/dev/null
make_stubs() {  # make_stubs STUB PREFIX
  "$tool" make --stub "$1" --archive "$many/many.lzh" -o "$bench/$2many.exe" --no-config >/dev/null
  "$tool" make --stub "$1" --archive "$big_archive" -o "$bench/$2big.exe" --no-config >/dev/null
  "$tool" make --stub "$1" --archive "$work/tiny.lzh" -o "$bench/$2tiny.exe" --no-config >/dev/null
}
make_stubs "$stub" ""
cases=(many big tiny floor floor0)
[ -z "$baseline" ] || { make_stubs "$baseline" base-; cases+=(base-many base-big base-tiny); }
[ -z "$notify" ] || cases+=(floorn)

now_ns() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# CPU time (clock ticks) of the prefix's processes that outlive a run: Wine's server,
# the desktop's explorer (which takes the shell notices), its services.
session_ticks() {
  local total=0 p fields
  for p in /proc/[0-9]*; do
    [ -r "$p/environ" ] || continue
    tr '\0' '\n' 2>/dev/null < "$p/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    read -ra fields 2>/dev/null < <(cut -d')' -f2 "$p/stat" 2>/dev/null) || continue
    total=$((total + ${fields[11]:-0} + ${fields[12]:-0}))
  done
  echo "$total"
}
tick_ms=$((1000 / $(getconf CLK_TCK)))

# run_case CASE: runs it in a fresh folder, checks what it wrote, prints its elapsed
# ms and the CPU ms of its process plus what the prefix's other processes spent meanwhile.
run_case() {
  local c=$1 folder=$c_drive/run/$1 t command s0 s1 own
  rm -rf "$folder" && mkdir "$folder"
  case $c in
    floor) command=('C:\bench\floor.exe' 'C:\bench\files.tsv') ;;
    floorn) command=('C:\bench\floor.exe' 'C:\bench\files.tsv' --notify) ;;
    floor0) command=('C:\bench\floor.exe' 'C:\bench\empty.tsv') ;;
    *) command=("C:\\bench\\$c.exe") ;;
  esac
  s0=$(session_ticks)
  t=$(now_ns)
  (cd "$folder" && /usr/bin/time -f '%U %S' -o "$work/cpu" wine "${command[@]}" >/dev/null 2>&1) ||
    { echo "$c failed" >&2; exit 1; }
  t=$((($(now_ns) - t) / 1000000))
  s1=$(session_ticks)
  own=$(awk '{ printf "%d", ($1 + $2) * 1000 }' "$work/cpu")
  case $c in
    *many) diff -r -q "$many/tree" "$folder" >/dev/null || { echo "$c: the files differ" >&2; exit 1; } ;;
    *big) cmp -s "$work/big/perf/mixed.bin" "$folder/perf/mixed.bin" || { echo "$c: the file differs" >&2; exit 1; } ;;
    floor|floorn) [ "$(find "$folder" -type f | wc -l)" = "$(wc -l < "$bench/files.tsv")" ] ||
                    { echo "$c: files missing" >&2; exit 1; } ;;
  esac
  rm -rf "$folder"
  echo "$t $((own + (s1 - s0) * tick_ms))"
}

declare -A times cpus
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); $runs runs"
for i in $(seq 0 $((runs - 1))); do
  n=${#cases[@]}
  line="run $((i + 1)), elapsed/cpu ms:"
  for k in $(seq 0 $((n - 1))); do
    c=${cases[$(((i + k) % n))]}
    read -r t cpu < <(run_case "$c")
    [ -n "${cpu:-}" ] || exit 1
    times[$c]+="$t "
    cpus[$c]+="$cpu "
    line+=" $c $t/$cpu"
  done
  echo "$line"
done

declare -A med medcpu
for c in "${cases[@]}"; do
  med[$c]=$(tr ' ' '\n' <<<"${times[$c]}" | grep . | median)
  medcpu[$c]=$(tr ' ' '\n' <<<"${cpus[$c]}" | grep . | median)
done
echo "medians of $runs runs, whole wine processes, elapsed / cpu ms (cpu: the process and"
echo "the prefix's server, desktop and services meanwhile):"
for c in "${cases[@]}"; do printf '  %-10s %6d / %6d\n' "$c" "${med[$c]}" "${medcpu[$c]}"; done

status=0
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
report() {  # report PREFIX LABEL CHECK
  local p=$1 extraction floor ratio cpu_ratio big speed cpu_speed
  extraction=$((med[${p}many] - med[${p}tiny]))
  floor=$((med[floor] - med[floor0]))
  ratio=$(ratio "$extraction" "$floor")
  cpu_ratio=$(ratio "$((medcpu[${p}many] - medcpu[${p}tiny]))" "$((medcpu[floor] - medcpu[floor0]))")
  big=$((med[${p}big] - med[${p}tiny]))
  speed=$(awk -v a="$big" 'BEGIN { printf "%.0f", 16777216 / a / 1000 }')
  cpu_speed=$(awk -v a="$((medcpu[${p}big] - medcpu[${p}tiny]))" 'BEGIN { printf "%.0f", 16777216 / a / 1000 }')
  echo "$2:"
  echo "  5,000 files: the stub's extraction $extraction ms (many - tiny), the floor's $floor ms" \
       "(floor - floor0): $ratio x the floor, by cpu $cpu_ratio"
  echo "  16 MiB member: $big ms (big - tiny): $speed MB/s, by cpu $cpu_speed"
  if [ "$3" = check ]; then
    if awk -v r="$ratio" 'BEGIN { exit !(r <= 2) }'; then echo "  many files within 2x of the floor: met"
    else echo "  many files within 2x of the floor: NOT met"; status=1; fi
    if [ "$speed" -ge 200 ]; then echo "  200 MB/s on the 16 MiB member: met"
    else echo "  200 MB/s on the 16 MiB member: NOT met"; status=1; fi
  fi
}
report "" "this stub ($(stat -c %s "$stub") bytes)" check
[ -z "$baseline" ] || report base- "the baseline stub ($(stat -c %s "$baseline") bytes)" ""
[ -z "$notify" ] || echo "the floor with one SHChangeNotify a file: $((med[floorn] - med[floor0])) ms," \
  "by cpu $((medcpu[floorn] - medcpu[floor0])) ms"
exit $status
