"""Sends one hand-made Wake-on-LAN datagram with scapy, built here from the frame layout and not
by tesk: six 0xFF bytes, sixteen copies of the MAC address, then an optional password trailer.

Usage: wol_craft.py DESTINATION PORT MAC KIND [TRAILER]
  KIND     good     the frame as it should be
           short    the frame without its last byte (101 bytes)
           header   the last header byte 0xFE instead of 0xFF
           copies   the last byte of copy 15 changed
  TRAILER  hexadecimal bytes appended after the frame (c0:ff:ee:00:42:17), none when absent
"""

import sys

from scapy.config import conf
from scapy.layers.inet import IP, UDP
from scapy.packet import Raw
from scapy.sendrecv import send
from scapy.supersocket import L3RawSocket


def frame(mac, kind, trailer):
    payload = bytearray(b"\xff" * 6 + mac * 16)
    if kind == "short":
        del payload[-1]
    elif kind == "header":
        payload[5] = 0xFE
    elif kind == "copies":
        payload[6 + 6 * 15 + 5] ^= 0x01
    elif kind != "good":
        raise SystemExit(f"wol_craft.py: {kind}: unknown kind")
    return bytes(payload) + trailer


def main(argv):
    if len(argv) not in (5, 6):
        raise SystemExit(__doc__)
    destination, port, mac_text, kind = argv[1:5]
    mac = bytes.fromhex(mac_text.replace(":", ""))
    trailer = bytes.fromhex(argv[5].replace(":", "")) if len(argv) == 6 else b""
    # The kernel routes and resolves neighbours, as for any other client.
    conf.L3socket = L3RawSocket
    send(IP(dst=destination) / UDP(sport=40007, dport=int(port)) / Raw(frame(mac, kind, trailer)),
         verbose=False)


if __name__ == "__main__":
    main(sys.argv)
