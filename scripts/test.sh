#!/usr/bin/env bash
# Installs what is missing, checks the format of the files held to it, builds
# native and i686, and runs every test: the native suite, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the suites that run the tool's
# helper thread under ThreadSanitizer, and the end-to-end runs of the stub under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
echo "== the format of the files held to it"
scripts/check-format.sh
echo "== the set-up's install, simulated without the security suite's i386 index"
scripts/check-apt-resolve.sh
scripts/build.sh --sanitize

echo "== native tests"
ctest --test-dir build/native --output-on-failure -j"$(nproc)"

echo "== native tests under the sanitizers"
ctest --test-dir build/sanitize --output-on-failure -j"$(nproc)"

echo "== writing behind and the decoders under ThreadSanitizer"
TSAN_OPTIONS=halt_on_error=1 build/tsan/mavusfx_tests \
  --gtest_filter='WriteBehind.*:FastRuns.*:ExtractionTrace.*:Corpus*:Safety.*'

for extra in scripts/fuzz-smoke.sh scripts/wine-e2e.sh; do
  if [ -x "$extra" ]; then
    echo "== $extra"
    "$extra"
  fi
done
echo "== all tests passed"
