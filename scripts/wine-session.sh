# Sourced by scripts/wine-e2e.sh and scripts/demo.sh: a headless X display and a
# fresh 64-bit Wine prefix under a Japanese locale, the driver that works the
# stub's windows (tests/wine/sfx_driver.cpp), and screenshots of the display.
#
#   wine_session_start WORK    everything lives under WORK; sets c_drive
#   wine_session_stop          ends the display and the prefix's processes
#   driver ARGS...             runs sfx_driver.exe inside the prefix, output in UTF-8
#   screenshot_when_ready BASE PNG [CROP]
#                              takes PNG once the driver pauses at BASE (a Unix path
#                              inside the prefix; the driver is given the Windows one):
#                              the screen trimmed to what is on it, or the part CROP
#                              (WxH+X+Y) of it as it is
#   when_ready BASE COMMAND... runs COMMAND once the driver pauses at BASE

wine_session_start() {
  local work=$1 root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  export WINEPREFIX=$work/prefix HOME=$work/home
  # No Mono or Gecko, no desktop menu entries for the shortcuts, and no debugger:
  # crashes of Wine's own helpers under emulation must not wait for one.
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 TZ=UTC
  # A 64-bit prefix, as the Windows most users have: the stub and the driver run as
  # 32-bit programs beside 64-bit system processes.  Where the kernel runs no 32-bit
  # code, only those two go through qemu-i386; Wine's server and its services (COM's
  # rpcss, the service manager, explorer) run natively.  Under the emulator they now
  # and then stop for good (a prefix's set-up was seen waiting 18 minutes on its
  # server), and a case that needs one of them hangs with it.
  export WINEARCH=win64
  mkdir -p "$HOME"

  local display=90
  while [ -e /tmp/.X$display-lock ] || [ -e /tmp/.X11-unix/X$display ]; do display=$((display + 1)); done
  export DISPLAY=:$display
  # A wide screen, as two monitors side by side give: the progress window is placed
  # against its edges and corners.
  Xvfb "$DISPLAY" -screen 0 3840x1080x24 -nolisten tcp >/dev/null 2>&1 &
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
    wine_session_kill_prefix
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

  # The first shell link of a prefix starts what the shell needs for it; done here
  # once, so that no case meets that start inside its own run.
  if ! timeout -k 10 300 wine 'C:\mavusfx\sfx_driver.exe' warm 2>/dev/null | tr -d '\r' | grep -qx warm; then
    echo "wine-session: the first shell link of the prefix failed or hung" >&2
  fi
}

# Ends every process of this session's prefix, Wine's services among them: they are
# started detached, so neither timeout nor a server that hangs takes them along.
wine_session_kill_prefix() {
  local proc
  for proc in /proc/[0-9]*; do
    case $(readlink "$proc/exe" 2>/dev/null) in
      */usr/lib/wine/*|*qemu-i386*) ;;
      *) continue ;;
    esac
    if tr '\0' '\n' < "$proc/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      kill -9 "${proc#/proc/}" 2>/dev/null || true
    fi
  done
}

wine_session_stop() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  [ -z "${WINEPREFIX:-}" ] || wine_session_kill_prefix
  [ -z "${wine_session_xvfb:-}" ] || kill "$wine_session_xvfb" 2>/dev/null || true
}

driver() {
  wine 'C:\mavusfx\sfx_driver.exe' "$@" 2>/dev/null | tr -d '\r'
}

screenshot_when_ready() {
  local base=$1 png=$2 crop=${3:-}
  if [ -n "$crop" ]; then
    when_ready "$base" import -window root -crop "$crop" +repage "$png"
  else
    when_ready "$base" import -window root -trim +repage "$png"
  fi
}

when_ready() {
  local base=$1
  shift
  (
    for _ in $(seq 1200); do
      if [ -e "$base.ready" ]; then
        "$@" >/dev/null 2>&1 || true
        touch "$base.done"
        exit 0
      fi
      sleep 0.1
    done
  ) &
}
