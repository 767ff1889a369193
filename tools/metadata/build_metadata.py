#!/usr/bin/env python3
"""Builds the plug-in metadata resource of wfsys.vpm.

The shared numbers (plug-in and interface identifiers, export identifiers,
property identifiers, registration values) are read from the frame's
headers, so that the metadata cannot drift from what the entry registers.
Usage: build_metadata.py <repo root> <output file>
"""
import hashlib
import re
import struct
import sys
from pathlib import Path

HEADERS = ["Identifiers.h", "ExportIds.h", "PropertyIds.h", "RegistrationValues.h"]
MAGIC = b"Velora\0metadata\0"
HEADER_FIELDS_SIZE = 20
RECORD_FIXED_SIZE = 36
TEXT_CODE_PAGE = -12


def read_constants(frame_dir: Path) -> dict:
    pattern = re.compile(r"constexpr\s+std::u?int32_t\s+(\w+)\s*=\s*(-?(?:0x[0-9A-Fa-f]+|\d+))\s*;")
    names = {}
    for header in HEADERS:
        for name, value in pattern.findall((frame_dir / header).read_text()):
            names[name] = int(value, 0)
    return names


def u32(v: int) -> bytes:
    return struct.pack("<I", v & 0xFFFFFFFF)


def i32(v: int) -> bytes:
    return struct.pack("<i", v)


def text(s: str) -> bytes:
    return s.encode("ascii") + b"\0"


def record(k: dict, iid: int, entries: list) -> bytes:
    out = u32(RECORD_FIXED_SIZE) + u32(len(entries))
    out += u32(k["kPidWfsys"]) + u32(k["kRegSubtype"]) + u32(k["kRegVersion"])
    out += u32(k["kRegValue"]) + u32(0) + u32(0) + u32(iid) + i32(TEXT_CODE_PAGE)
    for prop, value in entries:
        out += u32(prop) + u32(len(value)) + value
    return out


def build(k: dict) -> bytes:
    version = u32(k["kRegVersion"])
    cp = i32(TEXT_CODE_PAGE)
    os_entries = [
        (k["kPropVersion"], version),
        (k["kPropDescription"], text("win32 object system interface")),
        (0x21700049, u32(1)),
        (k["kPropName"], text("Win32 native file system")),
        (0x20400052, u32(250)),
        (k["kPropOsObject"], u32(0)),
        (0x20401000, u32(0)),
        (0x20601001, u32(0)),
        (0x20301002, struct.pack("<H", 0x002F)),
        (0x20601003, u32(0)),
        (k["kPropCodePage"], cp),
    ]
    objptr_entries = [
        (k["kPropVersion"], version),
        (k["kPropDescription"], text("win32 object enumerator")),
        (0x20400052, u32(250)),
        (k["kPropCodePage"], cp),
        (0x21B00040, cp),
        (0x21B00044, cp),
        (0x21B00041, cp),
        (0x21B02001, cp),
    ]
    io_entries = [
        (k["kPropVersion"], version),
        (k["kPropDescription"], text("win32 input/output interface")),
        (0x20400052, u32(250)),
        (0x20201004, b"\0"),
        (k["kPropCodePage"], cp),
        (0x21B00040, cp),
        (0x21B00041, cp),
    ]
    exports = [
        "kFidCopyObjectFile", "kFidMoveFileDelayed", "kFidSetErrorMode", "kFidMakeTempFileName",
        "kFidCreateDirectoryRecursively", "kFidStartProgram", "kFidFindTempFolder",
        "kFidLongPathName", "kFidFreeSpace", "kFidRemoveDir", "kFidVlDeleteFile",
        "kFidTotalBytesWritten",
    ]
    assert len(exports) == k["kMetadataExportCount"]
    records = [
        record(k, k["IID_OS"], os_entries),
        record(k, k["IID_OBJPTR"], objptr_entries),
        record(k, k["IID_IO"], io_entries),
    ]
    out = MAGIC + u32(HEADER_FIELDS_SIZE) + u32(k["kPidWfsys"]) + u32(len(exports)) + u32(0)
    out += u32(len(records)) + i32(TEXT_CODE_PAGE)
    out += b"".join(u32(k[name]) for name in exports)
    out += b"".join(records)
    return out + hashlib.md5(out).digest()


def main() -> int:
    root, output = Path(sys.argv[1]), Path(sys.argv[2])
    data = build(read_constants(root / "plugin" / "frame"))
    output.parent.mkdir(parents=True, exist_ok=True)
    if not output.exists() or output.read_bytes() != data:
        output.write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
