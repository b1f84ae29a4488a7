#!/usr/bin/env python3
"""Gives each PE file the time stamp EPOCH (the commit's time) and the header
checksum its bytes give, so one source links to the same bytes wherever and
whenever it is built; or, with "check", only checks both.

Usage: pe_stamp.py [check] EPOCH FILE...   (check: exit 1 on any mismatch)
"""
import struct
import sys


def pe_checksum(data, field):
    # Evidence: MS docs "PE Format" (Optional Header Windows-Specific
    # Fields, CheckSum) and CheckSumMappedFile: the file summed as 16-bit
    # words with the carries folded back in, the checksum field counted as
    # zero, then the file's length added.
    padded = bytes(data) + b"\0" * (len(data) % 2)
    total = sum(w for (w,) in struct.iter_unpack("<H", padded))
    total -= struct.unpack_from("<H", padded, field)[0] + struct.unpack_from("<H", padded, field + 2)[0]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def fields(data):
    """Offsets of the COFF time stamp and the optional header's checksum."""
    if data[:2] != b"MZ" or len(data) < 0x40:
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0" or len(data) < pe + 24 + 68:
        return None
    # The checksum sits 64 bytes into the optional header, in PE32 and PE32+.
    return pe + 8, pe + 24 + 64


def main():
    args = sys.argv[1:]
    check = bool(args) and args[0] == "check"
    args = args[1:] if check else args
    if len(args) < 2:
        sys.exit("usage: pe_stamp.py [check] EPOCH FILE...")
    epoch = int(args[0])
    failed = False
    for path in args[1:]:
        with open(path, "rb") as f:
            data = bytearray(f.read())
        at = fields(data)
        if at is None:
            print("FAIL - %s: not a PE file" % path)
            failed = True
            continue
        stamp_at, sum_at = at
        if check:
            stamp = struct.unpack_from("<I", data, stamp_at)[0]
            stored = struct.unpack_from("<I", data, sum_at)[0]
            computed = pe_checksum(data, sum_at)
            if stamp != epoch:
                print("FAIL - %s: time stamp %d, not %d" % (path, stamp, epoch))
                failed = True
            if stored != computed:
                print("FAIL - %s: checksum %08X, its bytes give %08X" % (path, stored, computed))
                failed = True
            continue
        struct.pack_into("<I", data, stamp_at, epoch)
        struct.pack_into("<I", data, sum_at, pe_checksum(data, sum_at))
        with open(path, "r+b") as f:
            f.write(data)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
