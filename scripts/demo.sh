#!/usr/bin/env bash
# Installs what is missing, builds the stub, packs a sample archive into an
# installer with `mavusfx make`, runs it under Wine on a headless display, confirms
# its destination dialog, and shows what it extracted.  The screenshot of the
# dialog goes to artifacts/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup.sh
scripts/build.sh >/dev/null
echo "stub: build/i686/mavusfx.exe, $(stat -c %s build/i686/mavusfx.exe) bytes"

work=$(mktemp -d /tmp/mavusfx-demo.XXXXXX)
# shellcheck source=scripts/wine-session.sh
. scripts/wine-session.sh
trap 'wine_session_stop; rm -rf "$work"' EXIT
echo "starting Wine (a fresh prefix takes a little while)..."
wine_session_start "$work"
artifacts=$root/artifacts/demo
mkdir -p "$artifacts" "$c_drive/demo"

build/native/mavusfx make --stub build/i686/mavusfx.exe --archive tests/data/corpus/lh0_level2.lzh \
  -o "$c_drive/demo/setup.exe" --title "Mavu SFX デモ" --dest 'C:\Program Files\Mavu デモ' \
  --shortcut-target readme.txt --start-menu offer --desktop offer --send-to off
echo
build/native/mavusfx list "$c_drive/demo/setup.exe"
echo
echo "running setup.exe under Wine and pressing OK in its dialog:"
screenshot_when_ready "$c_drive/demo/dialog" "$artifacts/destination-dialog.png"
driver run 'C:\demo\setup.exe' --shot-dialog 'C:\demo\dialog' | sed 's/^/  /'
echo
echo "extracted into C:\\Program Files\\Mavu デモ:"
(cd "$c_drive/Program Files/Mavu デモ" && find . -mindepth 1 | sort | while read -r f; do
  name=${f#./}
  if [ -d "$f" ]; then echo "  $name/"; continue; fi
  # Padded by display columns: a Japanese character takes two.
  pad=$((28 - $(printf '%s' "$name" | wc -L)))
  printf '  %s%*s %7s bytes  %s\n' "$name" $((pad > 0 ? pad : 0)) '' "$(stat -c %s "$f")" \
    "$(date -u -r "$f" '+%Y-%m-%d %H:%M')"
done)
echo "screenshot: artifacts/demo/destination-dialog.png"
