# Sourced by scripts/wine-e2e.sh and scripts/demo.sh: a headless X display and a
# fresh 32-bit Wine prefix under a Japanese locale, the driver that works the
# stub's windows (tests/wine/sfx_driver.cpp), and screenshots of the display.
#
#   wine_session_start WORK    everything lives under WORK; sets c_drive
#   wine_session_stop          ends the display and the prefix's processes
#   driver ARGS...             runs sfx_driver.exe inside the prefix, output in UTF-8
#   screenshot_when_ready BASE PNG
#                              takes PNG once the driver pauses at BASE (a Unix path
#                              inside the prefix; the driver is given the Windows one)

wine_session_start() {
  local work=$1 root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  export WINEPREFIX=$work/prefix HOME=$work/home
  # No Mono or Gecko, no desktop menu entries for the shortcuts, and no debugger:
  # crashes of Wine's own helpers under emulation must not wait for one.
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 TZ=UTC
  mkdir -p "$HOME"

  local display=90
  while [ -e /tmp/.X$display-lock ] || [ -e /tmp/.X11-unix/X$display ]; do display=$((display + 1)); done
  export DISPLAY=:$display
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  wine_session_xvfb=$!
  for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.1; done

  # Making the prefix starts a dozen of Wine's own processes; under emulation they
  # now and then deadlock or lose their server.  timeout signals its whole process
  # group, so a hung attempt leaves nothing behind, and a fresh prefix is tried.
  local attempt
  for attempt in 1 2 3; do
    if timeout -k 10 300 sh -c 'wineboot -i >/dev/null 2>&1 && wineserver -w' &&
        [ -f "$WINEPREFIX/system.reg" ]; then
      break
    fi
    [ "$attempt" -lt 3 ] || { echo "wine-session: the Wine prefix could not be made" >&2; return 1; }
    echo "wine-session: making the Wine prefix failed or hung (attempt $attempt); trying again" >&2
    rm -rf "$WINEPREFIX"
  done
  wineserver -p                       # one server for the whole session
  # "ＭＳ Ｐゴシック", the dialogs' font, and its kin are shown in the IPA fonts; with
  # no window manager on the display, Wine draws the window frames itself.
  {
    printf '\xff\xfe'
    iconv -f UTF-8 -t UTF-16LE <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"ＭＳ Ｐゴシック"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS PGothic"="IPAPGothic"
"MS Gothic"="IPAGothic"
"MS UI Gothic"="IPAPGothic"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
REG
  } > "$work/session.reg"
  wine regedit /S 'Z:'"${work//\//\\}"'\session.reg' >/dev/null 2>&1

  c_drive=$WINEPREFIX/drive_c
  mkdir -p "$c_drive/mavusfx"
  cp "$root/build/i686/sfx_driver.exe" "$c_drive/mavusfx/"
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  [ -z "${wine_session_xvfb:-}" ] || kill "$wine_session_xvfb" 2>/dev/null || true
}

driver() {
  wine 'C:\mavusfx\sfx_driver.exe' "$@" 2>/dev/null | tr -d '\r'
}

screenshot_when_ready() {
  local base=$1 png=$2
  (
    for _ in $(seq 1200); do
      if [ -e "$base.ready" ]; then
        import -window root -trim +repage "$png" 2>/dev/null || true
        touch "$base.done"
        exit 0
      fi
      sleep 0.1
    done
  ) &
}
