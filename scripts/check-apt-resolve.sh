#!/usr/bin/env bash
# Checks, where everything is already installed, that scripts/setup.sh's install
# line resolves on a machine that has none of the i386 packages yet: once with the
# package indexes this machine holds, and once with the security suite's i386
# index left out, as when a mirror in the middle of a sync serves it stale.
#
# It runs apt-get as a simulation (-s) against scratch copies: a dpkg status
# without the i386 packages (a fresh Debian 12 image has none, and the amd64
# libraries keep the versions installed here, security updates included) and a
# copy of apt's lists.  Nothing on the machine changes.  What it proves: that the
# resolver finds a version of every Multi-Arch: same library for both
# architectures with and without that index.  What it cannot prove: that the
# mirror serves the files.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null || [ ! -d /var/lib/apt/lists ]; then
  echo "check-apt-resolve: skipped (needs root and apt)"
  exit 0
fi
if ! ls /var/lib/apt/lists/*_binary-i386_Packages* >/dev/null 2>&1; then
  echo "check-apt-resolve: skipped (no i386 package index here; run scripts/setup.sh first)"
  exit 0
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/lists/partial" "$scratch/cache/archives/partial"
# The status without any i386 package, as on a fresh image.
awk 'BEGIN { RS = ""; ORS = "\n\n" } !/\nArchitecture: i386\n/' /var/lib/dpkg/status \
  > "$scratch/status"
cp /var/lib/apt/lists/*_InRelease /var/lib/apt/lists/*_Release "$scratch/lists/" 2>/dev/null || true
cp /var/lib/apt/lists/*_Packages* "$scratch/lists/"
cat > "$scratch/apt.conf" <<CONF
Dir::State::status "$scratch/status";
Dir::State::Lists "$scratch/lists";
Dir::Cache "$scratch/cache";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
Debug::NoLocking "true";
CONF
export APT_CONFIG=$scratch/apt.conf

mapfile -t packages < <(scripts/setup.sh --print-packages)
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
. scripts/lib/apt_install.sh

try() {  # try LABEL: the setup's install, simulated
  local log=$scratch/$1.log
  if apt_install -s "${packages[@]}" >"$log" 2>&1; then
    echo "check-apt-resolve: $1: resolves ($(grep -c '^Inst ' "$log") packages to install)"
  else
    echo "check-apt-resolve: $1: does NOT resolve" >&2
    grep -E '^(E:| [^ ].*: Depends)|setup.sh:' "$log" | head -20 >&2
    return 1
  fi
}

status=0
if ls "$scratch"/lists/*debian-security*_binary-i386_Packages* >/dev/null 2>&1; then
  try "with every index" || status=1
else
  echo "check-apt-resolve: this machine holds no security i386 index itself (a stale mirror?)"
fi
rm -f "$scratch"/lists/*debian-security*_binary-i386_Packages*
try "without the security suite's i386 index" || status=1
# The cure is needed at all: without it, the plain install fails here whenever the
# amd64 libraries are newer than the release's own (said, not required).
if ! apt-get install -s -y -q "${packages[@]}" >/dev/null 2>&1; then
  echo "check-apt-resolve: (the plain install alone would not resolve without that index)"
fi
exit $status
