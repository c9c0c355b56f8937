#!/usr/bin/env python3
"""Reads a Windows program's version resource, as the release and its checks
need it: the strings of its first string table (FileVersion, ProductName,
CompanyName, LegalCopyright...), the file version of its fixed part as four
numbers, and the language it names first, in decimal as an MSI's File table
holds it. The resource comes out of the program with wrestool (icoutils).

Usage: version_resource.py PROGRAM.exe      prints "name=value" lines:
  file-version=1.0.0.0, language=1033, then one line for each string
"""

import struct
import subprocess
import sys

FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD


def fail(message):
    sys.exit(f"version_resource.py: {message}")


def aligned(offset):
    return (offset + 3) & ~3


def parse_block(blob, offset):
    """One block of the resource: (key, value bytes, value is text, children, end)."""
    length, value_length, is_text = struct.unpack_from("<HHH", blob, offset)
    key_end = offset + 6
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[offset + 6:key_end].decode("utf-16-le")
    value_start = aligned(key_end + 2)
    # A text value's length counts UTF-16 units, a binary one's bytes.
    value_end = value_start + value_length * (2 if is_text else 1)
    children, child = [], aligned(value_end)
    while child < offset + length:
        children.append(parse_block(blob, child))
        child = aligned(children[-1][4])
    return key, blob[value_start:value_end], is_text, children, offset + length


def read(program):
    """{name: value} of the program's version resource."""
    extracted = subprocess.run(["wrestool", "-x", "--raw", "-t16", program], capture_output=True)
    if extracted.returncode != 0 or not extracted.stdout:
        fail(f"no version resource in {program}")
    key, fixed, _, children, _ = parse_block(extracted.stdout, 0)
    signature, _, file_ms, file_ls = struct.unpack_from("<IIII", fixed)
    if key != "VS_VERSION_INFO" or signature != FIXED_FILE_INFO_SIGNATURE:
        fail(f"{program}'s version resource is not VS_VERSION_INFO")
    values = {"file-version": f"{file_ms >> 16}.{file_ms & 0xFFFF}.{file_ls >> 16}.{file_ls & 0xFFFF}"}
    for name, value, _, blocks, _ in children:
        if name == "VarFileInfo":
            for translation_key, translation, _, _, _ in blocks:
                if translation_key == "Translation":
                    values["language"] = str(struct.unpack_from("<H", translation)[0])
        elif name == "StringFileInfo" and blocks:
            for string_key, text, _, _, _ in blocks[0][3]:
                values[string_key] = text.decode("utf-16-le").rstrip("\0")
    return values


if __name__ == "__main__":
    if len(sys.argv) != 2:
        fail("usage: version_resource.py PROGRAM.exe")
    for name, value in read(sys.argv[1]).items():
        print(f"{name}={value}")
