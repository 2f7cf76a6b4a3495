#!/usr/bin/env bash
# The wine side of the Windows test session.
#   wine-session.sh prefix BUILD_DIR  create the private prefix once (locked)
#   wine-session.sh start BUILD_DIR [HOLDER]
#                                     prefix, a persistent wineserver, an Xvfb screen, and
#                                     HOLDER (holdwindow.exe) keeping wine's desktop up
#   wine-session.sh stop BUILD_DIR    end them all
# BUILD_DIR/wine-env.sh holds the variables every wine run needs.
set -euo pipefail
cmd=$1
build=$(mkdir -p "$2" && cd "$2" && pwd)
prefix="$build/wineprefix"
envfile="$build/wine-env.sh"

write_env() {
  local display=""
  [ -f "$build/xvfb.display" ] && display=":$(cat "$build/xvfb.display")"
  {
    echo "export WINEPREFIX='$prefix'"
    echo "export WINEDEBUG=\${WINEDEBUG:--all}"
    echo "export WINEDLLOVERRIDES='mscoree,mshtml,winemenubuilder.exe='"
    echo "export KELVANE_TEMP=\${KELVANE_TEMP:-'Z:$(echo "$build/wine-temp" | tr / '\\')'}"
    [ -n "$display" ] && echo "export DISPLAY=\${DISPLAY:-$display}"
    true
  } > "$envfile.new"
  mv "$envfile.new" "$envfile"
}

# Bumped whenever the prefix's settings below change: an existing prefix then
# gets them on its next start.
settings_version=2

make_prefix() {
  mkdir -p "$build/wine-temp"
  [ -f "$envfile" ] || write_env
  [ "$(cat "$prefix/.kelvane-ready" 2>/dev/null)" = "$settings_version" ] && return 0
  exec 9>"$build/wineprefix.lock"
  flock 9
  [ "$(cat "$prefix/.kelvane-ready" 2>/dev/null)" = "$settings_version" ] && return 0
  source "$envfile"
  [ -f "$prefix/system.reg" ] || wineboot -i >/dev/null 2>&1 || true
  # No window manager here: do not wait for captioned windows to hide, end a
  # crashing program with a line on stderr instead of a dialog, and take the
  # temporary folder from KELVANE_TEMP (REGEDIT4: hex(2) holds ANSI bytes).
  # Display scale 100 %: the DPI tests change it for their own runs only.
  cat > "$build/kelvane.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Environment]
"TEMP"=hex(2):25,4b,45,4c,56,41,4e,45,5f,54,45,4d,50,25,00
"TMP"=hex(2):25,4b,45,4c,56,41,4e,45,5f,54,45,4d,50,25,00

[HKEY_CURRENT_USER\Control Panel\Desktop]
"LogPixels"=dword:00000060
REG
  # The splash's caption font family has no font here: wine draws it with
  # WenQuanYi Micro Hei (fonts-wqy-microhei), which covers its characters.
  # A value name outside ASCII needs the UTF-16 form of a registry file.
  { printf '\xff\xfe'
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
      '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' '"微软雅黑"="WenQuanYi Micro Hei"' |
      iconv -f UTF-8 -t UTF-16LE
  } > "$build/kelvane-fonts.reg"
  for file in kelvane.reg kelvane-fonts.reg; do
    wine regedit /S "$(echo "$build/$file" | sed 's|/|\\|g; s|^|Z:|')" >/dev/null 2>&1
  done
  wineserver -w
  echo "$settings_version" > "$prefix/.kelvane-ready"
}

# wine starts its desktop process when a program first asks for a window, and
# the desktop inherits that program's standard output and error and lives while
# any window exists. Started here by a program holding a hidden window, in a
# session of its own and with its output going to a log file, it is there
# before any test and holds no test's pipes.
start_holder() {
  local holder=$1 ready="$build/holdwindow.ready"
  if [ -f "$build/holdwindow.pid" ] && kill -0 "$(cat "$build/holdwindow.pid")" 2>/dev/null; then return 0; fi
  rm -f "$ready"
  setsid wine "$holder" "Z:$(echo "$ready" | tr / '\\')" </dev/null >"$build/holdwindow.log" 2>&1 &
  echo $! > "$build/holdwindow.pid"
  for _ in $(seq 600); do
    [ -f "$ready" ] && return 0
    kill -0 "$(cat "$build/holdwindow.pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "$0: the window holder did not start (see $build/holdwindow.log)" >&2
  return 1
}

# Ends a process and waits (10 s at most) until it is gone.
stop_process() {
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  echo "$0: process $1 did not end" >&2
  return 1
}

case "$cmd" in
  prefix) make_prefix ;;
  start)
    # Without its preloader wine64 fails to start about once in a few thousand
    # processes (scripts/install-deps.sh says why): refuse a flaky session.
    if [ -d /usr/lib/wine ] && [ ! -e /usr/lib/wine/wine64-preloader ]; then
      echo "$0: /usr/lib/wine/wine64-preloader is missing: apt-get install wine64-preloader" >&2
      exit 1
    fi
    if [ -z "${DISPLAY:-}" ] && ! { [ -f "$build/xvfb.pid" ] && kill -0 "$(cat "$build/xvfb.pid")" 2>/dev/null; }; then
      # -displayfd picks a free display number and writes it to us; -fbdir keeps
      # the screen in a file (xwd format) that screenshots read without asking
      # the X server. 1920 wide: the splash at 300 % is 1740.
      mkdir -p "$build/xvfb-fb"
      Xvfb -displayfd 1 -screen 0 1920x1200x24 -wr -nolisten tcp -fbdir "$build/xvfb-fb" \
        > "$build/xvfb.display.raw" 2>"$build/xvfb.log" </dev/null &
      echo $! > "$build/xvfb.pid"
      for _ in $(seq 100); do [ -s "$build/xvfb.display.raw" ] && break; sleep 0.1; done
      head -n1 "$build/xvfb.display.raw" | tr -d '\n' > "$build/xvfb.display"
    fi
    rm -f "$envfile"; write_env
    make_prefix
    source "$envfile"
    wineserver -p >/dev/null 2>&1 </dev/null || true  # already running is fine
    # The holder first: a desktop started by any other program ends about a
    # second after it, and a window asked for in that second fails, so the
    # holder would exit at once.
    if [ -n "${3:-}" ]; then start_holder "$3"; fi
    # Start wine's own background processes now, detached from the caller's
    # output: under a persistent server they outlive the program that starts
    # them, and would keep a test runner's pipes open.
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
    # Display scale 100 %, also after a DPI test that was cut short.
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1 </dev/null || true
    ;;
  stop)
    # Each one is waited for: signals only ask, and a start right after must
    # not meet a server or screen that is still going away.
    if [ -f "$build/holdwindow.pid" ]; then stop_process "$(cat "$build/holdwindow.pid")"; rm -f "$build/holdwindow.pid"; fi
    if [ -f "$envfile" ]; then source "$envfile"; wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true; fi
    if [ -f "$build/xvfb.pid" ]; then stop_process "$(cat "$build/xvfb.pid")"; rm -f "$build/xvfb.pid" "$build/xvfb.display"; fi
    rm -f "$envfile"; write_env
    ;;
  *) echo "usage: $0 prefix|start|stop BUILD_DIR" >&2; exit 2 ;;
esac
