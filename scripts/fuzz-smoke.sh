#!/usr/bin/env bash
# A short run of every fuzz target, for the test suite.  Longer runs: scripts/fuzz.sh.
exec "$(dirname "$0")/fuzz.sh" "${FUZZ_SMOKE_SECONDS:-15}"
