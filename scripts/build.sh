#!/usr/bin/env bash
# Builds the i686 stub (build/i686) and the native tool and tests (build/native).
# Warnings are errors.  Usage: scripts/build.sh [--sanitize]  (--sanitize also
# builds build/sanitize, under ASan and UBSan, and build/tsan, under ThreadSanitizer)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

cmake -S . -B build/i686 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DMAVUSFX_WERROR=ON >/dev/null
cmake --build build/i686 -j"$jobs"

cmake -S . -B build/native -DMAVUSFX_WERROR=ON -DMAVUSFX_STUB="$root/build/i686/mavusfx.exe" >/dev/null
cmake --build build/native -j"$jobs"

if [ "${1:-}" = --sanitize ]; then
  cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DMAVUSFX_WERROR=ON -DMAVUSFX_SANITIZE=ON \
    -DMAVUSFX_STUB="$root/build/i686/mavusfx.exe" >/dev/null
  cmake --build build/sanitize -j"$jobs"
  # The suites that run the helper thread, under ThreadSanitizer.
  cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAVUSFX_WERROR=ON \
    -DMAVUSFX_THREAD_SANITIZE=ON -DMAVUSFX_STUB="$root/build/i686/mavusfx.exe" >/dev/null
  cmake --build build/tsan -j"$jobs" --target mavusfx mavusfx_tests
fi
