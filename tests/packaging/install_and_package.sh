#!/usr/bin/env bash
# What a publisher installs: `cmake --install` and `cpack -G DEB` put the tool, the
# stub it carries, the manual page, the bash completion, the changelog and the
# copyright in place; the package names its maintainer and dependencies, is built
# twice to the same bytes and passes lintian (where installed) with --pedantic; the
# manual and the completion know every option the tool's usage names; and the tool
# configures without GoogleTest.
#
# Usage: install_and_package.sh SOURCE_DIR BUILD_DIR   (run by ctest)
set -uo pipefail
source_dir=$1
build=$2
work=$(mktemp -d /tmp/mavusfx-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }
carries_stub=false
[ -e "$build/embedded_stub_data.cpp" ] && carries_stub=true

echo "== cmake --install"
cmake --install "$build" --prefix "$work/usr" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"
  fail "cmake --install"
}
tool=$work/usr/bin/mavusfx
manual=$work/usr/share/man/man1/mavusfx.1.gz
completion=$work/usr/share/bash-completion/completions/mavusfx
stub=$work/usr/share/mavusfx/mavusfx.exe
[ -x "$tool" ] || fail "no executable usr/bin/mavusfx"
[ -s "$manual" ] || fail "no usr/share/man/man1/mavusfx.1.gz"
[ -s "$work/usr/share/doc/mavusfx/copyright" ] || fail "no usr/share/doc/mavusfx/copyright"
changelog=$work/usr/share/doc/mavusfx/changelog.gz
if [ -s "$changelog" ]; then
  # The changelog's newest entry is this version, and its maintainer the package's.
  version=$(sed -n 's/^project(mavusfx VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
  zcat "$changelog" | head -1 | grep -qF "mavusfx ($version)" ||
    fail "the changelog's first entry is not version $version: $(zcat "$changelog" | head -1)"
  changelog_maintainer=$(zcat "$changelog" | sed -n 's/^ -- \(.*>\)  .*/\1/p' | head -1)
else
  fail "no usr/share/doc/mavusfx/changelog.gz"
fi
[ -s "$completion" ] || fail "no usr/share/bash-completion/completions/mavusfx"
if $carries_stub; then
  [ -s "$stub" ] || fail "no usr/share/mavusfx/mavusfx.exe"
else
  [ ! -e "$stub" ] || fail "a stub installed by a tool that carries none"
fi
"$tool" list "$source_dir/tests/data/corpus/lh0_level2.lzh" >/dev/null ||
  fail "the installed tool does not list an archive"

# The installed tool makes an installer with no --stub, and it begins with the
# installed stub: one binary is all a publisher needs.
if $carries_stub; then
  mkdir -p "$work/app/bin"
  head -c 3000 /dev/urandom >"$work/app/bin/tool.exe"
  if "$tool" make --from "$work/app" -o "$work/setup.exe" >/dev/null; then
    size=$(stat -c %s "$stub")
    cmp -s -n "$size" "$stub" "$work/setup.exe" || fail "the installer does not begin with the installed stub"
    "$tool" test "$work/setup.exe" >/dev/null || fail "mavusfx test on the installer"
  else
    fail "make without --stub"
  fi
fi

echo "== the manual page and the completion know every option of the usage"
warnings=$(MANWIDTH=80 man --warnings -l "$manual" 2>&1 >"$work/manual.txt")
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"
usage=$({ "$tool"; "$tool" --help; } 2>&1)
options=$(grep -oE -- '(^|[ [(])-(-[a-z][a-z-]*|[a-zA-Z])\b' <<<"$usage" | sed 's/^[ [(]//' | sort -u)
[ -n "$options" ] || fail "no options found in the usage text"
for option in $options; do
  grep -qF -- "$option" "$work/manual.txt" || fail "the manual page lacks $option"
  grep -qF -- "$option" "$completion" || fail "the completion lacks $option"
done
for command in list test extract pack make; do
  grep -qE "^ +$command\b" "$work/manual.txt" || fail "the manual page lacks the command $command"
done
complete_words() { # the completion's answers for the words given
  bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _mavusfx; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$completion" "$@"
}
[ "$(complete_words mavusfx ma)" = make ] || fail "completion of mavusfx ma: $(complete_words mavusfx ma)"
[ "$(complete_words mavusfx make --desktop of | tr '\n' ' ')" = "off offer " ] ||
  fail "completion of a shortcut mode: $(complete_words mavusfx make --desktop of)"
[ "$(complete_words mavusfx pack DIR --me)" = --method ] || fail "completion of pack --me"

echo "== cpack -G DEB"
if env -u SOURCE_DATE_EPOCH cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1; then
  deb=$(ls "$work"/deb/mavusfx_*.deb 2>/dev/null | head -1)
  if [ -z "$deb" ]; then
    fail "cpack made no mavusfx_*.deb"
  else
    dpkg-deb -c "$deb" | awk '{print $NF}' >"$work/contents"
    expected="./usr/bin/mavusfx ./usr/share/man/man1/mavusfx.1.gz ./usr/share/bash-completion/completions/mavusfx
              ./usr/share/doc/mavusfx/changelog.gz ./usr/share/doc/mavusfx/copyright"
    $carries_stub && expected="$expected ./usr/share/mavusfx/mavusfx.exe"
    for path in $expected; do
      grep -qxF "$path" "$work/contents" || fail "the package lacks $path"
    done
    outside=$(grep -vE '^\./(usr/.*)?$' "$work/contents")
    [ -z "$outside" ] || fail "the package puts files outside /usr: $outside"
    [ "$(dpkg-deb -f "$deb" Package)" = mavusfx ] || fail "package name"
    maintainer=$(dpkg-deb -f "$deb" Maintainer)
    [ -n "$maintainer" ] || fail "no Maintainer field"
    [ "$maintainer" = "${changelog_maintainer:-}" ] ||
      fail "the Maintainer field ($maintainer) is not the changelog's (${changelog_maintainer:-none})"
    ! grep -qiE '@(example\.(org|com|net)|localhost)' <<<"$maintainer" || fail "a placeholder maintainer: $maintainer"
    depends=$(dpkg-deb -f "$deb" Depends)
    for library in libc6 libstdc++6; do
      grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
    done
    description=$(dpkg-deb -f "$deb" Description)
    grep -q "installer" <<<"$description" || fail "no Description"
    dpkg-deb -x "$deb" "$work/unpacked"
    "$work/unpacked/usr/bin/mavusfx" test "$source_dir/tests/data/corpus/lh0_level1.lzh" >/dev/null ||
      fail "the packaged tool does not test an archive"

    # Built again, the package is the same bytes: cpack stamps it with the last
    # commit's time unless SOURCE_DATE_EPOCH says otherwise.
    if env -u SOURCE_DATE_EPOCH cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb2" \
        >"$work/cpack2.log" 2>&1; then
      cmp -s "$deb" "$work"/deb2/mavusfx_*.deb || fail "two cpack runs give different packages"
    else
      cat "$work/cpack2.log"
      fail "cpack -G DEB, the second time"
    fi

    if command -v lintian >/dev/null; then
      echo "== lintian --pedantic"
      # lintian warns when run as root; that is the machine's business, not the package's.
      tags=$(lintian --pedantic --fail-on none "$deb" 2>/dev/null)
      [ -z "$tags" ] || fail "lintian: $tags"
    else
      echo "lintian is not installed: the package's lintian check is skipped"
    fi
  fi
else
  cat "$work/cpack.log"
  fail "cpack -G DEB"
fi

echo "== the tool alone, without GoogleTest"
if cmake -S "$source_dir" -B "$work/alone" -DMAVUSFX_TESTS=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  >"$work/alone.log" 2>&1; then
  targets=$(cmake --build "$work/alone" --target help)
  grep -qw mavusfx <<<"$targets" || fail "no mavusfx target without tests"
  ! grep -qw mavusfx_tests <<<"$targets" || fail "the test suite is configured with tests off"
else
  cat "$work/alone.log"
  fail "configuring with tests off and no GoogleTest"
fi

[ "$failed" = 0 ] && echo "install tree and package: all good"
exit "$failed"
