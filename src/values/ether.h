// The platform's Ethernet address calls, kept in one place: the ethers
// headers differ between FreeBSD and Linux, and glibc's ether_ntoa drops
// leading zeros, so the text form of an address is written here.
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

// Looks `name` up as a host name in the ethers database; 0 and `mac` filled, or -1.
int ether_lookup_name(const char* name, MacAddress& mac);

// Reads `text` as a textual Ethernet address the way the platform's ether_aton does;
// 0 and `mac` filled, or -1.
int ether_read_text(const char* text, MacAddress& mac);
