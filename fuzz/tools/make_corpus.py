#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are the documented examples and edge cases of each input, so that
every run starts from inputs that reach the interesting branches. Run it again
after changing a seed; files that libFuzzer merged in are left alone.
"""
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent / "corpus"

SAMPLE = b"""; gateways come first: none may follow a section header
copies 2
gateway office address 192.0.2.255 port 9 delay 1s
gateway lab address 198.51.100.255 copies 3
host nas mac 00:11:22:33:44:55 via lab
host 00:11:22:33:44:66 name printer
[office]
delay 2s
host pc1 mac 00:11:22:33:44:77
host pc2 mac 00:11:22:33:44:88 copies 5
[night]
host pc1
host nas
"""

CONFIG = {
    "sample.conf": SAMPLE,
    "sample-crlf.conf": SAMPLE.replace(b"\n", b"\r\n"),
    "empty.conf": b"",
    "comments-only.conf": b"; a comment\n\n   # another\n\t\n",
    "host-then-mac-next-line.conf": b"host pc1\nmac 00:11:22:33:44:55\n",
    "host-mac-one-line.conf": b"host pc1 mac 00:11:22:33:44:55\n",
    "section-one-more-token.conf": b"[office] x\n[office] delay 2s\n",
    "section-two-more-tokens.conf": b"[office] x delay 2s\n",
    "section-empty-name.conf": b"[]\nhost a\n",
    "lone-bracket.conf": b"[\n",
    "gateway-after-section.conf": b"[g]\ngateway\n",
    "gateway-after-section-named.conf": b"gateway g\n[g]\ngateway h\n",
    "nameless-gateway.conf": b"gateway address 192.0.2.1 port 9\n",
    "host-in-gateway-section.conf":
        b"gateway lab\ngateway office\nhost a via lab\n[office]\nhost a\nhost b\n",
    "host-in-two-sections.conf": b"[one]\nhost a\n[two]\nhost a\n",
    "copies-trailing-text.conf": b"copies 3x\n",
    "copies-not-a-number.conf": b"copies x\n",
    "copies-missing-value.conf": b"copies\n",
    "delay-group-and-host.conf": b"[g]\ndelay 250ms\nhost a delay 1.5\n",
    "address-in-section.conf": b"gateway lab\n[office]\naddress 192.0.2.7 port 7\n",
    "name-first-line.conf": b"name main\ngateway default\n",
    "secrets.conf":
        b"secret 1.2.3.4\ngateway g secret aa:bb:cc:dd:ee\nhost a secret plain-text via g\n"
        b"host b secret aa-bb-cc-dd-ee-ff-00-11-22-33-44-55-66-77-88-99\n",
    "secret-too-long.conf": b"secret " + b"x" * 65 + b"\n",
    "via-unknown.conf": b"host a via nowhere\n",
    "option-refused-in-section.conf": b"[g]\ncopies 2\n",
    "unknown-keyword.conf": b"colour blue\n",
    "long-line.conf": b"host a " + b"x" * 2993 + b"\nbogus\n",
    "line-2047.conf": b"#" * 2047 + b"\ncopies\n",
    "rename-renamed.conf": b"name other\ngateway default address 192.0.2.9\nname default\n",
    "negative-delay.conf": b"delay -1\n[g]\ndelay -0.5\nhost a delay -2ms\n",
    "rename-duplicates.conf":
        b"gateway a\ngateway b name a\ngateway a name c\nhost h via a\n[a]\nhost i\n",
    "nul-in-line.conf": b"host a\x00 mac 00:11:22:33:44:55\ncopies\n",
}

DURATION = [
    b"0", b"0.1", b"1.5", b"1.5s", b"1.2345678", b"0.000001", b"90", b"1m", b"1.5m",
    b"0.01m", b"1.5h", b"1d", b"2.5ms", b"1500ms", b"2.5us", b"2.5\xc2\xb5s", b"500ns",
    b"3599.5", b"5400.25", b"5msx", b"", b"abc", b"5sx", b"5 s", b"1.5 ", b"01:30:00",
    b"1m+30s", b"-1.5", b"-0.5ms", b"1e50", b"1e-50", b"nan", b"inf", b"-inf", b"0x1p4",
    b"  7", b"3e9", b"1e20ms", b"9e18ns", b"1e18d", b"2147483648", b"\xc2\xb5s",
]

# The duration target also formats the Duration held in the first 16 bytes
# (seconds, then nanoseconds, both signed 64-bit in the machine's byte order).
DURATION_FIELDS = [
    (5400, 250000000), (3599, 500000000), (0, 999), (0, 2500), (90, 0), (-1, -1),
    (0, 4294967296 * 1000000), (0x7FFFFFFFFFFFFFFF, 999999999), (-0x8000000000000000, 0),
]

SECRET = [
    b"1.2.3.4", b"300.1.2.3", b"1.2.3.4.5 tail", b"1.2.3", b"-1.2.3.4", b"aa:bb:cc",
    b"aa-bb:cc", b"::aa::bb::", b"1g:2", b"ab", b"aa:bbb:cc", b"zz:aa", b"a:b:c:d",
    b":".join(b"%02x" % i for i in range(65)),
    b":".join(b"%02x" % i for i in range(64)) + b":xyz",
    b"x" * 64, b"x" * 65, b"", b"\x01\x02", b"secret", b"a b", b"0x:01", b" 1: 2",
    b"100.200.150.250", b"de:ad:be:ef", b"wxyz",
]

LINE_TRIM = [
    b"  host pc1 ; comment", b"#x;y", b"a#b;c", b"   \t ", b"\tx\t", b"a\x00b;",
    b"\r\n", b"\v\fvalue\r\n", b"\xa0x\xa0", b"gateway office address 192.0.2.255",
    b";", b"#", b"no comment",
]


def packet(mac, trailer=b""):
    return b"\xff" * 6 + bytes(mac) * 16 + trailer


MAC = bytes([0x00, 0x11, 0x22, 0x33, 0x44, 0x55])
KEY = b"s3cret"


def listener(secret, datagram):
    """The packet target's input: the secret's length, the secret, the datagram."""
    return bytes([len(secret)]) + secret + datagram


def copy15_changed():
    data = bytearray(packet(MAC))
    data[101] ^= 0x01
    return bytes(data)


PACKET = {
    "bare-no-secret": listener(b"", packet(MAC)),
    "bare-with-secret": listener(KEY, packet(MAC)),
    "trailer-matches": listener(KEY, packet(MAC, KEY)),
    "trailer-one-short": listener(KEY, packet(MAC, KEY[:-1])),
    "trailer-one-long": listener(KEY, packet(MAC, KEY + b"!")),
    "trailer-one-differs": listener(KEY, packet(MAC, b"s3creT")),
    "trailer-without-secret": listener(b"", packet(MAC, KEY)),
    "trailer-64": listener(bytes(range(64)), packet(MAC, bytes(range(64)))),
    "trailer-65": listener(bytes(range(64)), packet(MAC, bytes(range(65)))),
    "short-101": listener(b"", packet(MAC)[:101]),
    "header-fe": listener(b"", b"\xff" * 5 + b"\xfe" + MAC * 16),
    "copy15-differs": listener(b"", copy15_changed()),
    "zero-mac": listener(b"", packet(bytes(6))),
    "longer-than-receive-buffer": listener(KEY, packet(MAC, b"\xaa" * 2000)),
    "empty": b"",
}


def write(target, name, data):
    folder = ROOT / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def main():
    for name, data in CONFIG.items():
        write("config_reader", name, data)
    for i, data in enumerate(DURATION):
        write("duration", "seed-%02d" % i, data)
    for i, (sec, nsec) in enumerate(DURATION_FIELDS):
        write("duration", "fields-%02d" % i, struct.pack("=qq", sec, nsec))
    for i, data in enumerate(SECRET):
        write("secret", "seed-%02d" % i, data)
    for i, data in enumerate(LINE_TRIM):
        write("line_trim", "seed-%02d" % i, data)
    for name, data in PACKET.items():
        write("packet_check", name, data)


if __name__ == "__main__":
    main()
