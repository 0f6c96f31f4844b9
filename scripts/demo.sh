#!/usr/bin/env bash
# Installs what is missing, builds, and extracts a sample archive with the host tool.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
out=$(mktemp -d /tmp/mavusfx-demo.XXXXXX)
build/native/mavusfx list tests/data/corpus/lh5_level2.lzh
build/native/mavusfx extract -C "$out" tests/data/corpus/lh5_level2.lzh
echo "extracted into $out:"
find "$out" | sort
