#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for SECONDS (default 600).  Seeds come from tests/data; the growing corpus
# stays in build/fuzz/corpus-*, and any crash input in build/fuzz/crashes-*: copy it to
# tests/data/regressions/ with a telling name once it is fixed.  fuzz/README.md tells
# what each target does, the output limit and how to run one by hand.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(member_headers decode_member config_block extraction)

CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMAVUSFX_FUZZ=ON -DMAVUSFX_SANITIZE=ON >/dev/null
cmake --build build/fuzz -j"$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null

status=0
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus-$target
  crashes=build/fuzz/crashes-$target
  mkdir -p "$corpus" "$crashes"
  cp -n tests/data/corpus/*.lzh tests/data/regressions/* "$corpus"/ 2>/dev/null || true
  rm -f "$corpus/README.md"
  case $target in
    decode_member) max_len=4096 ;;
    config_block) max_len=2048 ;;
    extraction) max_len=65536 ;;
    *) max_len=400000 ;;
  esac
  echo "== fuzz_$target for ${seconds}s"
  if ! build/fuzz/fuzz_$target "$corpus" -max_total_time="$seconds" -max_len=$max_len \
      -timeout=25 -rss_limit_mb=2048 -artifact_prefix="$crashes/" -print_final_stats=1 \
      2>build/fuzz/log-$target.txt; then
    status=1
    echo "fuzz_$target found a failure: see build/fuzz/log-$target.txt and $crashes/"
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|cov: ' \
    build/fuzz/log-$target.txt | tail -4
done
exit $status
