#!/usr/bin/env bash
# Runs the reference update server (server/nginx.conf.in) for tests and the demo, and a caching tier in
# front of one (server/nginx-cache.conf.in).
#   nginx.sh start DIR ADDRESS RELEASE   serve RELEASE on ADDRESS:80, state in DIR
#   nginx.sh cache DIR ADDRESS ORIGIN    on ADDRESS:80, a cache of the server on ORIGIN:80, state in DIR
#   nginx.sh stop DIR                    stop the server started with DIR (by its pid file)
# DIR is nginx's prefix: the configuration names its files relative to it and serves DIR/release, a link
# to RELEASE, so any folder works, whatever its path holds. The workers run as the user who starts nginx,
# so they can read whatever that user can (a clone under /root, mode 0700, included).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
trap_failures
cmd=${1:?usage: nginx.sh start DIR ADDRESS RELEASE | cache DIR ADDRESS ORIGIN | stop DIR}
dir=${2:?missing DIR}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
# nginx reads a '$' in the paths it builds from its prefix as a variable, and has no way to escape it.
case "$dir" in *'$'*) die "nginx cannot keep its state under a path with '\$' in it: $dir" ;; esac

stop() {
  if [ -f "$dir/nginx.pid" ]; then
    local pid
    pid=$(cat "$dir/nginx.pid")
    kill -QUIT "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$dir/nginx.pid"
  fi
}

case "$cmd" in
  start|cache)
    address=${3:?missing ADDRESS}
    stop
    mkdir -p "$dir/tmp"
    if [ "$cmd" = start ]; then
      release=$(cd "${4:?missing RELEASE}" && pwd) || die "no release folder at '$4'"
      ln -sfn "$release" "$dir/release"
      sed -e "s|@USER@|$(id -un) $(id -gn)|" -e "s|@LISTEN@|$address|" "$here/../server/nginx.conf.in" > "$dir/nginx.conf"
    else
      rm -rf "$dir/cache"
      sed -e "s|@USER@|$(id -un) $(id -gn)|" -e "s|@LISTEN@|$address|" -e "s|@ORIGIN@|${4:?missing ORIGIN}|" \
        "$here/../server/nginx-cache.conf.in" > "$dir/nginx.conf"
    fi
    if ! nginx -p "$dir/" -c "$dir/nginx.conf" -e "$dir/error.log" </dev/null >"$dir/start.log" 2>&1; then
      die "nginx did not start on $address:80: $(cat "$dir/start.log" "$dir/error.log" 2>/dev/null | tail -3)"
    fi
    for _ in $(seq 50); do [ -s "$dir/nginx.pid" ] && break; sleep 0.1; done
    [ -s "$dir/nginx.pid" ] || die "nginx wrote no pid file: $(tail -3 "$dir/error.log" 2>/dev/null)"
    ;;
  stop) stop ;;
  *) die "unknown command $cmd (start or stop)" ;;
esac
