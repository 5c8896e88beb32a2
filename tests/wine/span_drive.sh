#!/usr/bin/env bash
# Spanned-set tests, Linux side.
#   span_drive.sh BIN map     maps drive A: of the Wine prefix to BIN/fixtures/span-drive as a floppy drive
#                             (Wine then reads its label from the folder's .windows-label at every query)
#                             and cuts an Info-ZIP split archive of a small payload into BIN/fixtures/span-infozip
#   span_drive.sh BIN unmap   removes that mapping and the drive type again
# The drive type is read when wineserver starts, so both wait for the running wineserver to end.
set -euo pipefail
bin=$(cd "$1" && pwd)
action=$2
prefix=${WINEPREFIX:-$HOME/.wine}
drive=$bin/fixtures/span-drive
link=$prefix/dosdevices/a:
log=$bin/fixtures/span-drive.log
mkdir -p "$bin/fixtures"

restart_wineserver() {
  timeout 60 wineserver -w >>"$log" 2>&1 || wineserver -k >>"$log" 2>&1 || true
}

case $action in
map)
  if [ -e "$link" ] || [ -L "$link" ]; then
    if [ "$(readlink "$link")" != "$drive" ]; then
      echo "drive A: of $prefix is already mapped to $(readlink "$link"); not touching it" >&2
      exit 1
    fi
  fi
  rm -rf "$drive"
  mkdir -p "$drive"
  ln -sfn "$drive" "$link"
  wine reg add 'HKLM\Software\Wine\Drives' /v a: /d floppy /f >"$log" 2>&1
  restart_wineserver

  infozip=$bin/fixtures/span-infozip
  rm -rf "$infozip"
  mkdir -p "$infozip/payload/docs"
  python3 - "$infozip/payload" <<'PY'
import random, sys
root = sys.argv[1]
rng = random.Random(6)  # fixed seed: the same payload on every run
open(root + "/big.bin", "wb").write(bytes(rng.getrandbits(8) for _ in range(150000)))
open(root + "/docs/notes.txt", "wb").write(b"Aantekeningen\r\n" * 300)
open(root + "/empty.txt", "wb").write(b"")
PY
  (cd "$infozip/payload" && zip -q -r -s 64k ../split.zip .)
  ls "$infozip"/split.* >>"$log"
  ;;
unmap)
  wine reg delete 'HKLM\Software\Wine\Drives' /v a: /f >>"$log" 2>&1 || true
  if [ "$(readlink "$link" 2>/dev/null)" = "$drive" ]; then
    rm -f "$link"
  fi
  restart_wineserver
  ;;
*)
  echo "usage: span_drive.sh BIN map|unmap" >&2
  exit 2
  ;;
esac
