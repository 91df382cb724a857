#!/bin/sh
# Local faults that a Windows program cannot make by itself, for the fault tests. Wine starts Unix
# programs too, but does not wait for them: the tests run this with Unix paths (as root: it mounts) and
# wait for DONE, which receives the exit status last.
#
#   hostfault.sh DONE readonly DIR    DIR becomes a read-only view of itself
#   hostfault.sh DONE full DIR KIB    DIR becomes a file system of KIB KiB holding a copy of what DIR holds
#   hostfault.sh DONE restore DIR     DIR as it was before either (what was written to the full one is gone)
#   hostfault.sh DONE only-loopback   succeeds when loopback is the only network interface the caller has
done_file=$1 cmd=$2 dir=${3:-}
run() {
  set -e
  case $cmd in
    readonly)
      mount --bind "$dir" "$dir"
      mount -o remount,bind,ro "$dir" ;;
    full)
      stage=$(mktemp -d)
      cp -a "$dir/." "$stage/"
      mount -t tmpfs -o "size=${1}k,mode=0755" hostfault "$dir"
      cp -a "$stage/." "$dir/"
      rm -rf "$stage" ;;
    restore)
      while mountpoint -q "$dir"; do umount "$dir" 2>/dev/null || umount -l "$dir"; done ;;
    only-loopback)
      [ "$(awk -F: 'NR > 2 { gsub(/ /, "", $1); print $1 }' /proc/self/net/dev)" = lo ] ;;
    *) echo "usage: hostfault.sh DONE readonly|full|restore DIR [KIB] | only-loopback" >&2; return 2 ;;
  esac
}
shift $(( $# < 3 ? $# : 3 ))
(run "$@") 2>"$done_file.err"
echo $? > "$done_file.tmp"
mv "$done_file.tmp" "$done_file"
