// The Wake-on-LAN magic packet: six bytes 0xFF, sixteen copies of the MAC
// address, then the secret's bytes. The sender builds it and the daemon checks
// received ones against the same layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "values/ether.h"
#include "values/secret.h"

inline constexpr std::size_t kPacketHeader = 6;
inline constexpr std::size_t kPacketCopies = 16;
inline constexpr std::size_t kPacketBase = kPacketHeader + kPacketCopies * 6;  // 102

// Bytes of the packet for `secret`: 102 to 166.
constexpr std::size_t packet_size(const Secret& secret) {
    return kPacketBase + secret.length;
}

// Writes the packet into `out`, which holds exactly packet_size(secret) bytes.
void packet_fill(std::span<std::uint8_t> out, const MacAddress& mac, const Secret& secret);

// Why a received datagram is refused, in the order the checks are made.
enum class PacketCheck {
    valid,
    too_short,       // below 102 bytes
    bad_header,      // bytes 0 to 5 not all 0xFF
    bad_copies,      // a MAC copy differs from the first
    missing_secret,  // no trailer, while the listener has a secret
    bad_secret,      // a trailer that is not the listener's secret
};

// Checks `datagram` against the layout and the listener's secret. Without a listener
// secret, a trailer is always refused and a packet without one accepted.
PacketCheck packet_check(std::span<const std::uint8_t> datagram, const Secret& listener_secret);

// The MAC address a datagram of at least 102 bytes carries (its first copy).
MacAddress packet_mac(std::span<const std::uint8_t> datagram);

// The bytes after the 102 of the packet proper.
std::span<const std::uint8_t> packet_trailer(std::span<const std::uint8_t> datagram);
