#!/usr/bin/env bash
# Makes a sample release for the update server from our stand-in programs, published with the vendor's
# tool (marrowtide-release), signed when a private key is given:
#   make-release.sh OUT HOST STANDIN_EXE REGPROBE_DLL TOOL [PRIVATE.pem]
# OUT/update/db/DBUpdate.ver lists the database files (two ".gdb", one ".adb", two for the install folder, one
# of them with a Korean name), which lie in a folder with a Korean name ("엔진DB"): on disk these names are
# their code page 949 bytes, as the updater asks for them, with a UTF-8 link beside each for people and tests;
# OUT/marrowtide/MarrowtideWeb.ver lists the product's programs and a DLL flagged for registration.
# The tool writes both version-info files (code page 949, CR LF, a digest per file, a serial) from the
# description OUT.description; version texts come from the files' contents, so a changed file is due again.
# Run again over an existing OUT, it lays the files out afresh and re-publishes: only changed files get new
# versions, and the serials go up.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
trap_failures
out=${1:?OUT} host=${2:?HOST} standin=${3:?STANDIN_EXE} regprobe=${4:?REGPROBE_DLL} tool=${5:?TOOL} key=${6:-}
# Keep the version-info files being replaced (the tool reads them for versions and serials), their
# by-hash names (an edge may serve the replaced lists for a while yet) and the log, which only grows.
keep=$(mktemp -d)
cp949() { printf '%s' "$1" | iconv -f UTF-8 -t CP949; }
for f in update/db/DBUpdate.ver marrowtide/MarrowtideWeb.ver "$(cp949 엔진DB)/by-hash" update/db/by-hash marrowtide/by-hash log; do
  if [ -e "$out/$f" ]; then mkdir -p "$keep/$(dirname "$f")" && cp -a "$out/$f" "$keep/$f"; fi
done
rm -rf "$out"
db_folder=엔진DB korean_file=엔진정보.dat
db="$out/$(cp949 "$db_folder")"
mkdir -p "$out/update/db" "$out/marrowtide" "$db"
cp -a "$keep/." "$out/" && rm -rf "$keep"
ln -s "$(cp949 "$db_folder")" "$out/$db_folder"

# Database files: deterministic bytes of a few hundred KiB, so a download takes long enough to watch; the
# main one is 1.25 MiB of signature records, which compress as real ones do (publish writes its gzip copy)
# and is large enough for a block map.
make_db() { python3 - "$1" "$2" "$3" <<'PY'
import sys, hashlib
path, size, salt = sys.argv[1], int(sys.argv[2]), sys.argv[3].encode()
block, out = hashlib.sha256(salt).digest(), bytearray()
if salt == b"records":
    n = 0
    while len(out) < size:
        n += 1
        digest = hashlib.md5(b"%d" % (n * 7919 % 50021)).hexdigest().encode()
        out += b"Trojan.Win32.Agent.%d\t%s\t%d\n" % (n % 977, digest, n % 4096)
while len(out) < size:
    block = hashlib.sha256(block).digest()
    out += block
open(path, "wb").write(bytes(out[:size]))
PY
}
make_db "$db/MarwMain.gdb" 1310720 records
make_db "$db/MarwHeur.gdb" 262144 heuristics
make_db "$db/MarwWhite.adb" 131072 whitelist
make_db "$db/MarwEngine.dat" 65536 engine
make_db "$db/$(cp949 "$korean_file")" 16384 notes
ln -s "$(cp949 "$korean_file")" "$db/$korean_file"

for p in Marrowtide.exe MarRtime.exe Tessvane.exe Quillmere.exe MarwDel.exe; do cp "$standin" "$out/marrowtide/$p"; done
cp "$regprobe" "$out/marrowtide/MarwShell.dll"

cat > "$out.description" <<EOF
# The sample release: which files each version-info file lists (see docs/vendor-guide.md, "Publishing a release").
[update/db/DBUpdate.ver]
site=$host
subdir=$db_folder/
MarwMain.gdb
MarwHeur.gdb
MarwWhite.adb
MarwEngine.dat
$korean_file

[marrowtide/MarrowtideWeb.ver]
site=$host
subdir=marrowtide/
Marrowtide.exe
MarRtime.exe
Tessvane.exe
Quillmere.exe
MarwDel.exe
MarwShell.dll | register
EOF
sign=(--unsigned)
if [ -n "$key" ]; then
  sign=(--key "$key" --log-origin "$host/log")
  # A sample made anew begins a log of its own: the key's record of the last log it signed (which publish
  # refuses to fork) belongs to the sample it made before.
  [ -d "$out/log" ] || rm -f "$key.log-checkpoint"
fi
"$tool" publish "$out" "$out.description" "${sign[@]}" >/dev/null
