// The platform's Ethernet address calls, kept in one place. What differs between FreeBSD
// and Linux (glibc):
// - the header: <net/ethernet.h> on FreeBSD (after <sys/types.h>), <netinet/ether.h> on glibc;
// - ether_ntoa: FreeBSD writes two digits a byte, glibc drops leading zeros, so the text
//   form of an address is written here and ether_ntoa is not used;
// - ether_hostton: FreeBSD reads /etc/ethers itself (names compared exactly, lines by
//   ether_line, "+" lines asked of NIS); glibc asks the name service switch, whose "files"
//   source reads /etc/ethers with a parser of its own and compares names ignoring case.
//   Both are answered from a snapshot of the file where it provably gives the same answers
//   (values/ethers_snapshot.h), and by the call itself everywhere else;
// - dlopen, to learn whether a name service module can be loaded: glibc only.
// ether_aton_r is the same on both.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// A 6-byte Ethernet (MAC) address; all zero means "not set".
struct MacAddress {
    std::array<std::uint8_t, 6> bytes{};

    bool operator==(const MacAddress&) const = default;
};

// True when every byte is zero.
bool mac_is_zero(const MacAddress& mac);

// Six bytes as two lower-case hex digits each, joined by colons (00:11:22:aa:bb:cc).
std::string mac_text(const MacAddress& mac);

// Looks `name` up as a host name in the ethers database, in the snapshot taken on the first
// call where there is one; 0 and `mac` filled, or -1.
int ether_lookup_name(const char* name, MacAddress& mac);

// Reads `text` as a textual Ethernet address the way the platform's ether_aton does;
// 0 and `mac` filled, or -1.
int ether_read_text(const char* text, MacAddress& mac);
