#!/usr/bin/env python3
"""Gives a Windows Installer package the summary information of a
reproducible build: its created and saved dates become EPOCH (Unix seconds),
and its package code (the revision number) a UUID derived from the package's
own bytes, so two builds of one source are byte-identical and two different
packages never share a code. Patched in place: every value written has the
length of the one it replaces, so the compound file's layout stays as wixl
wrote it.

Usage: msi_summary.py PACKAGE EPOCH NAMESPACE_UUID
"""
import hashlib
import struct
import sys
import uuid

FREE, END_OF_CHAIN = 0xFFFFFFFF, 0xFFFFFFFE
STREAM = "\x05SummaryInformation"
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
ZERO_CODE = b"{00000000-0000-0000-0000-000000000000}"


def fail(message):
    sys.exit("msi_summary: " + message)


def chain(table, first):
    sectors, sector = [], first
    while sector not in (END_OF_CHAIN, FREE):
        if sector >= len(table) or len(sectors) > len(table):
            fail("broken sector chain")
        sectors.append(sector)
        sector = table[sector]
    return sectors


def stream_extents(data):
    """(file offset, length) pieces of the summary stream, in stream order."""
    # Evidence: MS-CFB 2.2 (header), 2.3 (DIFAT), 2.6 (directory entries),
    # 2.7 (mini stream).
    if data[:8] != bytes.fromhex("D0CF11E0A1B11AE1"):
        fail("not a compound file")
    shift, mini_shift = struct.unpack_from("<HH", data, 0x1E)
    size, mini_size = 1 << shift, 1 << mini_shift
    first_dir, = struct.unpack_from("<I", data, 0x30)
    cutoff, first_minifat, minifat_count, first_difat, difat_count = \
        struct.unpack_from("<IIIII", data, 0x38)

    def offset(sector):
        return (sector + 1) * size

    def sector_words(sector):
        return list(struct.unpack_from("<%dI" % (size // 4), data, offset(sector)))

    fat_sectors = [s for s in struct.unpack_from("<109I", data, 0x4C) if s != FREE]
    difat = first_difat
    for _ in range(difat_count):
        words = sector_words(difat)
        fat_sectors += [s for s in words[:-1] if s != FREE]
        difat = words[-1]
    fat = []
    for sector in fat_sectors:
        fat += sector_words(sector)

    directory = b"".join(data[offset(s):offset(s) + size] for s in chain(fat, first_dir))
    entries = {}
    for at in range(0, len(directory), 128):
        name_len, kind = struct.unpack_from("<HB", directory, at + 0x40)
        if kind == 0:
            continue
        name = directory[at:at + max(name_len - 2, 0)].decode("utf-16-le")
        start, length = struct.unpack_from("<IQ", directory, at + 0x74)
        entries[name] = (start, length & 0xFFFFFFFF if size == 512 else length)
    if STREAM not in entries or "Root Entry" not in entries:
        fail("no summary information")
    start, length = entries[STREAM]
    if length >= cutoff:
        return [(offset(s), size) for s in chain(fat, start)], length
    minifat = []
    for sector in chain(fat, first_minifat)[:minifat_count]:
        minifat += sector_words(sector)
    container = chain(fat, entries["Root Entry"][0])
    per_sector = size // mini_size
    pieces = []
    for mini in chain(minifat, start):
        base = offset(container[mini // per_sector])
        pieces.append((base + (mini % per_sector) * mini_size, mini_size))
    return pieces, length


def main():
    if len(sys.argv) != 4:
        fail("usage: msi_summary.py PACKAGE EPOCH NAMESPACE_UUID")
    path, epoch, namespace = sys.argv[1], int(sys.argv[2]), uuid.UUID(sys.argv[3])
    with open(path, "rb") as f:
        data = bytearray(f.read())
    pieces, length = stream_extents(data)
    stream = bytearray(b"".join(data[o:o + n] for o, n in pieces)[:length])

    # Evidence: MS-OLEPS 2.21 (property set header), 2.20 (section), 2.15
    # (TypedPropertyValue); MS docs "Summary Information Stream Property Set".
    section, = struct.unpack_from("<I", stream, 44)
    count, = struct.unpack_from("<I", stream, section + 4)
    values = {}
    for i in range(count):
        pid, at = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        values[pid] = section + at
    # FILETIME: 100 ns ticks since 1601-01-01 UTC.
    stamp = struct.pack("<Q", (epoch + 11644473600) * 10000000)
    for pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM):
        if pid in values:
            at = values[pid]
            if struct.unpack_from("<H", stream, at)[0] != VT_FILETIME:
                fail("date %d is not a FILETIME" % pid)
            stream[at + 4:at + 12] = stamp
    at = values.get(PID_REVNUMBER)
    if at is None or struct.unpack_from("<HHI", stream, at) != (VT_LPSTR, 0, len(ZERO_CODE) + 1):
        fail("the package code is not a GUID string")
    code = at + 8

    def write_back():
        done = 0
        for o, n in pieces:
            n = min(n, length - done)
            data[o:o + n] = stream[done:done + n]
            done += n

    # The code comes from everything else: the package hashed with a zero code.
    stream[code:code + len(ZERO_CODE)] = ZERO_CODE
    write_back()
    digest = hashlib.sha256(data).hexdigest()
    package_code = "{%s}" % str(uuid.uuid5(namespace, digest)).upper()
    stream[code:code + len(ZERO_CODE)] = package_code.encode("ascii")
    write_back()
    with open(path, "r+b") as f:
        f.write(data)
    print(package_code)


if __name__ == "__main__":
    main()
