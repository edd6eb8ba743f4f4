"""The ARM deliverable is what the README promises: a static executable for
its target, stripped, with its debug file beside it. Read straight from the
ELF headers, so no tool's wording is relied on."""

import os
import struct

import pytest

DELIVERABLE = os.environ.get("DELIVERABLE", "")
TARGET = os.environ.get("TARGET_ARCH", "")

EM_ARM, EM_AARCH64 = 40, 183
ET_EXEC = 2
PT_DYNAMIC, PT_INTERP = 2, 3
SHT_SYMTAB = 2
EF_ARM_EABIMASK, EF_ARM_EABI_VER5 = 0xFF000000, 0x05000000
EF_ARM_ABI_FLOAT_HARD = 0x400

# target: (ELF class, machine)
TARGETS = {"aarch64": (2, EM_AARCH64), "arm": (1, EM_ARM)}


class Elf:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        assert d[:4] == b"\x7fELF", f"{path} is not an ELF file"
        self.elf_class = d[4]
        assert d[5] == 1, "not little-endian"
        if self.elf_class == 2:
            (self.type, self.machine, _, _, phoff, shoff, self.flags, _, phentsize, phnum,
             shentsize, shnum, shstrndx) = struct.unpack_from("<HHIQQQIHHHHHH", d, 16)
            sh_format = "<IIQQQQIIQQ"
        else:
            (self.type, self.machine, _, _, phoff, shoff, self.flags, _, phentsize, phnum,
             shentsize, shnum, shstrndx) = struct.unpack_from("<HHIIIIIHHHHHH", d, 16)
            sh_format = "<IIIIIIIIII"
        # p_type leads a program header in both classes.
        self.segments = [struct.unpack_from("<I", d, phoff + i * phentsize)[0]
                         for i in range(phnum)]
        headers = [struct.unpack_from(sh_format, d, shoff + i * shentsize) for i in range(shnum)]
        names_offset = headers[shstrndx][4]
        self.sections = {}
        for h in headers:
            start = names_offset + h[0]
            name = d[start:d.index(b"\0", start)].decode()
            self.sections[name] = (h[1], h[4], h[5])  # type, offset, size

    def section_bytes(self, name):
        _, offset, size = self.sections[name]
        return self.data[offset:offset + size]


@pytest.fixture(scope="module")
def shipped():
    if not DELIVERABLE or TARGET not in TARGETS:
        pytest.fail("DELIVERABLE and TARGET_ARCH (aarch64 or arm) must be set")
    return Elf(DELIVERABLE)


def test_static_executable_for_its_target(shipped):
    elf_class, machine = TARGETS[TARGET]
    assert (shipped.elf_class, shipped.machine) == (elf_class, machine)
    assert shipped.type == ET_EXEC
    # No program interpreter and no dynamic section: nothing is loaded at run time.
    assert PT_INTERP not in shipped.segments
    assert PT_DYNAMIC not in shipped.segments
    assert ".interp" not in shipped.sections and ".dynamic" not in shipped.sections
    if TARGET == "arm":  # armhf: EABI5, hard-float
        assert shipped.flags & EF_ARM_EABIMASK == EF_ARM_EABI_VER5
        assert shipped.flags & EF_ARM_ABI_FLOAT_HARD


def test_stripped_with_debug_file_beside(shipped):
    assert not any(kind == SHT_SYMTAB for kind, _, _ in shipped.sections.values())
    assert not any(name.startswith(".debug") for name in shipped.sections)
    link = shipped.section_bytes(".gnu_debuglink")
    debug_name = os.path.basename(DELIVERABLE) + ".debug"
    assert link[:link.index(b"\0")].decode() == debug_name

    debug = Elf(os.path.join(os.path.dirname(DELIVERABLE), debug_name))
    assert (debug.elf_class, debug.machine) == (shipped.elf_class, shipped.machine)
    assert any(kind == SHT_SYMTAB for kind, _, _ in debug.sections.values())
    assert ".debug_info" in debug.sections
