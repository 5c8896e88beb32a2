#!/usr/bin/env python3
"""The many-files corpus of scripts/bench-extract, and the write floor's pack.

    extract_corpus.py corpus FOLDER        copies the corpus into FOLDER (which must not exist yet)
    extract_corpus.py pack FOLDER PACK     writes every file below FOLDER into PACK for write_floor.exe
    extract_corpus.py big FOLDER FILE BYTES  writes FILE: the corpus's bytes in order, cut at BYTES

The corpus is taken from what Debian packages install under /usr on this machine: each kind below in
sorted order (byte order of the paths), up to its count and its bytes. Names that a Windows folder cannot
hold (device names, reserved characters, a trailing dot or blank, names that differ only in letter case)
are left out, so that every extractor writes the same set. The same machine gives the same corpus.
"""
import os
import struct
import sys

# kind, source folder, most files, most bytes, largest file taken
KINDS = [
    ("lib", "/usr/lib/x86_64-linux-gnu", 2000, 124_000_000, 8_000_000),
    ("include", "/usr/include", 2700, 38_000_000, 2_000_000),
    ("doc", "/usr/share/doc", 2400, 34_000_000, 2_000_000),
    ("icons", "/usr/share/icons", 2600, 14_000_000, 2_000_000),
    ("fonts", "/usr/share/fonts", 100, 14_000_000, 8_000_000),
    ("man", "/usr/share/man", 3100, 16_000_000, 2_000_000),
]

DEVICES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"} | {
    p + d for p in ("COM", "LPT") for d in "0123456789\u00b9\u00b2\u00b3"}
RESERVED = set('<>:"|?*\\')
MAX_RELATIVE = 150  # characters of a path below the target folder


def windows_name_ok(component):
    if not component or component in (".", ".."):
        return False
    if component[-1] in ". " or any(c in RESERVED or ord(c) < 32 for c in component):
        return False
    return component.split(".")[0].rstrip(" ").upper() not in DEVICES


def candidates(root):
    """Regular files below root, sorted by their path's bytes."""
    found = []
    for folder, subfolders, files in os.walk(root):
        subfolders.sort()
        for name in files:
            path = os.path.join(folder, name)
            if not os.path.islink(path) and os.path.isfile(path):
                found.append(path)
    return sorted(found, key=os.fsencode)


def select():
    taken, seen_files, seen_folders = [], set(), set()
    for kind, root, most_files, most_bytes, largest in KINDS:
        files = total = 0
        for path in candidates(root):
            relative = kind + "/" + os.path.relpath(path, root)
            try:
                relative.encode("utf-8")
                size = os.path.getsize(path)
            except (UnicodeError, OSError):
                continue
            parts = relative.split("/")
            if size > largest or len(relative) > MAX_RELATIVE or not all(map(windows_name_ok, parts)):
                continue
            # A file may not share a name, in any letter case, with another file or a folder.
            lower = relative.lower()
            folders = ["/".join(parts[:i]).lower() for i in range(1, len(parts))]
            if lower in seen_files or lower in seen_folders or any(f in seen_files for f in folders):
                continue
            if total + size > most_bytes:
                break
            seen_files.add(lower)
            seen_folders.update(folders)
            taken.append((path, relative))
            files += 1
            total += size
            if files >= most_files:
                break
    return taken


def make_corpus(folder):
    os.makedirs(folder)
    for source, relative in select():
        target = os.path.join(folder, relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(source, "rb") as f, open(target, "wb") as g:
            g.write(f.read())
        stat = os.stat(source)
        os.utime(target, ns=(stat.st_atime_ns, stat.st_mtime_ns))


def corpus_files(folder):
    found = []
    for base, subfolders, files in os.walk(folder):
        subfolders.sort()
        for name in files:
            found.append(os.path.join(base, name))
    return sorted(found, key=os.fsencode)


def make_pack(folder, pack):
    # FILETIME: 100 ns units since 1601-01-01 (UTC).
    epoch_difference = 11_644_473_600 * 10_000_000
    with open(pack, "wb") as out:
        out.write(b"AKFLOOR1")
        for path in corpus_files(folder):
            name = os.path.relpath(path, folder).encode("utf-8")
            with open(path, "rb") as f:
                data = f.read()
            filetime = os.stat(path).st_mtime_ns // 100 + epoch_difference
            out.write(struct.pack("<H", len(name)) + name + struct.pack("<QI", filetime, len(data)))
            out.write(data)


def make_big(folder, target, size):
    with open(target, "wb") as out:
        left = size
        while left > 0:
            for path in corpus_files(folder):
                with open(path, "rb") as f:
                    data = f.read(left)
                out.write(data)
                left -= len(data)
                if left == 0:
                    break


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "corpus":
        make_corpus(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "pack":
        make_pack(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 5 and sys.argv[1] == "big":
        make_big(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
