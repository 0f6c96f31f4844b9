#!/usr/bin/env bash
# What each unit of the stub costs.  Builds the stub's units a second time without
# link-time optimisation (into build/stub-units), so that each object file still
# holds one unit, and prints their code and constant bytes with
# i686-w64-mingw32-size, biggest first; then the sections of the real stub
# (build/i686/mavusfx.exe, which scripts/build.sh makes) and its file size.
# With LTO the units are merged and inlined across, so their sum is larger than
# the real .text: read the table for proportions, the last lines for the truth.
# Usage: bench/stub_size.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build/stub-units
cmake -S . -B "$out" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DSTUB_EXTRA=-fno-lto >/dev/null
cmake --build "$out" -j"$(nproc)" --target mavusfx >/dev/null

printf '%-40s %8s %8s\n' unit code+const zero-init
find "$out/CMakeFiles/stub_engine.dir" "$out/CMakeFiles/mavusfx.dir" -name '*.obj' |
while read -r obj; do
  # size's Berkeley columns: text (code and constants), data, bss.
  read -r text data bss _ < <(i686-w64-mingw32-size "$obj" | tail -1)
  unit=${obj#"$out"/CMakeFiles/*.dir/}
  printf '%-40s %8d %8d\n' "${unit%.obj}" $((text + data)) "$bss"
done | sort -k2,2nr

stub=build/i686/mavusfx.exe
if [ -f "$stub" ]; then
  echo
  echo "$stub (with link-time optimisation): $(stat -c %s "$stub") bytes"
  i686-w64-mingw32-objdump -h "$stub" | while read -r _ name size _; do
    case $name in .*) printf '  %-8s %6d bytes\n' "$name" $((16#$size)) ;; esac
  done
fi
