#!/usr/bin/env bash
# Extraction tests, Linux side.
#   make_extract_fixtures.sh BIN setup     makes BIN/fixtures/extract: one payload folder, ZIP archives of it
#                                          from independent producers (Info-ZIP zip with and without -e,
#                                          7z with ZipCrypto, Python's zipfile seekable and streamed), and
#                                          what Linux unzip extracts from each (ref/NAME), the oracle of
#                                          the Windows test; then a 64 KiB tmpfs on drive Q: (a full disk)
#   make_extract_fixtures.sh BIN cleanup   unmounts the tmpfs and removes the drive Q: mapping
# Run with the same TZ as the Windows test: DOS times are local time on both sides.
set -euo pipefail
bin=$(cd "$1" && pwd)
action=$2
prefix=${WINEPREFIX:-$HOME/.wine}
dir=$bin/fixtures/extract
full=$bin/fixtures/extract-full-disk
link=$prefix/dosdevices/q:
export LC_ALL=C.UTF-8

unmount_full_disk() {
  if mountpoint -q "$full" 2>/dev/null; then
    umount "$full"
  fi
  if [ "$(readlink "$link" 2>/dev/null)" = "$full" ]; then
    rm -f "$link"
  fi
  rm -f "$dir/full-disk-ready"
}

case $action in
setup)
  unmount_full_disk
  rm -rf "$dir"
  mkdir -p "$dir/ref"
  python3 - "$dir" <<'PY'
import io, os, random, sys, time, zipfile
out = sys.argv[1]
rng = random.Random(4)  # fixed seed: the same payload on every run
# Local times (the TZ of the run); one in summer time and one in winter time, all on even seconds.
summer = time.mktime((2019, 7, 14, 12, 34, 56, 0, 0, -1))
winter = time.mktime((2020, 1, 15, 8, 2, 4, 0, 0, -1))

def put(rel, data, when=winter):
    path = os.path.join(out, "payload", rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(data)
    os.utime(path, (when, when))

words = [b"zelf", b"uitpakken", b"archief", b"map", b"bestand", b"Arklet", b"\r\n", b"tekst", b"0123"]
put("readme.txt", b"Hallo wereld\r\n" * 40)
put("docs/guide.txt", b" ".join(rng.choice(words) for _ in range(30000)), summer)
put("docs/deep/nested/note.txt", b"diep\r\n")
put("random.bin", bytes(rng.getrandbits(8) for _ in range(300000)))
put("one-byte.bin", b"\x00")
put("exact-2048.bin", bytes(rng.getrandbits(8) for _ in range(2048)), summer)
put("empty.txt", b"")
os.makedirs(os.path.join(out, "payload", "emptydir"), exist_ok=True)

# Python's zipfile, seekable: deflated and stored entries, an empty file, a folder entry, Unicode names.
def info(name, when, method):
    i = zipfile.ZipInfo(name, time.localtime(when)[:6])
    i.compress_type = method
    return i
src = lambda rel: open(os.path.join(out, "payload", rel), "rb").read()
with zipfile.ZipFile(os.path.join(out, "python.zip"), "w") as z:
    z.writestr(info("readme.txt", winter, zipfile.ZIP_DEFLATED), src("readme.txt"))
    z.writestr(info("leeg/", winter, zipfile.ZIP_STORED), b"")
    z.writestr(info("Ünïcødé map/日本語 ñ €.txt", summer, zipfile.ZIP_DEFLATED), "Ünïcødé\r\n".encode() * 50)
    z.writestr(info("random.bin", winter, zipfile.ZIP_STORED), src("random.bin"))
    z.writestr(info("empty.txt", summer, zipfile.ZIP_DEFLATED), b"")
    z.writestr(info("docs/guide.txt", summer, zipfile.ZIP_DEFLATED), src("docs/guide.txt"))

# Streamed: written to a stream that cannot seek, so every entry has flag bit 3 and a data descriptor.
class Unseekable(io.RawIOBase):
    def __init__(self): self.buffer = bytearray()
    def writable(self): return True
    def seekable(self): return False
    def write(self, b): self.buffer += b; return len(b)
stream = Unseekable()
with zipfile.ZipFile(stream, "w") as z:
    with z.open(info("streamed/deflated.txt", summer, zipfile.ZIP_DEFLATED), "w") as f:
        f.write(src("docs/guide.txt"))
    with z.open(info("streamed/stored.bin", winter, zipfile.ZIP_STORED), "w") as f:
        f.write(src("random.bin")[:70000])
    with z.open(info("streamed/empty.txt", winter, zipfile.ZIP_DEFLATED), "w") as f:
        pass
open(os.path.join(out, "python-stream.zip"), "wb").write(stream.buffer)
PY
  # Info-ZIP and 7z get a Unicode name too: Info-ZIP here stores UTF-8 names without flag bit 11, which
  # the building tool keeps as UTF-8. -X and -mtc=off leave out the precise time fields, so unzip, like
  # the stub, goes by the DOS time.
  unicode_name=$'docs/caf\xc3\xa9 menu.txt'
  printf 'menu\r\n' > "$dir/payload/$unicode_name"
  touch -d '2021-02-03 04:05:06' "$dir/payload/$unicode_name"
  (cd "$dir/payload" && zip -q -r -X ../infozip.zip . && zip -q -r -X -e -P 'geheim 123' ../infozip-enc.zip .)
  (cd "$dir/payload" && 7z a -tzip -mem=ZipCrypto -mtc=off -mx=9 -p'geheim 123' ../7z-enc.zip . >/dev/null)
  for name in infozip infozip-enc 7z-enc python python-stream; do
    unzip -q -P 'geheim 123' "$dir/$name.zip" -d "$dir/ref/$name"
  done

  # A full disk: 64 KiB of tmpfs on drive Q:. Needs root; without it the Windows test skips that case.
  mkdir -p "$full"
  if mount -t tmpfs -o size=64k tmpfs "$full" 2>"$dir/full-disk.log"; then
    ln -sfn "$full" "$link"
    touch "$dir/full-disk-ready"
  fi
  ;;
cleanup)
  unmount_full_disk
  ;;
*)
  echo "usage: make_extract_fixtures.sh BIN setup|cleanup" >&2
  exit 2
  ;;
esac
