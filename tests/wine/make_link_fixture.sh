#!/usr/bin/env bash
# A folder tree with symbolic links that lead out of it, made on the Linux side: Wine 8's
# CreateSymbolicLinkW reports success without making anything. BIN/fixtures/links/tree holds a link to a
# folder with files, one to an empty folder and one to a file, all three in BIN/fixtures/links/outside.
# The Windows test adds the ordinary entries of the tree itself.
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
