#!/usr/bin/env bash
# Test fixture: a small release folder served by the reference nginx setup.
#   fixture.sh up DIR ADDRESS | down DIR | curl-absolute-form ADDRESS
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib.sh"
trap_failures
# The release and nginx's state lie in a folder only its owner may enter, behind a path with a blank, quotes
# and Korean letters, as a clone under /root or in "my work" would put them.
private() { echo "$1/비공개 'it's' \"my work\""; }
case "$1" in
  up)
    dir=$(private "$2") address=$3
    rm -rf "$dir"
    mkdir -p "$dir/release/update/db" "$dir/release/marrowtide/sub"
    chmod 0700 "$dir"
    printf 'probe gdb bytes\r\n' > "$dir/release/update/db/probe.gdb"
    printf 'probe program bytes\r\n' > "$dir/release/marrowtide/sub/probe.dll"
    "$root/scripts/nginx.sh" start "$dir/run" "$address" "$dir/release"
    ;;
  down) "$root/scripts/nginx.sh" stop "$(private "$2")/run" ;;
  curl-absolute-form)
    # A Windows client sends the DB pass's default folder as an absolute-form request target.
    got=$(curl -s --max-time 5 --request-target "http://$2/update/db//probe.gdb" "http://$2/")
    [ "$got" = $'probe gdb bytes\r' ] || { echo "absolute form gave: $got"; exit 1; }
    echo "absolute form served"
    ;;
esac
