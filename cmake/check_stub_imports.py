#!/usr/bin/env python3
"""check_stub_imports.py OBJDUMP PROGRAM

Checks a linked Windows program (PE32 or PE32+) after the link:
1. It loads only kernel32, advapi32 and msvcrt when it starts; every other library is loaded at the first
   call into it.
2. Every call through a pointer in memory goes through a slot that something fills before the call: an
   entry of an import address table (the loader fills it), or a slot whose stored value already points
   at code (a function that loads the library at the first call). A slot in the image's data that holds
   anything else, 0 above all, makes the first call jump nowhere. So does any read of a slot in an
   import section outside the import address tables (code may load a slot into a register first).
   Uninitialised data (.bss) holds pointers that the program stores there itself, and is left alone.
"""
import re
import struct
import subprocess
import sys

ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
IMAGE_SCN_MEM_EXECUTE = 0x20000000


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        self.wide = magic == 0x20B
        self.pointer = 8 if self.wide else 4
        self.base = struct.unpack_from("<Q" if self.wide else "<I", data, optional + (24 if self.wide else 28))[0]
        directories = optional + (112 if self.wide else 96)
        self.import_rva = struct.unpack_from("<I", data, directories + 8)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, rva, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            flags = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
            self.sections.append((name.rstrip(b"\0").decode(), rva, max(vsize, raw_size), raw_size, raw_offset, flags))

    def section_of(self, rva):
        for s in self.sections:
            if s[1] <= rva < s[1] + s[2]:
                return s
        return None

    def stored(self, rva, size):
        """The bytes stored in the file at rva, or None where the image has none (uninitialised data)."""
        s = self.section_of(rva)
        if s is None or rva + size > s[1] + s[3]:
            return None
        offset = s[4] + rva - s[1]
        return self.data[offset:offset + size]

    def word(self, rva):
        raw = self.stored(rva, self.pointer)
        return None if raw is None else int.from_bytes(raw, "little")

    def text(self, rva):
        s = self.section_of(rva)
        offset = s[4] + rva - s[1]
        return self.data[offset:self.data.index(b"\0", offset)].decode("latin-1")

    def imports(self):
        """(dll name, set of the RVAs of its import address table entries) for each import descriptor."""
        result = []
        rva = self.import_rva
        while rva:
            first_lookup, _, _, name, first_thunk = struct.unpack("<IIIII", self.stored(rva, 20))
            if not (first_lookup or name or first_thunk):
                break
            slots = set()
            slot = first_thunk
            while self.word(slot):
                slots.add(slot)
                slot += self.pointer
            result.append((self.text(name).lower(), slots))
            rva += 20
        return result


CALL = re.compile(r"^\s*([0-9a-f]+):.*\t(call|jmp)\s+\*0x([0-9a-f]+)(\(%rip\))?(?:\s+# ([0-9a-f]+)|\s*$)")
LOAD = re.compile(r"^\s*([0-9a-f]+):.*\tmov\s+(?:0x([0-9a-f]+)|0x[0-9a-f]+\(%rip\)),%[a-z0-9]+(?:\s+# ([0-9a-f]+))?")


def memory_uses(objdump, program):
    """(instruction address, slot address, is a call or jump) of every call or jump through memory and
    every load of a pointer from an absolute or rip-relative address."""
    listing = subprocess.run([objdump, "-d", program], capture_output=True, text=True, check=True).stdout
    for line in listing.splitlines():
        m = CALL.match(line)
        if m:
            slot = m.group(5) if m.group(4) else m.group(3)
            if slot:
                yield int(m.group(1), 16), int(slot, 16), True
            continue
        m = LOAD.match(line)
        if m and (m.group(2) or m.group(3)):
            yield int(m.group(1), 16), int(m.group(2) or m.group(3), 16), False


def check(objdump, program):
    image = Image(open(program, "rb").read())
    faults = []
    imports = image.imports()
    for dll, _ in imports:
        if dll not in ALLOWED_DLLS:
            faults.append(f"imports {dll} when it starts (only kernel32, advapi32 and msvcrt may be loaded then)")
    filled = set().union(*(slots for _, slots in imports)) if imports else set()
    import_sections = {s[0] for s in image.sections if s[0] in (".idata", ".didat")}
    for at, address, is_call in memory_uses(objdump, program):
        rva = address - image.base
        section = image.section_of(rva)
        if section is None or rva in filled:
            continue
        in_import_section = section[0] in import_sections
        if not is_call and not in_import_section:
            continue  # an ordinary variable
        value = image.word(rva)
        if value is None and not in_import_section:
            continue  # a pointer the program stores itself
        target = image.section_of(value - image.base) if value else None
        if target is None or not target[5] & IMAGE_SCN_MEM_EXECUTE:
            what = "call through" if is_call else "load of"
            faults.append(f"{what} the slot at 0x{address:x} ({section[0]}, holding {value or 0:#x}) at "
                          f"0x{at:x}: nothing fills it before the call")
    return faults


def main():
    objdump, program = sys.argv[1:3]
    faults = check(objdump, program)
    for fault in faults[:20]:
        print(f"{program}: {fault}", file=sys.stderr)
    if len(faults) > 20:
        print(f"{program}: ... and {len(faults) - 20} more", file=sys.stderr)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
