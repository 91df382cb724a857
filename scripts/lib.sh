# Shared by the project's scripts (sourced): every failure names its cause.

# Stops the script with a message that says what went wrong.
die() { echo "$(basename "$0"): $*" >&2; exit 1; }

# Reports the command that failed, for failures no check below foresaw: in functions and subshells too
# (errtrace), where bash would otherwise end the script without a word.
trap_failures() {
  set -E
  trap 'failed_status=$?; echo "$(basename "$0"): failed (status $failed_status) at line $LINENO: $BASH_COMMAND" >&2' ERR
}

# What listens on port 80 of ADDRESS, or of every address (which takes ADDRESS too): "address (program)"
# per line; nothing when the port is free there.
port80_holders() {
  local address=$1
  ss -ltnpH 2>/dev/null | awk -v a="$address" '
    { split($4, p, ":"); port = p[length(p)]; host = substr($4, 1, length($4) - length(port) - 1)
      if (port == "80" && (host == a || host == "0.0.0.0" || host == "*" || host == "[::]")) {
        prog = $6; sub(/^users:\(\("/, "", prog); sub(/".*/, "", prog); print $4 " (" prog ")" } }'
}

# Stops with a message naming the holder when port 80 of ADDRESS is taken.
require_port80_free() {
  local address=$1 holders
  holders=$(port80_holders "$address")
  [ -z "$holders" ] || die "port 80 of $address is taken by: $(echo $holders) (stop it first; e.g. a system nginx)"
}

# Builds the vendor's publishing tool (a native program) in DIR and prints its path.
build_release_tool() {
  local dir=$1 root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  cmake -S "$root" -B "$dir" -DUPDATER_TESTS=OFF >/dev/null || die "the publishing tool could not be configured"
  cmake --build "$dir" -j "$(nproc)" --target marrowtide-release >/dev/null || die "the publishing tool did not build"
  echo "$dir/tools/release/marrowtide-release"
}

# The Windows target the tests and the demo build and run under Wine: the shipped 32-bit program where this
# machine runs 32-bit code, else the same sources for 64-bit Windows (a kernel built or booted without IA-32
# emulation refuses every 32-bit executable, the 32-bit Wine's loader included). WINDOWS_TARGET chooses.
windows_target() {
  if [ -n "${WINDOWS_TARGET:-}" ]; then echo "$WINDOWS_TARGET"
  elif /usr/lib/wine/wine --version >/dev/null 2>&1; then echo i686-w64-mingw32
  else echo x86_64-w64-mingw32
  fi
}

# Says once, on standard error, when the tests cannot run the program as it ships.
note_windows_target() {
  [ "$(windows_target)" = i686-w64-mingw32 ] ||
    echo "note: this machine does not run 32-bit code (no IA-32 emulation in its kernel): the Windows programs are built for $(windows_target) and run under the 64-bit Wine" >&2
}
