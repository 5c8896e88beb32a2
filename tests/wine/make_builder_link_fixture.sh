#!/usr/bin/env bash
# Folders with symbolic links for the Windows building tool, made on the Linux side (Wine 8's
# CreateSymbolicLinkW makes nothing): BIN/fixtures/builder-links/in holds a.txt, a link to a folder inside
# it, and a link to a file and one to a folder outside it (BIN/fixtures/builder-links/outside). Wine lists
# the link to a file as a plain file.
set -euo pipefail
root=$1/fixtures/builder-links
rm -rf "$root"
mkdir -p "$root/in/d" "$root/outside/od"
printf 'a' > "$root/in/a.txt"
printf 'i' > "$root/in/d/inner.txt"
printf 'x' > "$root/outside/od/x.txt"
ln -s d "$root/in/e"
ln -s ../outside/od "$root/in/o"
ln -s ../outside/od/x.txt "$root/in/f.txt"
