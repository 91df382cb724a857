#!/usr/bin/env bash
# A private Wine environment inside a build tree: a fresh 32-bit prefix, a virtual display and the
# settings the updater's tests rely on. Only the processes started here are ever stopped here.
#
#   wine-env.sh up   DIR        create DIR/prefix, start Xvfb and a persistent wineserver
#   wine-env.sh down DIR        stop them (by the process ids recorded in DIR)
#   wine-env.sh exec DIR CMD..  run CMD with the environment of DIR (used as the CTest emulator: CMD is an .exe)
#   wine-env.sh env  DIR        print the environment as shell assignments
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
trap_failures
cmd=${1:?usage: wine-env.sh up|down|exec|env DIR [CMD...]}
dir=${2:?missing DIR}
shift 2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

wine_locale() {
  # Wine needs a Unix locale that exists; the Korean one makes the ANSI code page 949, as on a Korean desktop.
  # WINE_LOCALE chooses another (C.UTF-8 gives code page 1252) for the tests that must hold on any system.
  if [ -n "${WINE_LOCALE:-}" ]; then echo "$WINE_LOCALE"; return; fi
  if locale -a 2>/dev/null | grep -qi '^ko_KR\.utf-\?8$'; then echo ko_KR.UTF-8; else echo C.UTF-8; fi
}

load_env() {
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
  export WINEPREFIX="$dir/prefix" WINEDEBUG=${WINEDEBUG:--all}
  if [ "$(windows_target)" = i686-w64-mingw32 ]; then
    export WINEARCH=win32
  else
    # A 64-bit Windows for the 64-bit build. Debian's wine, winepath, regedit ... start the 32-bit loader
    # whenever it is installed: "wine" and "wine-stable" in front of them start the 64-bit one.
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    mkdir -p "$dir/bin"
    for w in wine wine-stable; do
      [ -x "$dir/bin/$w" ] || printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' > "$dir/bin/$w"
      chmod +x "$dir/bin/$w"
    done
    case ":$PATH:" in *":$dir/bin:"*) ;; *) export PATH="$dir/bin:$PATH" ;; esac
  fi
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export LC_ALL=$(wine_locale)
  if [ -f "$dir/display" ]; then export DISPLAY=$(cat "$dir/display"); fi
}

start_xvfb() {
  if [ -f "$dir/xvfb.pid" ] && kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null; then return; fi
  local fifo="$dir/displayfd"
  rm -f "$fifo"; mkfifo "$fifo"
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 </dev/null &
  echo $! > "$dir/xvfb.pid"
  local n; read -r -t 20 n < "$fifo"
  rm -f "$fifo"
  echo ":$n" > "$dir/display"
}

reg_import() {
  # regedit takes UTF-16 files whatever the locale, which keeps the Korean face name intact.
  local file="$dir/settings.reg"
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Managed"="N"' '"Decorated"="N"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' '"굴림"="NanumGothic"' '"Gulim"="NanumGothic"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\DllOverrides]' '"winemenubuilder.exe"=""' '' \
    | iconv -f UTF-8 -t UTF-16 > "$file"
  wine regedit /S "$(winepath -w "$file")" >/dev/null 2>&1 </dev/null
}

real_user_folders() {
  # wineboot links these into $HOME; tests write there, so make them plain folders of the prefix.
  local u
  for u in "$WINEPREFIX"/drive_c/users/*/; do
    for f in Desktop Documents Downloads Music Pictures Videos; do
      if [ -L "$u$f" ]; then rm -f "$u$f"; mkdir -p "$u$f"; fi
    done
  done
}

case "$cmd" in
  up)
    "$0" down "$dir" || true
    rm -rf "$dir/prefix"
    start_xvfb
    load_env
    mkdir -p "$WINEPREFIX"
    # Boot the prefix, let that short-lived server end, then keep one persistent server for the tests.
    # Everything detached, so no Wine process ever holds a pipe that CTest reads.
    wine wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
    wineserver -p >/dev/null 2>&1 </dev/null
    wine wineboot >/dev/null 2>&1 </dev/null
    reg_import
    real_user_folders
    # The desktop process, started detached and kept: otherwise the first test program that opens a
    # window starts it with that program's output pipe, and CTest waits for it to end.
    setsid wine explorer.exe /desktop >/dev/null 2>&1 </dev/null &
    for _ in $(seq 100); do pgrep -f 'explorer.exe /desktop' >/dev/null && break; sleep 0.1; done
    echo "wine environment ready in $dir (DISPLAY=$DISPLAY)"
    ;;
  down)
    if [ -d "$dir/prefix" ]; then load_env; wineserver -k >/dev/null 2>&1 || true; fi
    if [ -f "$dir/xvfb.pid" ]; then
      pid=$(cat "$dir/xvfb.pid")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      rm -f "$dir/xvfb.pid" "$dir/display"
    fi
    ;;
  exec)
    load_env
    exe=$1; shift
    case "$exe" in
      *.exe|*.EXE)
        # A test program Wine ended before it wrote its banner (seen once on CI: a status in 0.07 s, where
        # Wine alone takes 0.2 s to start a program) is started once more. A program that began is never
        # started again, whatever its status: a test that fails fails.
        out=$(mktemp)
        rc=0; wine "$exe" "$@" 2>&1 | tee "$out" || rc=$?
        if [ "$rc" != 0 ] && ! grep -q '^\[==========\]' "$out"; then
          echo "wine-env.sh: $(basename "$exe") ended (status $rc) before it began; starting it once more" >&2
          rc=0; wine "$exe" "$@" || rc=$?
        fi
        rm -f "$out"
        exit "$rc" ;;
      *) exec "$exe" "$@" ;;
    esac
    ;;
  env)
    load_env
    for v in WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES LC_ALL DISPLAY PATH; do printf 'export %s=%q\n' "$v" "${!v-}"; done
    [ -z "${WINELOADER:-}" ] || printf 'export WINELOADER=%q\n' "$WINELOADER"
    ;;
  *) echo "unknown command $cmd" >&2; exit 2 ;;
esac
