#!/usr/bin/env python3
# Checks the version resource of a built Windows program: that it is there as
# the resource Windows shows in the file's properties, and that its numbers and
# strings carry the expected version.
# Usage: python3 check_version_resource.py EXE VERSION ORIGINAL_FILENAME
import struct
import sys

RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD


def fail(message):
    print("FAIL - " + message)
    sys.exit(1)


def sections(data):
    if data[:2] != b"MZ":
        fail("not an MZ executable")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        fail("no PE signature")
    count, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, directories + 2 * 8)
    table = optional + optional_size
    result = []
    for i in range(count):
        vsize, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        result.append((rva, max(vsize, raw_size), raw))
    return rsrc_rva, rsrc_size, result


def offset_of(rva, table):
    for start, size, raw in table:
        if start <= rva < start + size:
            return raw + rva - start
    fail("address 0x%X lies in no section" % rva)


def first_entry(data, base, directory, want_id=None):
    named, ids = struct.unpack_from("<HH", data, base + directory + 12)
    for i in range(named + ids):
        name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
        if want_id is None or (not name & 0x80000000 and name == want_id):
            return target
    return None


def version_block(data):
    rsrc_rva, rsrc_size, table = sections(data)
    if not rsrc_rva or not rsrc_size:
        fail("no resource directory")
    base = offset_of(rsrc_rva, table)
    node = first_entry(data, base, 0, RT_VERSION)
    if node is None:
        fail("no version resource (type 16)")
    # Type, then name, then language: each level a subdirectory, then the data.
    for _ in range(2):
        if not node & 0x80000000:
            fail("malformed resource directory")
        node = first_entry(data, base, node & 0x7FFFFFFF)
        if node is None:
            fail("empty version resource directory")
    rva, size = struct.unpack_from("<II", data, base + node)
    start = offset_of(rva, table)
    return data[start:start + size]


def parse(block, at=0):
    """One node of the version tree: (key, value bytes, text flag, children)."""
    length, value_length, kind = struct.unpack_from("<HHH", block, at)
    end = at + length
    key_end = at + 6
    while block[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = block[at + 6:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = block[pos:pos + value_bytes]
    pos = (pos + value_bytes + 3) & ~3
    children = []
    while pos < end:
        child = parse(block, pos)
        children.append(child)
        pos = (pos + child[4] + 3) & ~3
    return key, value, kind, children, length


def main():
    if len(sys.argv) != 4:
        print(__doc__ or "usage: check_version_resource.py EXE VERSION ORIGINAL_FILENAME")
        return 2
    exe, version, original = sys.argv[1:]
    with open(exe, "rb") as f:
        data = f.read()
    parts = [int(p) for p in version.split(".")] + [0, 0, 0]
    ms = (parts[0] << 16) | parts[1]
    ls = (parts[2] << 16) | parts[3]

    key, fixed, _, children, _ = parse(version_block(data))
    if key != "VS_VERSION_INFO":
        fail("version resource key is %r" % key)
    if len(fixed) < 52 or struct.unpack_from("<I", fixed)[0] != FIXED_SIGNATURE:
        fail("no fixed file information")
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", fixed, 8)
    for what, got in (("file", (file_ms, file_ls)), ("product", (product_ms, product_ls))):
        text = "%d.%d.%d.%d" % (got[0] >> 16, got[0] & 0xFFFF, got[1] >> 16, got[1] & 0xFFFF)
        if got != (ms, ls):
            fail("fixed %s version is %s, expected %s" % (what, text, version))
        print("ok   - fixed %s version %s" % (what, text))

    strings = {}
    for child in children:
        if child[0] == "StringFileInfo":
            for table in child[3]:
                for entry in table[3]:
                    strings[entry[0]] = entry[1].decode("utf-16-le").rstrip("\0")
    expected = {
        "FileVersion": version,
        "ProductVersion": version,
        "OriginalFilename": original,
    }
    for name, want in expected.items():
        got = strings.get(name)
        if got != want:
            fail("%s is %r, expected %r" % (name, got, want))
        print("ok   - %s %s" % (name, got))
    for name in ("ProductName", "FileDescription"):
        if not strings.get(name):
            fail("%s missing or empty" % name)
        print("ok   - %s %s" % (name, strings[name]))
    print("PASSED version resource of %s carries %s" % (exe, version))
    return 0


if __name__ == "__main__":
    sys.exit(main())
