#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Idempotent: when everything is already there it prints nothing and exits at once.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
trap_failures

packages=(
  cmake make ninja-build g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb xauth x11-utils imagemagick fonts-nanum locales
  googletest nginx-light squid curl python3
  iproute2 util-linux mount
  libz-mingw-w64-dev zlib1g-dev openssl libssl-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "$(id -u)" -eq 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  [[ " ${missing[*]} " == *" wine32:i386 "* ]] || missing+=(wine32:i386)
fi

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "bootstrap: missing packages (run as root to install): ${missing[*]}" >&2
    exit 1
  fi
  echo "bootstrap: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught mid-sync fails an index for a while: asked again once, then tried with what came.
  apt-get update -o DPkg::Lock::Timeout=300 -qq || { sleep 15; apt-get update -o DPkg::Lock::Timeout=300 -qq; } ||
    echo "bootstrap: apt-get update failed: is the package registry reachable? trying with what came" >&2
  install() { apt-get install -o DPkg::Lock::Timeout=300 -y -qq --no-install-recommends "$@" >/tmp/bootstrap-apt.log 2>&1; }
  without32=()
  for p in "${missing[@]}"; do [ "$p" = wine32:i386 ] || without32+=("$p"); done
  # A mirror whose i386 index of the security updates is caught mid-sync offers amd64 libraries that their
  # i386 twins cannot follow: the release's own versions keep both architectures on one.
  release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if ! install "${missing[@]}" && ! { [ -n "$release" ] && install -t "$release" "${missing[@]}"; }; then
    # Without the i386 packages (their index half-synced on the mirror, say) the 64-bit Wine runs the
    # 64-bit build, as on a machine without IA-32.
    if [ ${#without32[@]} -lt ${#missing[@]} ] && install "${without32[@]}"; then
      echo "bootstrap: wine32:i386 would not install: the Windows programs are built and run as 64-bit ones" >&2
    else
      echo "bootstrap: these packages would not install: ${missing[*]}" >&2
      grep -E '^E:' /tmp/bootstrap-apt.log >&2 || tail -5 /tmp/bootstrap-apt.log >&2
      exit 1
    fi
  fi
fi

# Wine needs a UTF-8 Unix locale that exists; the Korean one lets the demo run as a Korean desktop would.
if ! locale -a 2>/dev/null | grep -qi '^ko_KR\.utf-\?8$'; then
  if [ "$(id -u)" -eq 0 ]; then
    sed -i 's/^# *\(ko_KR.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ko_KR.UTF-8 UTF-8' /etc/locale.gen || echo 'ko_KR.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  fi
fi
