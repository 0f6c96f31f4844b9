#!/usr/bin/env bash
# End-to-end runs of the stub under Wine: combined files made with `mavusfx make`,
# run in a fresh 64-bit Wine prefix on a headless X display under a Japanese locale,
# worked through their real windows by tests/wine/sfx_driver.exe, and checked by
# the files they leave.  Screenshots go to artifacts/e2e/.
#
# Usage: scripts/wine-e2e.sh        (builds first; run scripts/setup.sh once before)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/build.sh >/dev/null

tool=$root/build/native/mavusfx
stored_archive=$root/build/native/stored_archive
stub=$root/build/i686/mavusfx.exe
corpus=$root/tests/data/corpus
artifacts=$root/artifacts/e2e
rm -rf "$artifacts"
mkdir -p "$artifacts"

work=$(mktemp -d /tmp/mavusfx-e2e.XXXXXX)
# shellcheck source=scripts/wine-session.sh
. scripts/wine-session.sh
cleanup() {
  wine_session_stop
  rm -rf "$work"
}
trap cleanup EXIT
started=$SECONDS
wine_session_start "$work"
echo "wine-e2e: Wine prefix ready after $((SECONDS - started)) s"
mkdir -p "$c_drive/e2e/bin"

# ---- helpers ---------------------------------------------------------------------

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "  ok: $*"; }
fail() { failed=$((failed + 1)); echo "  FAILED: $*"; }
check() { # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
seen() { grep -Fxq -- "$1" "$work/out"; }        # the driver reported this line
seen_part() { grep -Fq -- "$1" "$work/out"; }    # ... or a line containing this
unix_path() { # C:\e2e\x -> the prefix's file
  local p=${1#C:}
  echo "$c_drive${p//\\//}"
}

# pack NAME ARCHIVE [make options]: C:\e2e\bin\NAME.exe
pack() {
  local name=$1 archive=$2
  shift 2
  "$tool" make --stub "$stub" --archive "$archive" -o "$c_drive/e2e/bin/$name.exe" "$@" >/dev/null
}

# drive NAME [driver options]: runs C:\e2e\bin\NAME.exe through the driver.
drive() {
  local name=$1
  shift
  driver run "C:\\e2e\\bin\\$name.exe" "$@" > "$work/out" || true
  sed 's/^/    | /' "$work/out"
  if grep -q '^timeout' "$work/out"; then
    # The driver has described the stub's windows and the prefix's processes; what
    # runs on the Linux side (Wine's services, the emulator) completes the picture.
    echo "    | Linux processes of the session:"
    ps -eo pid,etimes,stat,pcpu,args | grep -iE 'wine|\.exe|qemu' | grep -v grep | sed 's/^/    |   /'
  fi
}

# links NAME: reports (and removes) NAME.lnk in the Start menu, desktop and Send To.
links() {
  driver links "$1" > "$work/out" || true
  sed 's/^/    | /' "$work/out"
}

# Every member of a corpus archive, as its manifest says: content and time stamp.
check_corpus_files() { # ARCHIVE FOLDER_UNIX
  local archive=$1 folder=$2 bad=0 kind path_hex size sha mtime path
  while IFS=$'\t' read -r name kind path_hex size sha _ mtime; do
    [ "$name" = "$archive" ] || continue
    path=$(printf '%s' "$path_hex" | xxd -r -p | iconv -f CP932 -t UTF-8)
    if [ "$kind" = dir ]; then
      [ -d "$folder/$path" ] || { echo "    missing folder $path"; bad=1; }
      continue
    fi
    if [ ! -f "$folder/$path" ]; then
      echo "    missing $path"
      bad=1
    elif [ "$(sha256sum < "$folder/$path" | cut -d' ' -f1)" != "$sha" ]; then
      echo "    wrong content: $path"
      bad=1
    elif [ "$(stat -c %Y "$folder/$path")" != "$mtime" ]; then
      echo "    wrong time stamp: $path ($(stat -c %Y "$folder/$path"), not $mtime)"
      bad=1
    fi
  done < "$corpus/manifest.tsv"
  return $bad
}

# ---- test data -------------------------------------------------------------------

"$stored_archive" "$work/small.lzh" "bin/tool.exe=$root/build/i686/launch_marker.exe" \
  "readme.txt=@3000" "docs/manual.txt=@5000" >/dev/null
# The big member takes long enough under Wine for the stop button to land inside it.
"$stored_archive" "$work/long.lzh" "bin/tool.exe=$root/build/i686/launch_marker.exe" \
  "first.txt=@2000" "big.bin=@96000000" "last.txt=@2000" >/dev/null
"$stored_archive" "$work/bad_crc.lzh" "bin/tool.exe=$root/build/i686/launch_marker.exe" \
  "good.txt=@2000" --bad-crc "bad.txt" "bad.txt=@3000" "after.txt=@1000" >/dev/null

# ---- the runs --------------------------------------------------------------------

echo "== corpus archives extracted into the configured destination"
# The "-lh0-" archives, and one archive of every other method that the host tool
# already extracts cleanly (decoders land one by one).
archives="lh0_level0 lh0_level1 lh0_level2"
for method in lh1 lh2 lh3 lh4 lh5 lh6 lh7 lzs lz5; do
  [ -e "$corpus/${method}_level1.lzh" ] || continue
  if "$tool" test "$corpus/${method}_level1.lzh" >/dev/null 2>&1; then
    archives="$archives ${method}_level1"
  fi
done
for archive in $archives; do
  dest="C:\\e2e\\corpus\\$archive"
  pack "$archive" "$corpus/$archive.lzh" --title "Corpus $archive" --dest "$dest"
  drive "$archive"
  check "$archive: dialog shows the configured destination" seen_part "dialog title=Corpus $archive dest=$dest "
  check "$archive: exit code 0" seen "exit 0"
  check "$archive: every member exact" check_corpus_files "$archive.lzh" "$(unix_path "$dest")"
done

echo "== a new destination two levels deep, typed in the dialog"
pack two "$work/small.lzh" --title "二段" --dest 'C:\e2e\two\configured'
typed='C:\e2e\two\表\ソフト'   # both names hold a 0x5C trail byte in Shift-JIS
drive two --dest "$typed"
check "both levels created, members there" test -f "$(unix_path "$typed")/docs/manual.txt"
check "the configured folder is not made" test ! -e "$c_drive/e2e/two/configured"
check "exit code 0" seen "exit 0"

echo "== Cancel in the destination dialog"
pack cancel "$work/small.lzh" --dest 'C:\e2e\cancel\dest' --start-menu forced \
  --shortcut-target 'bin\tool.exe' --launch 'bin\tool.exe'
drive cancel --cancel
check "dialog shown" seen_part "dialog title=Mavu SFX dest=C:\\e2e\\cancel\\dest "
check "no progress window" bash -c "! grep -q '^progress' '$work/out'"
check "nothing extracted" test ! -e "$c_drive/e2e/cancel"
check "exit code 0" seen "exit 0"
links tool
check "no shortcut" seen "programs absent"

echo "== no configuration block: no dialog, the current folder"
pack noconfig "$work/small.lzh" --no-config
mkdir -p "$c_drive/e2e/noconfig"
drive noconfig --cwd 'C:\e2e\noconfig'
check "no dialog" bash -c "! grep -q '^dialog' '$work/out'"
check "progress window titled Mavu SFX" seen_part "progress title=Mavu SFX size=220x100"
check "members in the current folder" test -f "$c_drive/e2e/noconfig/docs/manual.txt"
check "no launch" test ! -e "$c_drive/e2e/noconfig/launched.txt"
check "exit code 0" seen "exit 0"

echo "== shortcuts: options checked, offered, forced; the boxes left alone; launch"
dest='C:\e2e\links1\インストール先'
pack links1 "$work/small.lzh" --title "ショートカットの試験" --dest "$dest" \
  --shortcut-target 'bin\tool.exe' --start-menu checked --desktop offer --send-to forced \
  --launch 'bin\tool.exe'
screenshot_when_ready "$c_drive/e2e/dialog-shot" "$artifacts/destination-dialog.png"
drive links1 --shot-dialog 'C:\e2e\dialog-shot'
check "box states: 3 checked, 1 offered, 2 forced" \
  seen "dialog title=ショートカットの試験 dest=$dest 1002=checked,enabled 1003=unchecked,enabled 1004=checked,disabled"
check "exit code 0" seen "exit 0"
check "the launch target ran in the destination" test -f "$(unix_path "$dest")/launched.txt"
links tool
check "Start menu link to the target, working folder the destination" \
  seen "programs present target=$dest\\bin\\tool.exe workdir=$dest icon=$dest\\bin\\tool.exe,0"
check "no desktop link (offered, left unchecked)" seen "desktop absent"
check "Send To link (forced)" seen_part "sendto present target=$dest\\bin\\tool.exe "

echo "== shortcuts: the user unchecks, checks, and cannot change a disabled box"
dest='C:\e2e\links2'
pack links2 "$work/small.lzh" --dest "$dest" --shortcut-target 'bin\tool.exe' \
  --start-menu checked --desktop offer --send-to off
drive links2 --click 1002 --click 1003 --click 1004
check "box states: 3, 1, 0" seen_part "1002=checked,enabled 1003=unchecked,enabled 1004=unchecked,disabled"
check "the disabled box stays" seen "cannot click 1004: disabled"
check "exit code 0" seen "exit 0"
links tool
check "no Start-menu link (unchecked by the user)" seen "programs absent"
check "desktop link (checked by the user)" seen_part "desktop present target=$dest\\bin\\tool.exe workdir=$dest "
check "no Send To link (not offered)" seen "sendto absent"

echo "== the stop button during a long extraction"
dest='C:\e2e\stop'
pack long "$work/long.lzh" --title "中止の試験" --dest "$dest" --shortcut-target 'bin\tool.exe' \
  --start-menu forced --launch 'bin\tool.exe'
screenshot_when_ready "$c_drive/e2e/progress-shot" "$artifacts/progress-window.png"
drive long --stop-at big.bin --shot-progress 'C:\e2e\progress-shot'
check "stop pressed inside big.bin" seen "pressed stop"
# What a run stopped inside big.bin leaves in FOLDER (a Windows path).
check_stopped() {
  local folder
  folder=$(unix_path "$1")
  check "exit code 0" seen "exit 0"
  check "earlier members stay" test -f "$folder/first.txt"
  check "the unfinished file is gone" test ! -e "$folder/big.bin"
  check "later members never came" test ! -e "$folder/last.txt"
  check "no launch" test ! -e "$folder/launched.txt"
  links tool
  check "no shortcut" seen "programs absent"
}
check_stopped "$dest"

echo "== closing the window during the extraction"
drive long --dest 'C:\e2e\close' --close-at big.bin
check "window closed inside big.bin" seen "closed window"
check_stopped 'C:\e2e\close'

echo "== a destination that cannot be created"
pack nodrive "$work/small.lzh" --dest 'C:\e2e\nodrive' --launch 'bin\tool.exe'
drive nodrive --dest 'Q:\存在しない\フォルダ'
check "the box says so" seen_part "text=フォルダを作成できません"
check "no progress window" bash -c "! grep -q '^progress' '$work/out'"
check "nothing extracted" test ! -e "$c_drive/e2e/nodrive"
check "exit code 0" seen "exit 0"

echo "== an archive with a bad CRC: the end-of-run report"
dest='C:\e2e\badcrc'
pack badcrc "$work/bad_crc.lzh" --title "CRCの試験" --dest "$dest" --shortcut-target 'bin\tool.exe' \
  --start-menu forced --launch 'bin\tool.exe'
drive badcrc
check "the report names the member" seen "box caption=CRCの試験 text=一部のファイルを正しく展開できませんでした|bad.txt"
check "exit code 1" seen "exit 1"
check "the other members are there" test -f "$(unix_path "$dest")/after.txt"
check "no launch" test ! -e "$(unix_path "$dest")/launched.txt"
links tool
check "no shortcut" seen "programs absent"

echo "== an installer signed after make (osslsigncode, a throwaway certificate)"
dest='C:\e2e\signed'
pack unsigned "$work/small.lzh" --title "署名付き" --dest "$dest" --launch 'bin\tool.exe'
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Mavu SFX test publisher" -addext extendedKeyUsage=codeSigning >/dev/null 2>&1
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Mavu SFX test" \
  -in "$c_drive/e2e/bin/unsigned.exe" -out "$c_drive/e2e/bin/signed.exe" >/dev/null
verifies() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >/dev/null 2>&1; }
check "the signature verifies" verifies "$c_drive/e2e/bin/signed.exe"
drive signed
check "dialog shows the configured title and destination" seen_part "dialog title=署名付き dest=$dest "
check "exit code 0" seen "exit 0"
check "the program member exact" cmp -s "$root/build/i686/launch_marker.exe" "$(unix_path "$dest")/bin/tool.exe"
check "every member there, whole" test "$(stat -c %s "$(unix_path "$dest")/readme.txt" \
  "$(unix_path "$dest")/docs/manual.txt" | tr '\n' ' ')" = "3000 5000 "
check "the launch target ran" test -f "$(unix_path "$dest")/launched.txt"

echo "wine-e2e: $((SECONDS - started)) s in all"
for png in destination-dialog progress-window; do
  check "screenshot $png.png" test -s "$artifacts/$png.png"
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
