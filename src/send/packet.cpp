#include "send/packet.h"

#include <algorithm>

void packet_fill(std::span<std::uint8_t> out, const MacAddress& mac, const Secret& secret) {
    auto next = std::fill_n(out.begin(), kPacketHeader, std::uint8_t{0xFF});
    for (std::size_t copy = 0; copy < kPacketCopies; ++copy) {
        next = std::copy(mac.bytes.begin(), mac.bytes.end(), next);
    }
    const auto trailer = secret.view();
    std::copy(trailer.begin(), trailer.end(), next);
}

MacAddress packet_mac(std::span<const std::uint8_t> datagram) {
    MacAddress mac;
    std::copy_n(datagram.begin() + kPacketHeader, mac.bytes.size(), mac.bytes.begin());
    return mac;
}

std::span<const std::uint8_t> packet_trailer(std::span<const std::uint8_t> datagram) {
    return datagram.subspan(std::min(datagram.size(), kPacketBase));
}

PacketCheck packet_check(std::span<const std::uint8_t> datagram, const Secret& listener_secret) {
    if (datagram.size() < kPacketBase) return PacketCheck::too_short;
    const auto header = datagram.first(kPacketHeader);
    if (std::any_of(header.begin(), header.end(), [](std::uint8_t b) { return b != 0xFF; })) {
        return PacketCheck::bad_header;
    }
    const auto first = datagram.subspan(kPacketHeader, 6);
    for (std::size_t copy = 1; copy < kPacketCopies; ++copy) {
        const auto other = datagram.subspan(kPacketHeader + 6 * copy, 6);
        if (!std::equal(first.begin(), first.end(), other.begin())) return PacketCheck::bad_copies;
    }
    const auto trailer = packet_trailer(datagram);
    if (trailer.empty()) {
        return listener_secret.length != 0 ? PacketCheck::missing_secret : PacketCheck::valid;
    }
    const auto expected = listener_secret.view();
    if (!std::equal(trailer.begin(), trailer.end(), expected.begin(), expected.end())) {
        return PacketCheck::bad_secret;
    }
    return PacketCheck::valid;
}
