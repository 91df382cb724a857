#!/usr/bin/env bash
# Runs the reference update server (server/nginx.conf.in) for tests and the demo.
#   nginx.sh start DIR ADDRESS RELEASE   serve RELEASE on ADDRESS:80, state in DIR
#   nginx.sh stop DIR                    stop the server started with DIR (by its pid file)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cmd=${1:?usage: nginx.sh start DIR ADDRESS RELEASE | stop DIR}
dir=${2:?missing DIR}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

stop() {
  if [ -f "$dir/nginx.pid" ]; then
    pid=$(cat "$dir/nginx.pid")
    kill -QUIT "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$dir/nginx.pid"
  fi
}

case "$cmd" in
  start)
    address=${3:?missing ADDRESS}
    release=$(cd "${4:?missing RELEASE}" && pwd)
    stop
    mkdir -p "$dir/tmp"
    sed -e "s|@RUN@|$dir|g" -e "s|@LISTEN@|$address|g" -e "s|@RELEASE@|$release|g" \
      "$here/../server/nginx.conf.in" > "$dir/nginx.conf"
    if ! nginx -c "$dir/nginx.conf" -e "$dir/error.log" </dev/null >"$dir/start.log" 2>&1; then
      echo "nginx.sh: nginx did not start on $address:80:" >&2
      cat "$dir/start.log" "$dir/error.log" 2>/dev/null | tail -3 >&2
      exit 1
    fi
    for _ in $(seq 50); do [ -s "$dir/nginx.pid" ] && break; sleep 0.1; done
    [ -s "$dir/nginx.pid" ] || { echo "nginx.sh: nginx wrote no pid file:" >&2; tail -3 "$dir/error.log" >&2; exit 1; }
    ;;
  stop) stop ;;
  *) echo "unknown command $cmd" >&2; exit 2 ;;
esac
