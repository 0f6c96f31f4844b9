#!/usr/bin/env bash
# The same sources give the same stub: built twice, from copies of the tree at two
# different paths, at two different times and without SOURCE_DATE_EPOCH, the two
# images are equal byte for byte and carry no link time.  Installers made twice
# from the same inputs are equal too.
#
# Usage: reproducible_build.sh SOURCE_DIR TOOL   (run by ctest; 77: no cross compiler)
set -uo pipefail
source_dir=$1
tool=$2
command -v i686-w64-mingw32-g++ >/dev/null || {
  echo "no i686-w64-mingw32-g++: skipped"
  exit 77
}
work=$(mktemp -d /tmp/mavusfx-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }

# build_stub TREE: copies the sources to TREE and builds the stub there.
build_stub() {
  local tree=$1
  mkdir -p "$tree"
  tar -C "$source_dir" --exclude=./build --exclude=./artifacts --exclude=./.git -cf - . | tar -C "$tree" -xf -
  (
    unset SOURCE_DATE_EPOCH
    cmake -S "$tree" -B "$tree/out" -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/mingw-i686.cmake" &&
      cmake --build "$tree/out" --target mavusfx -j2
  ) >"$tree.log" 2>&1 || {
    cat "$tree.log"
    return 1
  }
}

if build_stub "$work/a/src" && sleep 1 && build_stub "$work/b/a/longer/path/src"; then
  first=$work/a/src/out/mavusfx.exe
  second=$work/b/a/longer/path/src/out/mavusfx.exe
  if ! cmp -s "$first" "$second"; then
    fail "two builds of the stub differ: $(cmp -l "$first" "$second" | wc -l) bytes, the first at $(cmp "$first" "$second" | awk '{print $5}')"
  fi
  # TimeDateStamp: 8 bytes into the PE header, named at 0x3C.
  pe=$(od -An -tu4 -j 60 -N4 "$first" | tr -d ' ')
  stamp=$(od -An -tu4 -j $((pe + 8)) -N4 "$first" | tr -d ' ')
  [ "$stamp" = 0 ] || fail "the stub's PE header carries a link time ($stamp)"
  for tree in "$work/a/src" "$work/b/a/longer/path/src"; do
    if grep -qaF "$tree" "$tree/out/mavusfx.exe"; then fail "the stub holds its build path $tree"; fi
  done

  # Installers from the same folder and settings, made at different times.
  mkdir -p "$work/app/bin"
  head -c 20000 /dev/urandom >"$work/app/bin/tool.exe"
  echo "read me" >"$work/app/readme.txt"
  for n in 1 2; do
    "$tool" make --stub "$first" --from "$work/app" -o "$work/setup$n.exe" --title "同じ" \
      --start-menu checked --shortcut-target 'bin\tool.exe' >/dev/null || fail "make $n"
    sleep 1
  done
  cmp -s "$work/setup1.exe" "$work/setup2.exe" || fail "two installers from the same inputs differ"
else
  fail "building the stub"
fi

[ "$failed" = 0 ] && echo "the stub and the installers: the same bytes each time"
exit "$failed"
