// packet_check, the daemon's test of a received datagram. The input's first byte
// gives the length of the listener's secret (0 to 64), the bytes after it that
// secret, and the rest is the datagram. The verdict is compared with the layout:
// six bytes 0xFF, sixteen equal MAC copies, then exactly the listener's secret (no
// trailer at all when the listener has none). A packet built by packet_fill for the
// same MAC and secret is accepted, and one with any single byte changed is refused for
// the right reason.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "send/packet.h"
#include "values/secret.h"

namespace {

PacketCheck expected_check(std::span<const std::uint8_t> datagram, const Secret& secret) {
    if (datagram.size() < 102) return PacketCheck::too_short;
    for (std::size_t i = 0; i < 6; ++i) {
        if (datagram[i] != 0xFF) return PacketCheck::bad_header;
    }
    for (std::size_t copy = 1; copy < 16; ++copy) {
        for (std::size_t i = 0; i < 6; ++i) {
            if (datagram[6 + 6 * copy + i] != datagram[6 + i]) return PacketCheck::bad_copies;
        }
    }
    // A bare packet is relayed only by a listener without a secret: once one is set,
    // leaving the trailer out must not get past it.
    if (datagram.size() == 102) {
        return secret.length != 0 ? PacketCheck::missing_secret : PacketCheck::valid;
    }
    const std::size_t trailer = datagram.size() - 102;
    if (trailer != secret.length) return PacketCheck::bad_secret;
    if (!std::equal(datagram.begin() + 102, datagram.end(), secret.bytes.begin())) {
        return PacketCheck::bad_secret;
    }
    return PacketCheck::valid;
}

void check_verdict(std::span<const std::uint8_t> datagram, const Secret& secret) {
    const PacketCheck got = packet_check(datagram, secret);
    const PacketCheck expected = expected_check(datagram, secret);
    FUZZ_CHECK(got == expected);
    if (got == PacketCheck::valid) {
        // What is relayed holds the layout in full.
        FUZZ_CHECK(datagram.size() >= 102 && datagram.size() <= 102 + kSecretMax);
        FUZZ_CHECK(std::all_of(datagram.begin(), datagram.begin() + 6,
                               [](std::uint8_t b) { return b == 0xFF; }));
        for (std::size_t copy = 1; copy < 16; ++copy) {
            FUZZ_CHECK(std::equal(datagram.begin() + 6, datagram.begin() + 12,
                                  datagram.begin() + 6 + 6 * copy));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    Secret secret{};
    const std::size_t wanted = data[0] % (kSecretMax + 1);
    secret.length = std::min(wanted, size - 1);
    std::copy_n(data + 1, secret.length, secret.bytes.begin());
    const auto datagram = std::span<const std::uint8_t>(data, size).subspan(1 + secret.length);

    check_verdict(datagram, secret);
    if (datagram.size() >= 102) {
        FUZZ_CHECK(std::ranges::equal(packet_mac(datagram).bytes, datagram.subspan(6, 6)));
        FUZZ_CHECK(std::ranges::equal(packet_trailer(datagram), datagram.subspan(102)));
    } else {
        FUZZ_CHECK(packet_trailer(datagram).empty());
    }

    // The sender's packet for the MAC the datagram starts with, and this secret.
    MacAddress mac{};
    std::copy_n(datagram.begin(), std::min<std::size_t>(6, datagram.size()), mac.bytes.begin());
    std::vector<std::uint8_t> packet(packet_size(secret));
    packet_fill(packet, mac, secret);
    FUZZ_CHECK(packet.size() == 102 + secret.length);
    check_verdict(packet, secret);
    FUZZ_CHECK(std::ranges::equal(packet_mac(packet).bytes, mac.bytes));

    // One byte changed, at a place the datagram's length chooses.
    const std::size_t at = datagram.size() % packet.size();
    packet[at] ^= 0x80;
    const PacketCheck changed = packet_check(packet, secret);
    FUZZ_CHECK(changed != PacketCheck::valid);
    check_verdict(packet, secret);
    return 0;
}
