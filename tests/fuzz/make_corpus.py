#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: tests/fuzz/corpus/<target>/.

Each target gets a handful of small inputs: valid ones in the layout its
reader expects and edge cases next to each check. Inputs that once made a
target fail are kept here too (named regress-*), so the corpus can always be
made again from this file alone. The folders are rewritten whole.

    python3 tests/fuzz/make_corpus.py [OUT_DIR]
"""
import os
import shutil
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def le32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def be32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


# ---------------------------------------------------------------- json_reader

def json_seeds():
    s = {}
    s["all-types"] = (b'{"a":[1,-2.5e3,true,false,null,"s\\u00e9\\n\\"\\\\"],'
                      b'"b":{"c":{}},"d":[],"e":"x\\/y\\b\\f\\r\\t"}')
    s["comments"] = b'/*c*/ {"a":1, // line\n "b" : [2] # hash\n ; semi\n}'
    s["numbers"] = (b'[0,-0,9223372036854775807,-9223372036854775808,18446744073709551616,'
                    b'0.1,-0.0,1e-400,1.5E+3,-1.25e-2,123456789.123]')
    s["escapes"] = b'["\\u0041\\u00e9\\u20ac","\\u0000cut","\\u-001","\\u 0x1","\\\\u0041"]'
    s["lenient"] = b'[1,2,] {"a" 1} [1 2]'
    s["truncated"] = b'{"a":[1,{"b":"c'
    s["nul-inside"] = b'[1]\x00[2,'
    s["depth-999"] = b"[" * 999 + b"]" * 999
    s["depth-1001"] = b"[" * 1001 + b"]" * 1001
    s["empty"] = b""
    s["blank"] = b" \t\r\n"
    s["setup-block"] = (b'{"mode":1,"channel":1,"extrapack":false,"lastrun":"Quillo.exe",'
                        b'"shortcut":{"desktop":[{"file":"Quillo.exe","name":"Quillo 3"}]},'
                        b'"uninstrun":["QuilloDaemon.exe /up","QuilloDaemon.exe /ud"],'
                        b'"md5":"0123456789ABCDEF0123456789ABCDEF"}')
    s["duplicate-keys"] = b'{"a":1,"a":[2],"":3,"\\u0000":4}'
    # Overflowing reals: the writer once wrote them as "inf", which no reader takes.
    s["regress-overflowing-real"] = b"255555.e5555e!31"
    s["regress-infinities"] = b"[1e400,-1e400,{\"x\":1e999}]"
    return s


# ---------------------------------------------------------------- appended_block

def stub(size=0x98, lfanew=0x80):
    """A DOS header whose e_lfanew points at a PE signature; locator still 0."""
    b = bytearray(size)
    b[0:2] = b"MZ"
    b[0x3C:0x40] = le32(lfanew)
    if lfanew + 4 <= size:
        b[lfanew:lfanew + 4] = b"PE\x00\x00"
    return b


def setup_file(block, package=b"PK\x05\x06" + b"\x00" * 18, extra=None, driver=None, lfanew=0x80):
    b = stub(lfanew=lfanew)
    offset = len(b)
    b[lfanew - 4:lfanew] = le32(offset)
    b += le32(len(block)) + block
    b += le32(len(package)) + package
    if extra is not None:
        b += le32(len(extra)) + extra
    if driver is not None:
        b += le32(len(driver)) + driver
    return bytes(b)


def block_seeds():
    s = {}
    s["setup-minimal"] = setup_file(b'{"extrapack":false}\n')
    s["setup-extra-driver"] = setup_file(b'{"extrapack":true,"ituneslite64":true}\n', extra=b"MZextra",
                                         driver=b"PK\x05\x06" + b"\x00" * 18)
    s["setup-driver-only"] = setup_file(b'{"extrapack":false,"ituneslite32":1}\n', driver=b"PKdrv")
    manifest = b'{"files":["a.exe"],"x":1}\n'
    uninstaller = stub()
    uninstaller[0x7C:0x80] = le32(len(uninstaller))
    s["uninstaller"] = bytes(uninstaller) + le32(len(manifest)) + manifest
    s["plain-image"] = bytes(stub())  # locator 0
    whole = bytearray(setup_file(b"{}"))
    whole[0x7C:0x80] = le32(len(whole))  # O = S
    s["locator-at-end"] = bytes(whole)
    whole[0x7C:0x80] = le32(0xFFFFFFF0)
    s["locator-beyond"] = bytes(whole)
    t = bytearray(setup_file(b'{"a":1}'))
    t[0x98:0x9C] = le32(0xFFFFFFFF)  # L past the end
    s["length-too-long"] = bytes(t)
    s["json-invalid"] = setup_file(b'{"a":')
    s["empty-text"] = setup_file(b"")
    p = bytearray(setup_file(b"{}", package=b"PK"))
    p[0x98 + 4 + 2:0x98 + 4 + 2 + 4] = le32(1000)  # P past the end
    s["package-too-long"] = bytes(p)
    s["no-package-field"] = setup_file(b"{}")[:0x98 + 4 + 2]
    s["short-header"] = b"MZ" + b"\x00" * 40
    s["lfanew-small"] = bytes(stub(lfanew=2))
    s["lfanew-beyond"] = bytes(stub(size=0x60, lfanew=0x1000))
    s["extra-truncated"] = setup_file(b"{}", extra=b"abc")[:-2]
    return s


# ---------------------------------------------------------------- http_response
# Byte 0: bits 0-1 body read (ReceiveBody, ReceiveBodyExact, progress, Read),
# bit 2 one-call GET, bit 3 a second response, bits 4-5 receive buffer size,
# bit 6 how the second body is read, bit 7 a time-out at the end.
# Byte 1: seeds the receive sizes. Connections are separated by NUL "EOC" NUL.

EOC = b"\x00EOC\x00"


def http(mode, seed, stream):
    return bytes([mode, seed]) + stream


def http_seeds():
    ok = b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Type: text/plain\r\n\r\nhello"
    chunked = (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n"
               b"5;ext=1\r\nhello\r\n0x6\r\n world\r\n0\r\nTrailer: x\r\n\r\n")
    s = {}
    s["content-length"] = http(0x00, 1, ok)
    s["content-length-exact-next"] = http(0x49, 2, ok + b"extra" + b"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc")
    s["chunked"] = http(0x00, 3, chunked)
    s["chunked-exact-tiny-buffer"] = http(0x11, 4, chunked)
    s["progress"] = http(0x02, 5, b"HTTP/1.1 200 OK\r\ncontent-length:   10  \r\n\r\n0123456789tail")
    s["read-calls"] = http(0x03, 6, ok + b" and more bytes than declared")
    s["redirects"] = http(0x04, 7, b"HTTP/1.1 302 Found\r\nLocation: http://other.example:8080/next?q=1\r\n"
                                   b"Content-Length: 0\r\n\r\n" + EOC +
                                   b"HTTP/1.1 301 Moved\r\nLocation: http://third.example/\r\n\r\n" + EOC + ok)
    s["redirect-relative"] = http(0x04, 8, b"HTTP/1.1 302 Found\r\nLocation: /relative\r\n\r\n" + EOC + ok)
    s["continue-then-ok"] = http(0x09, 9, b"HTTP/1.1 100 Continue\r\n\r\n" + ok)
    s["no-head-end"] = http(0x00, 10, b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n")
    s["bad-status"] = http(0x00, 11, b"HTTP/1.1200\r\n: empty name\r\nnocolon\r\n\r\n")
    s["huge-chunk"] = http(0x01, 12, b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\nab")
    s["negative-length"] = http(0x80, 13, b"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc")
    s["length-short-timeout"] = http(0x82, 14, b"HTTP/1.1 200 OK\r\nContent-Length: 99\r\n\r\nabc")
    s["status-overflow"] = http(0x00, 15, b"HTTP/1.1 99999999999999999999 X\r\n\r\n")
    return s


# ---------------------------------------------------------------- stat_reply

def stat_seeds():
    text = b'{"ret":0,"msg":"ok","data":{"n":[1,2,3]}}\n'
    s = {}
    s["valid"] = be32(len(text)) + zlib.compress(text)
    s["valid-larger-field"] = be32(4096) + zlib.compress(text)
    s["field-too-small"] = be32(8) + zlib.compress(text)
    s["field-zero"] = be32(0) + zlib.compress(text)
    s["field-over-64mib"] = be32(0x4000001) + zlib.compress(text)
    s["field-64mib"] = be32(0x4000000) + zlib.compress(b"x" * 2000)
    s["truncated-stream"] = be32(len(text)) + zlib.compress(text)[:-6]
    s["raw-deflate"] = be32(len(text)) + zlib.compressobj(wbits=-15).compress(text) + b"\x03\x00"
    c = zlib.compressobj(zdict=b'{"ret":')
    s["preset-dictionary"] = be32(len(text)) + c.compress(text) + c.flush()
    s["empty-text"] = be32(1) + zlib.compress(b"")
    s["short"] = b"\x00\x00\x01"
    s["not-json"] = be32(3) + zlib.compress(b"\xff\xfe[")
    return s


# ---------------------------------------------------------------- skin_package
# Byte 0: length q of the query lines that follow; the rest is the package.

SKIN_MAGIC = b".uir"


def skin_package(description, assets):
    d = description
    if not d.endswith(b"\n"):
        d += b"\n"
    d += b"\x00"
    out = SKIN_MAGIC + le32(len(d)) + d + le32(len(assets))
    for asset_id, data in assets:
        out += le32(asset_id) + le32(len(data)) + data
    return out


def skin(queries, package):
    q = b"\n".join(queries)
    assert len(q) < 256
    return bytes([len(q)]) + q + package


SKIN_DESC = (b'{"cfg":{"Main":{"size":[0,0,610,430],"bg":{"bi":1,"bg":[0,0,8,4],"bc":[255,0,255],'
             b'"mg":[2,2,2,2],"md":1,"fi":2,"fg":[0,0,4,4],"fc":[0,0,0],"al":4,"of":[1,-1]},'
             b'"title":{"size":[135,62,320,40],"pt":[5,6],"cr":[1,2,3],'
             b'"text":{"ft":101,"al":36,"cr":16777215,"of":[1,2],"tx":"Setup"}}}},'
             b'"res":{"images":[{"id":1,"name":"a.png"},{"id":"2"}],"fonts":[{"id":101.0}]}}')
SKIN_ASSETS = [(1, b"\x89PNG...."), (2, b"BM.."), (101, b'{"Height":-14,"Weight":400,"FaceName":"Tahoma"}\n')]
SKIN_QUERIES = [b"Main/size", b"Main/bg", b"Main/title", b"text", b"title//pt", b"/Main/title/cr", b""]


def skin_seeds():
    s = {}
    s["full"] = skin(SKIN_QUERIES, skin_package(SKIN_DESC, SKIN_ASSETS))
    s["font-null"] = skin([b"a"], skin_package(b'{"cfg":{"a":{"ft":7}},"res":{"fonts":[{"id":7}]}}',
                                                [(7, b"null\n")]))
    s["ids-odd"] = skin([b"x"], skin_package(
        b'{"cfg":{"x":1},"res":{"images":[{"id":-1},{"id":4294967296},{"id":true},{"id":1e30},{"id":"12abc"}],'
        b'"other":{"id":3},"fonts":[]}}', [(1, b"one"), (12, b"twelve"), (3, b""), (0, b"zero")]))
    s["count-too-large"] = skin([b"a"], SKIN_MAGIC + le32(3) + b"{}\n" + le32(0xFFFFFFFF) + le32(1) + le32(2) + b"ab")
    s["asset-too-long"] = skin([b"a"], SKIN_MAGIC + le32(3) + b"{}\n" + le32(1) + le32(1) + le32(0xFFFFFFF0) + b"ab")
    s["description-too-long"] = skin([b"a"], SKIN_MAGIC + le32(1000) + b"{}")
    s["description-invalid"] = skin([b"a"], skin_package(b'{"cfg":', [(1, b"x")]))
    s["magic-only"] = skin([], SKIN_MAGIC)
    s["wrong-magic"] = skin([b"a"], b".uix" + le32(3) + b"{}\n" + le32(0))
    s["no-package"] = bytes([200]) + b"cfg"
    s["font-record-bad"] = skin([b"a"], skin_package(b'{"cfg":{"a":{"ft":5}},"res":{"fonts":[{"id":5}]}}',
                                                       [(5, b'{"Height":1e400,"Weight":"700","FaceName":7}')]))
    return s


# ---------------------------------------------------------------- smbios

def structure(stype, formatted, strings=(), handle=0):
    """An SMBIOS structure: 4-byte header and formatted area, then the strings and a double zero."""
    body = bytes([stype, len(formatted) + 4]) + struct.pack("<H", handle) + formatted
    if strings:
        body += b"".join(s + b"\x00" for s in strings) + b"\x00"
    else:
        body += b"\x00\x00"
    return body


UUID = bytes(range(0x10, 0x20))


def system_info(formatted_length=0x1B):
    formatted = bytes([1, 2, 3, 4]) + UUID + bytes([6, 0, 0])  # strings 1..4, UUID, wake-up type, SKU, family
    return structure(1, formatted[:formatted_length - 4], [b"Maker", b"Model", b"1.0", b"SN"], handle=1)


def smbios_table():
    return (structure(0, bytes(0x14), [b"Vendor", b"2.1"]) + system_info() +
            structure(127, b"", handle=0xFFFF))


def firmware_buffer(table, declared=None):
    return bytes([0, 2, 8, 0]) + le32(len(table) if declared is None else declared) + table


def checksum_fix(b, start, length, at):
    b[at] = 0
    b[at] = (-sum(b[start:start + length])) & 0xFF


def bios_area(sm=True, bad=False, count=3):
    area = bytearray(b"\xff" * 0x200)
    at = 0x100
    if sm:
        e = bytearray(0x1F)
        e[0:4] = b"_SM_"
        e[5] = 0x1F
        e[6:8] = b"\x02\x08"
        e[16:21] = b"_DMI_"
        e[22:24] = struct.pack("<H", len(smbios_table()))
        e[24:28] = le32(0x000E0000)
        e[28:30] = struct.pack("<H", count)
        checksum_fix(e, 16, 15, 21)
        checksum_fix(e, 0, 0x1F, 4)
    else:
        e = bytearray(15)
        e[0:5] = b"_DMI_"
        e[6:8] = struct.pack("<H", len(smbios_table()))
        e[8:12] = le32(0x000E0000)
        e[12:14] = struct.pack("<H", count)
        checksum_fix(e, 0, 15, 5)
    if bad:
        e[-1] ^= 1
    area[at:at + len(e)] = e
    return bytes(area)


def smbios_seeds():
    s = {}
    t = smbios_table()
    s["firmware-table"] = firmware_buffer(t)
    s["firmware-length-larger"] = firmware_buffer(t, declared=0xFFFFFFFF)
    s["firmware-length-smaller"] = firmware_buffer(t, declared=len(t) - 10)
    s["firmware-header-only"] = bytes([0, 2, 8, 0]) + le32(0)
    s["firmware-short"] = b"\x00\x02\x08"
    s["table-uuid-first"] = system_info() + structure(127, b"")
    s["table-system-info-short"] = structure(1, bytes(0x14), [b"x"]) + structure(127, b"")
    s["table-formatted-past-end"] = bytes([1, 0xFF, 0, 0]) + UUID
    s["table-no-double-zero"] = system_info()[:-2]
    s["table-header-too-small"] = bytes([1, 2, 0, 0, 0, 0])
    s["bios-sm-entry"] = bios_area() + t
    s["bios-dmi-entry"] = bios_area(sm=False) + t
    s["bios-bad-checksum"] = bios_area(bad=True) + t
    s["bios-entry-at-end"] = bios_area()[:0x110]
    return s


# ---------------------------------------------------------------- entry_name
# Byte 0: bit 0 UTF-16LE (else one character per byte), bit 1 drivers64.

def narrow(flags, name):
    return bytes([flags]) + name


def wide(flags, text):
    return bytes([flags | 1]) + text.encode("utf-16-le")


def entry_seeds():
    s = {}
    s["plain"] = narrow(0, b"bin/Quillo.exe")
    s["arch-x64"] = narrow(2, b"x64\\drivers\\usb.sys")
    s["arch-x86-nested"] = narrow(0, b"lib\\x86\\x86\\a.dll")
    s["arch-slash"] = narrow(2, b"x64/a.dll")
    s["arch-last"] = narrow(2, b"a\\x64")
    s["arch-prefix"] = narrow(2, b"x64setup.exe")
    s["dot-dot"] = narrow(0, b"a\\..\\..\\evil.dll")
    s["dots-spaces"] = narrow(0, b"a/. ./b")
    s["three-dots"] = narrow(0, b"...\\x")
    s["single-dot"] = narrow(0, b"./a/./b")
    s["drive"] = narrow(0, b"C:\\Windows\\x.dll")
    s["unc"] = narrow(0, b"\\\\?\\C:\\x")
    s["absolute"] = narrow(0, b"/etc/passwd")
    s["nul"] = narrow(0, b"a\x00b")
    s["white"] = narrow(0, b" \t name \r\n")
    s["wide-lookalikes"] = wide(0, "a\u012e\u012e\\b\u015c\u003ac")
    s["wide-arch"] = wide(2, "\u00e9t\u00e9\\x64\\f\u00fcr.dll")
    s["empty"] = narrow(0, b"")
    return s


TARGETS = {
    "json_reader": json_seeds,
    "appended_block": block_seeds,
    "http_response": http_seeds,
    "stat_reply": stat_seeds,
    "skin_package": skin_seeds,
    "smbios": smbios_seeds,
    "entry_name": entry_seeds,
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "corpus")
    total = 0
    for target, make in TARGETS.items():
        folder = os.path.join(out, target)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        seeds = make()
        for name, data in sorted(seeds.items()):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
            total += len(data)
        print(f"{target}: {len(seeds)} inputs")
    print(f"{total} bytes in all")


if __name__ == "__main__":
    main()
