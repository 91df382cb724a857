#!/usr/bin/env bash
# Makes a sample release for the update server from our stand-in programs:
#   make-release.sh OUT HOST STANDIN_EXE REGPROBE_DLL
# OUT/update/db/DBUpdate.ver lists the database files (two ".gdb", one ".adb", two for the install folder, one
# of them with a Korean name), which lie in a folder with a Korean name ("엔진DB"): on disk these names are
# their code page 949 bytes, as the updater asks for them, with a UTF-8 link beside each for people and tests;
# OUT/marrowtide/MarrowtideWeb.ver lists the product's programs and a DLL flagged for registration.
# Version texts are taken from the files' contents, so a changed file is due again. Both version-info
# files are written in code page 949 with CR LF line ends, as the updater reads them.
set -euo pipefail
out=${1:?OUT} host=${2:?HOST} standin=${3:?STANDIN_EXE} regprobe=${4:?REGPROBE_DLL}
rm -rf "$out"
cp949() { printf '%s' "$1" | iconv -f UTF-8 -t CP949; }
db_folder=엔진DB korean_file=엔진정보.dat
db="$out/$(cp949 "$db_folder")"
mkdir -p "$out/update/db" "$out/marrowtide" "$db"
ln -s "$(cp949 "$db_folder")" "$out/$db_folder"

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
make_db "$db/MarwMain.gdb" 393216 main
make_db "$db/MarwHeur.gdb" 262144 heuristics
make_db "$db/MarwWhite.adb" 131072 whitelist
make_db "$db/MarwEngine.dat" 65536 engine
make_db "$db/$(cp949 "$korean_file")" 16384 notes
ln -s "$(cp949 "$korean_file")" "$db/$korean_file"

for p in Marrowtide.exe MarRtime.exe Tessvane.exe Quillmere.exe MarwDel.exe; do cp "$standin" "$out/marrowtide/$p"; done
cp "$regprobe" "$out/marrowtide/MarwShell.dll"

version() { md5sum "$1" | cut -c1-8; }
entry() { printf '%s=%s,0,%s,%s\r\n' "$(basename "$1")" "$(version "$1")" "$2" "$3"; }
{
  printf '; Marrowtide 엔진 DB 업데이트 정보\r\n'
  printf 'SITE=%s\r\nSUBDIR=%s/\r\n' "$host" "$db_folder"
  for f in MarwMain.gdb MarwHeur.gdb MarwWhite.adb MarwEngine.dat "$korean_file"; do entry "$out/$db_folder/$f" 0 0; done
} | iconv -f UTF-8 -t CP949 > "$out/update/db/DBUpdate.ver"
{
  printf '; Marrowtide 프로그램 업데이트 정보\r\n'
  printf 'SITE=%s\r\nSUBDIR=marrowtide/\r\n' "$host"
  for p in Marrowtide.exe MarRtime.exe Tessvane.exe Quillmere.exe MarwDel.exe; do entry "$out/marrowtide/$p" 0 0; done
  entry "$out/marrowtide/MarwShell.dll" 1 0
} | iconv -f UTF-8 -t CP949 > "$out/marrowtide/MarrowtideWeb.ver"
