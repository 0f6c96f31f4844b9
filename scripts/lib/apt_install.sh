# apt_update and apt_install for scripts/setup.sh, and for the check that runs the
# same install as a simulation (scripts/check-apt-resolve.sh).  Sourced; needs
# $codename, the release's own suite ("bookworm").
#
# A mirror in the middle of a sync serves an index of the wrong size ("Mirror sync
# in progress?"), and apt-get update then fails as a whole although the other
# indexes came in.  When the stale index is one architecture's of the security
# suite, apt knows the i386 libraries only from the release's own suite while the
# amd64 ones installed are already at the security suite's versions; a
# Multi-Arch: same library must have one version on both, so wine32:i386 cannot be
# resolved.  Taking the release's own suite as the target (-t) resolves it.

apt_update_log=${TMPDIR:-/tmp}/mavusfx-apt-update.log

apt_update() {
  local try rc
  for try in 1 2 3; do
    rc=0
    apt-get update -q 2>&1 | tee "$apt_update_log" || rc=$?
    [ "$rc" = 0 ] && ! grep -q '^[WE]: Failed to fetch' "$apt_update_log" && return 0
    [ "$try" = 3 ] || { echo "setup.sh: apt-get update failed, trying again in 15 s" >&2; sleep 15; }
  done
  echo "setup.sh: apt-get update failed three times; installing from the indexes it has" >&2
}

# The package indexes apt was told of but does not hold, and the suites that have an
# amd64 index but no i386 one: one "suite/architecture" a line.
apt_missing_indexes() {
  local targets
  targets=$(apt-get indextargets --format '$(RELEASE) $(ARCHITECTURE) $(FILENAME)' \
    'Identifier: Packages' 2>/dev/null) || return 0
  printf '%s\n' "$targets" | while read -r suite arch file; do
    [ -n "$file" ] && ! ls "$file"* >/dev/null 2>&1 && echo "$suite/$arch"
  done
  printf '%s\n' "$targets" | awk '{seen[$1" "$2]=1; s[$1]=1}
    END {for (x in s) if (seen[x" amd64"] && !seen[x" i386"]) print x"/i386"}'
}

# apt_install [apt-get options...] PACKAGE...: first as apt chooses; when that does
# not resolve, with the release's own suite as the target, so that a library takes
# the same version on both architectures although one of the security suite's
# indexes is missing.  When that fails too, one plain line says which index.
apt_install() {
  apt-get install -y -q "$@" && return 0
  echo "setup.sh: the install did not resolve; trying again with $codename as the target release" >&2
  apt-get install -y -q -t "$codename" "$@" && return 0
  local stale
  stale=$(apt_missing_indexes | sort -u | tr '\n' ' ')
  echo "setup.sh: could not install ${*}; stale or missing package index: ${stale:-none found}." \
    "Run 'apt-get update' and then scripts/setup.sh again in a few minutes." >&2
  return 1
}
