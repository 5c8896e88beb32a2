#!/usr/bin/env bash
# A folder tree with symbolic links that lead out of it, made on the Linux side: Wine 8's
# CreateSymbolicLinkW reports success without making anything. BIN/fixtures/links/tree holds a link to a
# folder with files, one to an empty folder and one to a file, all three in BIN/fixtures/links/outside.
# The Windows test adds the ordinary entries of the tree itself. BIN/fixtures/links/extract holds target
# folders for extraction with links in and above them (see below).
set -euo pipefail
root=$1/fixtures/links
rm -rf "$root"
mkdir -p "$root/tree" "$root/outside/full/inner" "$root/outside/empty"
printf 'a\r\n' > "$root/outside/full/a.txt"
printf 'b\r\n' > "$root/outside/full/inner/b.txt"
printf 'kept\r\n' > "$root/outside/kept.txt"
ln -s ../outside/full "$root/tree/to-folder"
ln -s "$(cd "$root/outside" && pwd)/empty" "$root/tree/to-empty"
ln -s ../outside/kept.txt "$root/tree/to-file"

# Target folders with links below them, for extraction (BIN/fixtures/links/extract): each case has its own
# folder; the links lead to BIN/fixtures/links/extract/outside, which must stay as it is.
ext=$root/extract
mkdir -p "$ext/outside/map"
printf 'buiten\r\n' > "$ext/outside/buiten.txt"
mkdir -p "$ext/folder-link/doel" "$ext/deep-link/doel/x" "$ext/file-link/doel" "$ext/dangling/doel" \
  "$ext/linked-target/echt" "$ext/linked-above/echt"
ln -s ../../outside/map "$ext/folder-link/doel/sub"
ln -s "$(cd "$ext/outside" && pwd)/map" "$ext/deep-link/doel/x/sub"
ln -s ../../outside/buiten.txt "$ext/file-link/doel/a.txt"
ln -s ../../outside/nergens.txt "$ext/dangling/doel/a.txt"
ln -s echt "$ext/linked-target/doel"
ln -s echt "$ext/linked-above/boven"
# An archive without folder entries: a file entry alone leads through the link x/sub.
python3 - "$ext/deep.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("x/a.txt", "a\r\n")
    z.writestr("x/sub/c/d.txt", "d\r\n")
PY
