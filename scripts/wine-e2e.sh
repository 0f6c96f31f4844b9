#!/usr/bin/env bash
# End-to-end runs of the stub under Wine: combined files made with `mavusfx make`,
# run in a fresh 64-bit Wine prefix on a headless X display under a Japanese locale,
# worked through their real windows by tests/wine/sfx_driver.exe, and checked by
# the files they leave.  Screenshots go to artifacts/e2e/.
#
# Usage: scripts/wine-e2e.sh        (builds first; run scripts/setup.sh once before)
#        E2E_GROUPS="dpi codepages" scripts/wine-e2e.sh   runs only those groups:
#        classic (the runs under the Japanese locale), user (the window, the keys,
#        the dialog's mistakes and a disk that fills), dpi, codepages, elevation, dlls,
#        identity (the publisher's icon and properties)
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

wanted() { [ -z "${E2E_GROUPS:-}" ] || [[ " $E2E_GROUPS " == *" $1 "* ]]; }

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

# What a run stopped inside big.bin leaves in FOLDER (a Windows path).
check_stopped() {
  local folder
  folder=$(unix_path "$1")
  check "exit code 5" seen "exit 5"
  check "earlier members stay" test -f "$folder/first.txt"
  check "the unfinished file is gone" test ! -e "$folder/big.bin"
  check "later members never came" test ! -e "$folder/last.txt"
  check "no launch" test ! -e "$folder/launched.txt"
  links tool
  check "no shortcut" seen "programs absent"
}

# ---- test data -------------------------------------------------------------------

"$stored_archive" "$work/small.lzh" "bin/tool.exe=$root/build/i686/launch_marker.exe" \
  "readme.txt=@3000" "docs/manual.txt=@5000" >/dev/null
# The big member takes long enough under Wine for the stop button to land inside it.
"$stored_archive" "$work/long.lzh" "bin/tool.exe=$root/build/i686/launch_marker.exe" \
  "first.txt=@2000" "big.bin=@96000000" "last.txt=@2000" >/dev/null
"$stored_archive" "$work/bad_crc.lzh" "bin/tool.exe=$root/build/i686/launch_marker.exe" \
  "good.txt=@2000" --bad-crc "bad.txt" "bad.txt=@3000" "after.txt=@1000" >/dev/null
"$stored_archive" "$work/over_4gib.lzh" "first.txt=@2000" --over-4gib "huge.bin" "huge.bin=@3000" \
  "after.txt=@1000" >/dev/null

# ---- the runs --------------------------------------------------------------------

if wanted classic; then
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
check "exit code 2" seen "exit 2"
links tool
check "no shortcut" seen "programs absent"

echo "== no configuration block: no dialog, the current folder"
pack noconfig "$work/small.lzh" --no-config
mkdir -p "$c_drive/e2e/noconfig"
drive noconfig --cwd 'C:\e2e\noconfig'
check "no dialog" bash -c "! grep -q '^dialog' '$work/out'"
check "progress window titled Mavu SFX, 220 wide" seen_part "progress title=Mavu SFX size=220x"
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
check_stopped "$dest"

echo "== closing the window during the extraction"
drive long --dest 'C:\e2e\close' --close-at big.bin
check "window closed inside big.bin" seen "closed window"
check_stopped 'C:\e2e\close'

echo "== a destination that cannot be created: the dialog again, the text as typed"
pack nodrive "$work/small.lzh" --dest 'C:\e2e\nodrive' --launch 'bin\tool.exe'
drive nodrive --dest 'Q:\存在しない\フォルダ'
check "the box says so" seen_part "text=フォルダを作成できません"
check "the dialog again, the text as typed" seen_part "dialog again dest=Q:\\存在しない\\フォルダ "
check "no progress window" bash -c "! grep -q '^progress' '$work/out'"
check "nothing extracted" test ! -e "$c_drive/e2e/nodrive"
check "exit code 2 (cancelled in the dialog)" seen "exit 2"

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

echo "== a member whose extended header gives a size past 4 GiB: refused, not cut"
dest='C:\e2e\over4gib'
pack over4gib "$work/over_4gib.lzh" --title "大きすぎる試験" --dest "$dest"
drive over4gib
check "the report names the member" \
  seen "box caption=大きすぎる試験 text=一部のファイルを正しく展開できませんでした|huge.bin"
check "exit code 1" seen "exit 1"
check "nothing of it is written" test ! -e "$(unix_path "$dest")/huge.bin"
check "the members around it are there" \
  test -f "$(unix_path "$dest")/first.txt" -a -f "$(unix_path "$dest")/after.txt"

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

echo "== an installer cut short: one report, nothing extracted"
dest='C:\e2e\cut'
pack cut "$work/small.lzh" --title "途中の試験" --dest "$dest" --shortcut-target 'bin\tool.exe' \
  --start-menu forced --launch 'bin\tool.exe'
truncate -s -1000 "$c_drive/e2e/bin/cut.exe"
drive cut
check "the report says the file is cut short" \
  seen "box caption=途中の試験 text=ファイルが壊れているか、途中までしかありません。もう一度入手してください"
check "exit code 1" seen "exit 1"
check "nothing extracted" bash -c "[ -z \"\$(ls -A '$(unix_path "$dest")' 2>/dev/null)\" ]"
links tool
check "no shortcut" seen "programs absent"

echo "== a header of a layout no reader knows: its box, then the damage report"
# A level-0 member without CRC-16 whose name byte is then made one shorter: its
# header holds one byte more than the name and the fixed fields.
python3 - "$work/odd.lzh" <<'PY'
import struct, sys
body = b"-lh0-" + struct.pack("<III", 0, 0, 0x5A210000) + bytes([0x20, 0, 2]) + b"xy"
open(sys.argv[1], "wb").write(bytes([len(body), sum(body) & 0xFF]) + body + b"\0")
PY
dest='C:\e2e\odd'
pack odd "$work/odd.lzh" --title "見出しの試験" --dest "$dest"
python3 - "$c_drive/e2e/bin/odd.exe" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.rfind(b"-lh0-")
assert data[at + 19:at + 22] == b"\x02xy"
data[at + 19] = 1
open(sys.argv[1], "wb").write(data)
PY
drive odd
check "the unknown header is shown once" test "$(grep -cFx "box caption=Mavu SFX text=Unknown header" "$work/out")" = 1
check "then the archive is reported damaged" \
  seen "box caption=見出しの試験 text=ファイルが壊れているか、途中までしかありません。もう一度入手してください"
check "exit code 1" seen "exit 1"
check "nothing extracted" bash -c "[ -z \"\$(ls -A '$(unix_path "$dest")' 2>/dev/null)\" ]"

echo "== members that need more room than the disk has"
# 4096 members of 4 GiB each, one packed byte apiece: 16 TiB declared, more than
# the prefix's disk holds; every member's data lies inside the file.
python3 - "$work/huge.lzh" <<'PY'
import struct, sys
out = bytearray()
for i in range(4096):
    name = b"huge%d.bin" % i
    body = b"-lh5-" + struct.pack("<III", 1, 0xFFFFFFFE, 0x5A210000) + bytes([0x20, 0, len(name)]) + name + b"\0\0"
    out += bytes([len(body), sum(body) & 0xFF]) + body + b"\0"
out += b"\0"
open(sys.argv[1], "wb").write(out)
PY
dest='C:\e2e\huge'
pack huge "$work/huge.lzh" --title "容量の試験" --dest "$dest"
drive huge
check "the report says the disk is too small" seen "box caption=容量の試験 text=ディスクの空き容量が足りません"
check "exit code 1" seen "exit 1"
check "nothing extracted" bash -c "[ -z \"\$(ls -A '$(unix_path "$dest")' 2>/dev/null)\" ]"

echo "== a link in the destination to a folder outside it"
dest='C:\e2e\linked'
mkdir -p "$(unix_path "$dest")" "$c_drive/e2e/outside/docs"
echo "outside" > "$c_drive/e2e/outside/docs/manual.txt"
ln -s ../outside/docs "$(unix_path "$dest")/docs"
pack linked "$work/small.lzh" --dest "$dest"
drive linked
# Whether a link made from Linux shows as a reparse point depends on the Wine
# version; where it does, the member is refused and named and the file outside stays.
if seen_part "text=一部のファイルを正しく展開できませんでした|docs/manual.txt"; then
  pass "the link shows as a reparse point: the member is refused and named"
  check "the file outside is untouched" grep -qx outside "$c_drive/e2e/outside/docs/manual.txt"
  check "exit code 1" seen "exit 1"
else
  echo "  note: this Wine does not show a Linux symbolic link as a reparse point"
fi

for png in destination-dialog progress-window; do
  check "screenshot $png.png" test -s "$artifacts/$png.png"
done
fi


# ---- where its users click, type and run out of room ---------------------------------

if wanted user; then
echo "== 中止 from the keyboard: the focus on it, Escape, Enter and Space press it"
pack keys "$work/long.lzh" --title "Keys" --dest 'C:\e2e\keys' --shortcut-target 'bin\tool.exe' \
  --start-menu forced --launch 'bin\tool.exe'
for key in Escape Return space; do
  # Real key events of the X server (XTEST); with no window manager the server sends
  # them to the window under the pointer, which the driver puts over the window.
  when_ready "$c_drive/e2e/keys-pause" xdotool key "$key"
  drive keys --keys-at big.bin --shot-progress 'C:\e2e\keys-pause'
  rm -f "$c_drive/e2e/keys-pause".*
  check "$key: the stop button has the focus" seen_part "focus class=Button text=中止 "
  check_stopped 'C:\e2e\keys'
done

echo "== a long path in the status line: one line, its middle elided"
"$stored_archive" "$work/longpath.lzh" "first.txt=@2000" \
  "deep/very/long/folder/with/many/levels/below/it/the_end.txt=@48000000" >/dev/null
# A title of 16 full-width characters, which a 220-pixel window cut at 96 DPI.
pack longpath "$work/longpath.lzh" --title "十六文字の題名を持つ展開用の小窓" --dest 'C:\e2e\longpath'
screenshot_when_ready "$c_drive/e2e/longpath-shot" "$artifacts/progress-long-path.png"
drive longpath --hold-at 'deep\very\long\folder\with\many\levels\below\it\the_end.txt' \
  --shot-progress 'C:\e2e\longpath-shot' --timeout 300
rm -f "$c_drive/e2e/longpath-shot".*
# status ink=LEFT,TOP,RIGHT,BOTTOM control=WxH line=LINE
ink_one_full_line() {
  local ink control line l t r b w
  read -r _ ink control line < <(grep '^status ink=' "$work/out")
  IFS=, read -r l t r b <<<"${ink#ink=}"
  w=${control#control=}
  w=${w%x*}
  line=${line#line=}
  echo "    ink $l,$t to $r,$b in a control $w wide, a line $line high"
  # One line from the top (no part of a second one), reaching the control's right end
  # (the file name, not a line broken after a folder).
  [ "$b" -le "$line" ] && [ "$r" -le "$w" ] && [ "$r" -ge $((w - 16)) ]
}
check "the status line shows one line that fills its width" ink_one_full_line
check "the title is not cut" grep -q '^title width=[0-9]* room=[0-9]* fits$' "$work/out"
check "exit code 0" seen "exit 0"
check "screenshot" test -s "$artifacts/progress-long-path.png"

echo "== a destination longer than 259 characters: refused, never cut"
long_dest='C:\e2e\toolong'
for i in $(seq 1 20); do long_dest+="\\directory_number_$i"; done
long_dest=${long_dest:0:331}
pack toolong "$work/small.lzh" --dest 'C:\e2e\toolong' --shortcut-target 'bin\tool.exe' \
  --start-menu forced --launch 'bin\tool.exe'
drive toolong --dest "$long_dest"
check "the box says so" seen_part "text=フォルダを作成できません"
check "the dialog again, all 331 characters in it" seen_part "dialog again dest=$long_dest "
check "nothing made" test ! -e "$c_drive/e2e/toolong"
check "exit code 2" seen "exit 2"
links tool
check "no shortcut" seen "programs absent"

echo "== an empty field, then a folder typed with slashes and a separator at its end"
pack slash "$work/small.lzh" --dest 'C:\e2e\slash\configured' --shortcut-target 'bin\tool.exe' \
  --start-menu forced --launch 'bin\tool.exe'
drive slash --dest '<empty>' --dest 'C:/e2e/slash/sub/'
check "the empty field: the box" seen_part "text=フォルダを作成できません"
check "the dialog again, empty" seen_part "dialog again dest= "
check "exit code 0" seen "exit 0"
check "members in the new folder" test -f "$c_drive/e2e/slash/sub/docs/manual.txt"
check "the launch ran there" test -f "$c_drive/e2e/slash/sub/launched.txt"
links tool
check "the shortcut's target with backslashes" \
  seen_part 'programs present target=C:\e2e\slash\sub\bin\tool.exe workdir=C:\e2e\slash\sub'
drive slash --dest 'C:\e2e\slash2\sub\\'
check "two backslashes at the end: exit code 0" seen "exit 0"
check "two backslashes at the end: members there" test -f "$c_drive/e2e/slash2/sub/docs/manual.txt"
links tool >/dev/null

echo "== a read-only destination: said once, before any member"
mkdir -p "$c_drive/e2e/readonly"
chattr +i "$c_drive/e2e/readonly"
pack readonly "$work/small.lzh" --title "書けない" --dest 'C:\e2e\readonly'
drive readonly
chattr -i "$c_drive/e2e/readonly"
check "one sentence, no member listed" seen "box caption=書けない text=展開先のフォルダに書き込めません"
check "one box" test "$(grep -c '^box ' "$work/out")" = 1
check "exit code 1" seen "exit 1"
check "nothing inside" bash -c "[ -z \"\$(ls -A '$c_drive/e2e/readonly')\" ]"

echo "== the disk fills during the run: only whole files are left"
# A small tmpfs.  With the worker held inside big.bin, the disk is filled but for the
# pages big.bin still needs: big.bin comes out whole, and the small members after
# it find the disk full when their buffers are flushed at their close.
mkdir -p "$c_drive/e2e/full"
if mount -t tmpfs -o size=32m tmpfs "$c_drive/e2e/full" 2>/dev/null; then
  "$stored_archive" "$work/fill.lzh" "first.txt=@2000" "big.bin=@24000000" "s1.txt=@1000" "s2.txt=@1000" \
    "s3.txt=@1000" "s4.txt=@1000" "s5.txt=@1000" >/dev/null
  "$tool" extract -C "$work/fill-expected" "$work/fill.lzh" >/dev/null
  pack fill "$work/fill.lzh" --title "満杯" --dest 'C:\e2e\full\dest'
  cat > "$work/fill.sh" <<'SH'
full=$1
part=$(ls "$full"/dest/mavusfx~*.tmp | head -1)
page=$(stat -f -c %S "$full")
need=$(( (24000000 + page - 1) / page - ($(stat -c %s "$part") + page - 1) / page ))
dd if=/dev/zero of="$full/filler" bs="$page" count=$(( $(stat -f -c %f "$full") - need ))
SH
  when_ready "$c_drive/e2e/fill-pause" sh "$work/fill.sh" "$c_drive/e2e/full"
  drive fill --hold-at big.bin --shot-progress 'C:\e2e\fill-pause'
  rm -f "$c_drive/e2e/fill-pause".*
  check "the report names the small members" \
    seen "box caption=満杯 text=一部のファイルを正しく展開できませんでした|s1.txt|s2.txt|s3.txt|s4.txt|s5.txt"
  check "exit code 1" seen "exit 1"
  whole_files_only() {
    local f bad=0
    for f in "$c_drive/e2e/full/dest"/*; do
      [ -e "$f" ] || continue
      if ! cmp -s "$f" "$work/fill-expected/${f##*/}"; then
        echo "    not whole: ${f##*/} ($(stat -c %s "$f") bytes)"
        bad=1
      fi
    done
    return $bad
  }
  check "every file left is whole, no 0-byte file, no temporary" whole_files_only
  check "first.txt and big.bin are there" test -f "$c_drive/e2e/full/dest/first.txt" -a -f "$c_drive/e2e/full/dest/big.bin"
  umount "$c_drive/e2e/full"
else
  echo "  note: no tmpfs can be mounted here; the full disk is not tried"
fi

echo "== the folder browser: owned by the dialog, opened at the typed folder"
mkdir -p "$c_drive/e2e/browse/start"
pack browse "$work/small.lzh" --dest 'C:\e2e\browse\configured' --launch 'bin\tool.exe'
# Cancelled first: the first folder browser of a fresh Wine prefix does not take a
# folder to open at (later ones do).
drive browse --dest 'C:\e2e\browse\start' --browse cancel
check "owned by the dialog, which is disabled meanwhile" seen "browser owner=dialog dialog=disabled"
check "the dialog's OK pressed while the browser was open did nothing" \
  seen_part 'dialog again dest=C:\ '
check "nothing extracted into C:\\" test ! -e "$c_drive/docs/manual.txt"
check "no launch" test ! -e "$c_drive/launched.txt"
check "exit code 2" seen "exit 2"
drive browse --dest 'C:\e2e\browse\start' --dest '' --browse ok
check "its OK: the typed folder, where it opened, in the field" seen_part 'dialog again dest=C:\e2e\browse\start '
check "exit code 0" seen "exit 0"
check "members in the chosen folder" test -f "$c_drive/e2e/browse/start/docs/manual.txt"

# After the other cases: the first program with a window in a fresh prefix starts
# Wine's desktop, which puts the pointer back in the middle of the screen.
echo "== the progress window inside the work area, the pointer at each edge and corner"
# The screen is 3840 x 1080; each shot is the screen's part at that edge or corner.
pack edge "$work/long.lzh" --no-config
mkdir -p "$c_drive/e2e/edge"
for spot in top-left:0,0:0,0 top:1920,0:1680,0 top-right:3839,0:3360,0 right:3839,540:3360,440 \
    bottom-right:3839,1079:3360,880 bottom:1920,1079:1680,880 bottom-left:0,1079:0,880 left:0,540:0,440; do
  IFS=: read -r name at crop <<<"$spot"
  screenshot_when_ready "$c_drive/e2e/edge-shot" "$artifacts/progress-edge-$name.png" "480x200+${crop%,*}+${crop#*,}"
  for try in 1 2; do
    xdotool mousemove "${at%,*}" "${at#*,}"
    drive edge --cwd 'C:\e2e\edge' --pointer "$at" --stop-at big.bin --shot-progress 'C:\e2e\edge-shot'
    rm -f "$c_drive/e2e/edge-shot".*
    # Wine now and then moves the pointer back to the screen's middle as the stub
    # starts; the run is then not at the edge it was meant for, and is made again.
    seen_part "placed pointer=$at " && break
    echo "  note: the pointer was not at $at when the stub started; once more"
    [ "$try" = 2 ] || screenshot_when_ready "$c_drive/e2e/edge-shot" "$artifacts/progress-edge-$name.png" \
      "480x200+${crop%,*}+${crop#*,}"
  done
  check "$name ($at): the window wholly inside the work area" \
    grep -q "^placed pointer=$at window=.* work=0,0,3840,1080 inside\$" "$work/out"
  check "$name: stopped, exit code 5" seen "exit 5"
  check "$name: screenshot" test -s "$artifacts/progress-edge-$name.png"
done

for png in edge-top-left edge-top edge-top-right edge-right edge-bottom-right edge-bottom edge-bottom-left \
    edge-left long-path; do
  check "screenshot progress-$png.png" test -s "$artifacts/progress-$png.png"
done
fi

if wanted race; then
echo "== a folder swapped for a link while the stub extracts into it"
# A Linux process exchanges the folder the stub has just made with a link to a
# folder outside; Wine's share modes do not hold a Linux process back, so only
# looking names up from the open folders keeps the writes inside.
"$stored_archive" "$work/race.lzh" "s/payload.txt=@100" "s/t/deeper.txt=@100" "s/last.txt=@100" >/dev/null
dest='C:\e2e\race'
pack race "$work/race.lzh" --dest "$dest"
outside=$work/race-outside
mkdir -p "$outside"
written_outside=0
swapped=0
for round in $(seq "${E2E_RACE_ROUNDS:-20}"); do
  rm -rf "$(unix_path "$dest")" "$work/race-stop"
  mkdir -p "$(unix_path "$dest")"
  ln -s "$outside" "$(unix_path "$dest")/lnk"
  python3 tests/wine/folder_swapper.py "$(unix_path "$dest")" s "$(unix_path "$dest")/lnk" \
    "$work/race-stop" > "$work/race-swaps" &
  swapper=$!
  driver run "C:\\e2e\\bin\\race.exe" > "$work/out" || true
  touch "$work/race-stop"
  wait "$swapper" || true
  swapped=$((swapped + $(cat "$work/race-swaps")))
  [ -z "$(ls -A "$outside")" ] || written_outside=$((written_outside + 1))
  rm -rf "${outside:?}"/*
done
check "nothing written outside in any round ($swapped swaps)" test "$written_outside" = 0
check "the swaps happened" test "$swapped" -gt 0
fi

# ---- the Windows its users have: scaling, code pages, elevation, planted DLLs ------

sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }
# The big member keeps the window up long enough for its name to be seen.
"$stored_archive" "$work/japanese.lzh" "$(sjis 'ツール/道具.exe')=$root/build/i686/launch_marker.exe" \
  "$(sjis '説明書.txt')=@3000" "$(sjis 'データ/大きな.bin')=@24000000" >/dev/null

# set_dpi N: the system DPI of the prefix's user, which Wine reads at each start.
set_dpi() {
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "$1" \
    > "$work/dpi.reg"
  wine regedit /S 'Z:'"${work//\//\\}"'\dpi.reg' >/dev/null 2>&1
}

if wanted dpi; then
echo "== the progress window at 100, 125, 150 and 200 % scaling"
pack scaled "$work/long.lzh" --title "中止の試験" --dest 'C:\e2e\scaled'
for dpi in 96 120 144 192; do
  set_dpi "$dpi"
  screenshot_when_ready "$c_drive/e2e/scaled-shot" "$artifacts/progress-window-$dpi.png"
  drive scaled --stop-at big.bin --shot-progress 'C:\e2e\scaled-shot'
  rm -f "$c_drive/e2e/scaled-shot".*
  check "$dpi DPI: the system's DPI seen" seen_part "layout dpi=$dpi "
  check "$dpi DPI: nothing cut off, the stop button inside" seen_part " cut=none"
  check "$dpi DPI: the window $((220 * dpi / 96)) wide" seen_part "size=$((220 * dpi / 96))x"
  check "$dpi DPI: stop pressed" seen "pressed stop"
  check "$dpi DPI: exit code 5" seen "exit 5"
  check "$dpi DPI: screenshot" test -s "$artifacts/progress-window-$dpi.png"
done
set_dpi 96
fi

# japanese_run LOCALE: Japanese title, member names and shortcut name under LOCALE.
japanese_run() {
  local locale=$1 dest="C:\\e2e\\$1\\インストール先"
  pack "jp-$locale" "$work/japanese.lzh" --title "日本語の題名" --dest "$dest" \
    --shortcut-target 'ツール\道具.exe' --start-menu forced --launch 'ツール\道具.exe'
  LANG=$locale LC_ALL=$locale drive "jp-$locale"
  check "$locale: the title in the dialog and the window" \
    seen_part "dialog title=日本語の題名 dest=$dest "
  check "$locale: the window's title" seen_part "progress title=日本語の題名 "
  check "$locale: the member names shown" seen "status データ\\大きな.bin"
  check "$locale: exit code 0" seen "exit 0"
  check "$locale: the files under their names" test -f "$(unix_path "$dest")/説明書.txt"
  check "$locale: the launch ran" test -f "$(unix_path "$dest")/launched.txt"
  LANG=$locale LC_ALL=$locale links 道具
  check "$locale: the shortcut under its name, to its target" \
    seen_part "programs present target=$dest\\ツール\\道具.exe workdir=$dest "
}

if wanted codepages; then
echo "== a Western code page (1252) and UTF-8 (65001)"
for locale in en_US.UTF-8:1252 hi_IN.UTF-8:65001; do
  LANG=${locale%:*} LC_ALL=${locale%:*} driver codepage > "$work/out"
  sed 's/^/    | /' "$work/out"
  check "${locale%:*} is code page ${locale#*:} under Wine" seen "codepage ${locale#*:}"
  japanese_run "${locale%:*}"
done

echo "== the installer in a folder named in Korean, under code page 1252"
mkdir -p "$c_drive/e2e/한국"
"$tool" make --stub "$stub" --archive "$work/japanese.lzh" -o "$c_drive/e2e/한국/setup.exe" \
  --title "日本語の題名" --dest 'C:\e2e\korean\インストール先' >/dev/null
LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 driver run 'C:\e2e\한국\setup.exe' --cwd 'C:\e2e\한국' > "$work/out" || true
sed 's/^/    | /' "$work/out"
check "the dialog came" seen_part "dialog title=日本語の題名 "
check "exit code 0" seen "exit 0"
check "members extracted" test -f "$c_drive/e2e/korean/インストール先/ツール/道具.exe"

echo "== a typed folder that Shift-JIS cannot hold"
LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 driver run 'C:\e2e\한국\setup.exe' --cwd 'C:\e2e\한국' \
  --dest 'C:\e2e\한국\설치' > "$work/out" || true
sed 's/^/    | /' "$work/out"
check "the box says so" seen_part "text=フォルダを作成できません"
check "no progress window" bash -c "! grep -q '^progress' '$work/out'"
check "nothing made" test ! -e "$c_drive/e2e/한국/설치"
check "exit code 2" seen "exit 2"
fi

if wanted elevation; then
echo "== each requested execution level (Wine runs every level alike; no UAC)"
for level in invoker highest admin; do
  pack "level-$level" "$work/small.lzh" --dest "C:\\e2e\\level-$level" --elevation "$level"
  "$tool" list "$c_drive/e2e/bin/level-$level.exe" > "$work/list"
  case $level in invoker) name=asInvoker ;; highest) name=highestAvailable ;; *) name=requireAdministrator ;; esac
  check "$level: list shows $name" grep -q "elevation: *$name\$" "$work/list"
  drive "level-$level"
  check "$level: exit code 0" seen "exit 0"
  check "$level: members extracted" test -f "$c_drive/e2e/level-$level/docs/manual.txt"
done
pack level-pf "$work/small.lzh" --dest Tool --program-files
"$tool" list "$c_drive/e2e/bin/level-pf.exe" > "$work/list"
check "Program Files: requireAdministrator" grep -q "elevation: *requireAdministrator\$" "$work/list"
fi

if wanted identity; then
echo "== the publisher's icon and properties"
dest='C:\e2e\identity'
pack identity "$work/long.lzh" --title "アイコンの試験" --dest "$dest" \
  --icon "$root/tests/data/icons/publisher.ico" --product-name "試験の製品" --company "株式会社試験" \
  --description "試験のインストーラ" --file-version 2.5.0.7 --copyright "© 2026 試験"
"$tool" list "$c_drive/e2e/bin/identity.exe" > "$work/list"
check "list shows the product" grep -q '^  product: *"試験の製品"$' "$work/list"
check "list shows the version" grep -q '^  version: *"2.5.0.7"$' "$work/list"
# Signed after make, as publishers ship it.
[ -e "$work/key.pem" ] || openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" \
  -out "$work/cert.pem" -days 2 -subj "/CN=Mavu SFX test publisher" -addext extendedKeyUsage=codeSigning >/dev/null 2>&1
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Mavu SFX test" \
  -in "$c_drive/e2e/bin/identity.exe" -out "$c_drive/e2e/bin/identity-signed.exe" >/dev/null
check "the signature verifies" bash -c \
  "osslsigncode verify -CAfile '$work/cert.pem' -in '$c_drive/e2e/bin/identity-signed.exe' >/dev/null 2>&1"
screenshot_when_ready "$c_drive/e2e/identity-shot" "$artifacts/installer-icon.png"
drive identity-signed --shot-progress 'C:\e2e\identity-shot'
check "dialog shows the configured title" seen_part "dialog title=アイコンの試験 dest=$dest "
check "ran to the end: exit code 0" seen "exit 0"
check "every member there, the last too" test -f "$(unix_path "$dest")/last.txt"
check "screenshot installer-icon.png" test -s "$artifacts/installer-icon.png"
# The title bar's icon, at the window's top left: the publisher's orange, which the
# stub's own icon does not hold.
orange=$(convert "$artifacts/installer-icon.png" -crop 24x24+0+0 +repage -colorspace sRGB \
  -fx 'abs(r-0.94)<0.12 && abs(g-0.5)<0.12 && b<0.15' -format '%[fx:round(mean*w*h)]' info: 2>/dev/null || echo 0)
check "the title bar shows the publisher's icon ($orange orange pixels)" test "$orange" -ge 20
fi

if wanted dlls; then
echo "== a comctl32.dll planted beside the installer, on a system without SetDefaultDllDirectories"
mkdir -p "$c_drive/e2e/downloads"
cp "$root/build/i686/planted.dll" "$c_drive/e2e/downloads/comctl32.dll"
"$tool" make --stub "$root/build/i686/mavusfx_without_default_dll_directories.exe" \
  --archive "$work/small.lzh" -o "$c_drive/e2e/downloads/setup.exe" --no-config >/dev/null
driver run 'C:\e2e\downloads\setup.exe' --cwd 'C:\e2e\downloads' > "$work/out" || true
sed 's/^/    | /' "$work/out"
check "the planted DLL was never loaded" test ! -e "$c_drive/e2e/downloads/planted.txt"
check "the progress bar is there (System32's comctl32)" seen_part " bar=7,23,200x20 "
check "exit code 0" seen "exit 0"
check "members extracted" test -f "$c_drive/e2e/downloads/docs/manual.txt"
fi

echo "wine-e2e: $((SECONDS - started)) s in all"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
