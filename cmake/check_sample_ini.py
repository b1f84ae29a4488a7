#!/usr/bin/env python3
# Checks the sample INI file as shipped: the options HOLVSVC.EXE takes from it
# (minus-sign tokens in its first 255 bytes) are exactly the expected ones, and
# no comment elsewhere in the file holds a minus sign a reader could take for
# an option.
# Usage: python3 check_sample_ini.py INI EXPECTED_TOKEN...
import sys

READ_LIMIT = 255
TOKEN_LIMIT = 20


def host_tokens(data):
    """The tokens the host collects, by its reading rules."""
    text = data[:READ_LIMIT].replace(b"\r\n", b"\n")
    tokens = []
    at = 0
    while len(tokens) < TOKEN_LIMIT:
        while at < len(text) and text[at] not in b"-\0":
            at += 1
        if at >= len(text):
            break
        if text[at] == 0:
            tokens.append(b"")
            at += 1
            continue
        scan, quoted = at, False
        while scan < len(text) and text[scan] != 0:
            c = text[scan]
            if c == ord('"'):
                quoted = not quoted
            elif not quoted and c <= 32:
                break
            scan += 1
        if quoted:
            break  # an unclosed quote loses the token and the rest
        token = text[at:scan]
        if len(token) > 2 and token[2:3] == b'"':
            close = token.find(b'"', 3)
            if close >= 0:
                token = token[:2] + token[3:close]
        tokens.append(token)
        at = scan + 1
    return [t.decode("latin-1") for t in tokens]


def main():
    if len(sys.argv) < 2:
        print("usage: check_sample_ini.py INI EXPECTED_TOKEN...")
        return 2
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    expected = sys.argv[2:]
    failed = False
    got = host_tokens(data)
    if got == expected:
        print("ok   - options the host reads: %s" % " ".join(got))
    else:
        print("FAIL - options the host reads: %r, expected %r" % (got, expected))
        failed = True
    minus = data.count(b"-")
    wanted = sum(t.count("-") for t in expected)
    if minus == wanted:
        print("ok   - no other minus sign in the file")
    else:
        for number, line in enumerate(data.split(b"\n"), 1):
            if b"-" in line and line.strip().decode("latin-1") not in expected:
                print("FAIL - line %d holds a minus sign: %s" % (number, line.strip().decode("latin-1")))
        failed = True
    if b"\r\n" not in data:
        print("note - file has no CR LF line ends")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
