#!/usr/bin/env bash
# Runs Windows programs under Wine on a virtual X server, so that end-to-end
# tests and the demo can drive the setup program's windows and take screenshots.
#
# Sourced, for a scenario of several commands that share one X server and one
# wineserver:
#   source scripts/gui-run.sh
#   gui_start                            # Xvfb, a prefix on the x11 driver, wineserver
#   wine prog.exe & pid=$!
#   hwnd=$(gui_drive wait --title Corvane --visible)   # quillo-drive, see its usage
#   gui_shot screen.png                  # the whole screen
#   gui_shot_window "$hwnd" main.png     # the screen cut to one window
#   gui_drive command "$hwnd" 42
#   gui_wait $pid 60; rc=$?              # its exit code, or 124 when it ran 60 s and was ended
#   gui_stop                             # runs on exit as well when the caller has no EXIT trap
# Executed, it runs one program and returns its exit code:
#   scripts/gui-run.sh PROGRAM [ARGS...]
#
# QUILLO_WINE_PREFIX names a prefix to use (it is switched to X and kept);
# otherwise a copy of QUILLO_WINE_BASE (build/wine/base) is made and removed.
# QUILLO_DRIVE names quillo-drive.exe; without it the one of the x64 build is
# used, or one built from tests/windows/gui/QuilloDrive.cpp into /tmp.
# QUILLO_GUI_SIZE sets the screen and the Wine desktop (1024x768).
# QUILLO_GUI_DPI sets the display's DPI (LogPixels of HKCU\Control Panel\Desktop,
# which Wine takes as the system DPI and the DPI of its one monitor); 96 when unset.
# QUILLO_KEEP_PREFIX keeps the prefix copy for a look afterwards.

QUILLO_GUI_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# quillo-drive.exe: the given one, the build's, or one made here when missing or stale.
gui_drive_exe() {
  if [ -n "${QUILLO_DRIVE:-}" ]; then echo "$QUILLO_DRIVE"; return; fi
  local built="$QUILLO_GUI_ROOT/build/x64/tests/windows/quillo-drive.exe"
  local src="$QUILLO_GUI_ROOT/tests/windows/gui/QuilloDrive.cpp"
  if [ -f "$built" ] && [ "$built" -nt "$src" ]; then echo "$built"; return; fi
  local cache exe
  cache="${TMPDIR:-/tmp}/quillo-drive-$(id -u)"
  exe="$cache/quillo-drive.exe"
  if [ ! -f "$exe" ] || [ "$src" -nt "$exe" ]; then
    mkdir -p "$cache" || return 1
    local tmp="$cache/build.$$.exe"
    x86_64-w64-mingw32-g++-posix -O2 -static -municode "$src" -o "$tmp" -lgdiplus -lgdi32 >&2 || return 1
    mv -f "$tmp" "$exe"
  fi
  echo "$exe"
}

gui_start() {
  local size="${QUILLO_GUI_SIZE:-1024x768}"
  export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
  [ -z "${QUILLO_GUI_DIR:-}" ] || { echo "gui-run: a session is running already" >&2; return 1; }
  QUILLO_GUI_DIR="$(mktemp -d "${TMPDIR:-/tmp}/quillo-gui.XXXXXX")" || return 1
  QUILLO_GUI_SAVED_DISPLAY="${DISPLAY:-}" QUILLO_GUI_SAVED_PREFIX="${WINEPREFIX:-}"
  # Wine turns the command line into UTF-16 by the locale's charset.
  case "$(locale charmap 2>/dev/null)" in UTF-8) ;; *) export LC_ALL=C.UTF-8 ;; esac

  QUILLO_DRIVE="$(gui_drive_exe)" || { echo "gui-run: no quillo-drive.exe" >&2; gui_stop; return 1; }
  export QUILLO_DRIVE

  if [ -n "${QUILLO_WINE_PREFIX:-}" ]; then
    QUILLO_GUI_OWNED=0
    export WINEPREFIX="$QUILLO_WINE_PREFIX"
    wineserver -k >/dev/null 2>&1; wineserver -w  # the registry file is edited below
  else
    local base="${QUILLO_WINE_BASE:-$QUILLO_GUI_ROOT/build/wine/base}"
    [ -d "$base" ] || { echo "gui-run: no base prefix at $base (run scripts/wine-prefix.sh)" >&2; gui_stop; return 1; }
    QUILLO_GUI_OWNED=1
    export WINEPREFIX="$QUILLO_GUI_DIR/prefix"
    cp -a "$base/." "$WINEPREFIX/" || { gui_stop; return 1; }
  fi
  # The x11 driver inside one virtual desktop, and no crash dialog that would
  # wait for a click. No wineserver runs on the prefix now, so its registry
  # file takes the keys directly (a later section overrides an earlier one).
  printf '\n%s\n' \
    '[Software\\Wine\\Drivers] 0' '"Graphics"="x11"' '' \
    '[Software\\Wine\\Explorer] 0' '"Desktop"="Default"' '' \
    '[Software\\Wine\\Explorer\\Desktops] 0' "\"Default\"=\"$size\"" '' \
    '[Software\\Wine\\WineDbg] 0' '"ShowCrashDialog"=dword:00000000' >>"$WINEPREFIX/user.reg"
  if [ -n "${QUILLO_GUI_DPI:-}" ]; then
    printf '\n%s\n' '[Control Panel\\Desktop] 0' "\"LogPixels\"=dword:$(printf %08x "$QUILLO_GUI_DPI")" \
      >>"$WINEPREFIX/user.reg"
  fi

  # Xvfb picks a free display itself and tells its number through a file.
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset \
    3>"$QUILLO_GUI_DIR/display" >"$QUILLO_GUI_DIR/xvfb.log" 2>&1 &
  QUILLO_GUI_XVFB=$!
  disown "$QUILLO_GUI_XVFB" 2>/dev/null
  local i
  for ((i = 0; i < 200; i++)); do
    grep -q '^[0-9]' "$QUILLO_GUI_DIR/display" 2>/dev/null && break
    kill -0 "$QUILLO_GUI_XVFB" 2>/dev/null || break
    sleep 0.05
  done
  if ! grep -q '^[0-9]' "$QUILLO_GUI_DIR/display" 2>/dev/null; then
    echo "gui-run: Xvfb did not start:" >&2; cat "$QUILLO_GUI_DIR/xvfb.log" >&2
    gui_stop; return 1
  fi
  DISPLAY=":$(head -n1 "$QUILLO_GUI_DIR/display")"
  export DISPLAY
  export QUILLO_GUI_DIR QUILLO_GUI_XVFB QUILLO_GUI_OWNED
  # One wineserver for every command until gui_stop.
  wineserver -p
  [ -z "$(trap -p EXIT)" ] && trap gui_stop EXIT
  return 0
}

# quillo-drive in the running session: gui_drive wait --title Corvane ...
gui_drive() { wine "$QUILLO_DRIVE" "$@"; }

# gui_wait PID [SECONDS]: the exit code of a program started in the background,
# or 124 when it still runs after SECONDS (60); it is ended then.
gui_wait() {
  local pid="$1" limit="${2:-60}" i
  for ((i = 0; i < limit * 20; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "gui-run: process $pid still runs after ${limit} s, ending it" >&2
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 124
  fi
  wait "$pid"
}

# The whole screen (the Wine desktop) as PNG.
gui_shot() { import -display "$DISPLAY" -window root "$1"; }

# The screen cut to the rectangle of one window (layered windows included).
gui_shot_window() {
  local r x y w h
  r="$(gui_drive rect "$1")" || return 1
  read -r x y w h <<<"$r"
  import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$2"
}

gui_stop() {
  [ -n "${QUILLO_GUI_DIR:-}" ] || return 0
  if [ -n "${QUILLO_GUI_OWNED:-}" ]; then  # the session's prefix was set
    wineserver -k >/dev/null 2>&1
    timeout 20 wineserver -w >/dev/null 2>&1
  fi
  if [ -n "${QUILLO_GUI_XVFB:-}" ]; then
    kill "$QUILLO_GUI_XVFB" 2>/dev/null
    local i
    for ((i = 0; i < 100; i++)); do kill -0 "$QUILLO_GUI_XVFB" 2>/dev/null || break; sleep 0.05; done
  fi
  if [ -n "${QUILLO_KEEP_PREFIX:-}" ] && [ "${QUILLO_GUI_OWNED:-0}" = 1 ]; then
    echo "gui-run: prefix kept at $WINEPREFIX" >&2
    rm -f "$QUILLO_GUI_DIR/display" "$QUILLO_GUI_DIR/xvfb.log"
  else
    rm -rf "$QUILLO_GUI_DIR"
  fi
  if [ -n "${QUILLO_GUI_SAVED_PREFIX:-}" ]; then export WINEPREFIX="$QUILLO_GUI_SAVED_PREFIX"; else unset WINEPREFIX; fi
  if [ -n "${QUILLO_GUI_SAVED_DISPLAY:-}" ]; then export DISPLAY="$QUILLO_GUI_SAVED_DISPLAY"; else unset DISPLAY; fi
  unset QUILLO_GUI_DIR QUILLO_GUI_XVFB QUILLO_GUI_OWNED QUILLO_GUI_SAVED_DISPLAY QUILLO_GUI_SAVED_PREFIX
  [ "$(trap -p EXIT)" = "trap -- 'gui_stop' EXIT" ] && trap - EXIT
  return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  [ $# -ge 1 ] || { echo "usage: $0 PROGRAM [ARGS...]" >&2; exit 2; }
  gui_start || exit 125
  wine "$@"
  rc=$?
  gui_stop
  exit $rc
fi
