#!/usr/bin/env bash
# Makes a sample release for the update server from our stand-in programs:
#   make-release.sh OUT HOST STANDIN_EXE REGPROBE_DLL
# OUT/update/db/DBUpdate.ver lists the database files (two ".gdb", one ".adb", one for the install folder);
# OUT/marrowtide/MarrowtideWeb.ver lists the product's programs and a DLL flagged for registration.
# Version texts are taken from the files' contents, so a changed file is due again. Both version-info
# files are written in code page 949 with CR LF line ends, as the updater reads them.
set -euo pipefail
out=${1:?OUT} host=${2:?HOST} standin=${3:?STANDIN_EXE} regprobe=${4:?REGPROBE_DLL}
rm -rf "$out"
mkdir -p "$out/update/db" "$out/marrowtide"

# Database files: deterministic bytes of a few hundred KiB, so a download takes long enough to watch.
make_db() { python3 - "$1" "$2" "$3" <<'PY'
import sys, hashlib
path, size, salt = sys.argv[1], int(sys.argv[2]), sys.argv[3].encode()
block, out = hashlib.sha256(salt).digest(), bytearray()
while len(out) < size:
    block = hashlib.sha256(block).digest()
    out += block
open(path, "wb").write(bytes(out[:size]))
PY
}
make_db "$out/update/db/MarwMain.gdb" 393216 main
make_db "$out/update/db/MarwHeur.gdb" 262144 heuristics
make_db "$out/update/db/MarwWhite.adb" 131072 whitelist
make_db "$out/update/db/MarwEngine.dat" 65536 engine

for p in Marrowtide.exe MarRtime.exe Tessvane.exe Quillmere.exe MarwDel.exe; do cp "$standin" "$out/marrowtide/$p"; done
cp "$regprobe" "$out/marrowtide/MarwShell.dll"

version() { md5sum "$1" | cut -c1-8; }
entry() { printf '%s=%s,0,%s,%s\r\n' "$(basename "$1")" "$(version "$1")" "$2" "$3"; }
{
  printf '; Marrowtide 엔진 DB 업데이트 정보\r\n'
  printf 'SITE=%s\r\nSUBDIR=update/db/\r\n' "$host"
  for f in MarwMain.gdb MarwHeur.gdb MarwWhite.adb MarwEngine.dat; do entry "$out/update/db/$f" 0 0; done
} | iconv -f UTF-8 -t CP949 > "$out/update/db/DBUpdate.ver"
{
  printf '; Marrowtide 프로그램 업데이트 정보\r\n'
  printf 'SITE=%s\r\nSUBDIR=marrowtide/\r\n' "$host"
  for p in Marrowtide.exe MarRtime.exe Tessvane.exe Quillmere.exe MarwDel.exe; do entry "$out/marrowtide/$p" 0 0; done
  entry "$out/marrowtide/MarwShell.dll" 1 0
} | iconv -f UTF-8 -t CP949 > "$out/marrowtide/MarrowtideWeb.ver"
