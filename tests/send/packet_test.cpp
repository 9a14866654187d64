#include "send/packet.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr MacAddress kMac{{0x00, 0x11, 0x22, 0xaa, 0xbb, 0xcc}};

Secret secret_of(std::string_view bytes) {
    Secret secret;
    std::copy(bytes.begin(), bytes.end(), secret.bytes.begin());
    secret.length = bytes.size();
    return secret;
}

// The packet written out by hand: six 0xFF, sixteen copies of the MAC, the trailer.
Bytes magic(const MacAddress& mac, std::string_view trailer = {}) {
    Bytes bytes(6, 0xff);
    for (int copy = 0; copy < 16; ++copy)
        bytes.insert(bytes.end(), mac.bytes.begin(), mac.bytes.end());
    bytes.insert(bytes.end(), trailer.begin(), trailer.end());
    return bytes;
}

TEST(PacketFill, WithoutSecret) {
    const Secret none;
    ASSERT_EQ(packet_size(none), 102u);
    Bytes packet(packet_size(none), 0x5a);
    packet_fill(packet, kMac, none);
    EXPECT_EQ(packet, magic(kMac));
    EXPECT_EQ(packet[5], 0xff);
    EXPECT_EQ(packet[6], 0x00);
    EXPECT_EQ(packet[6 + 6 * 15 + 5], 0xcc);
}

TEST(PacketFill, WithTheLongestSecret) {
    std::string trailer;
    for (int i = 0; i < 64; ++i)
        trailer.push_back(static_cast<char>(0xc0 ^ i));
    const Secret secret = secret_of(trailer);
    ASSERT_EQ(packet_size(secret), 166u);
    Bytes packet(packet_size(secret), 0x5a);
    packet_fill(packet, kMac, secret);
    EXPECT_EQ(packet, magic(kMac, trailer));

    // Bytes of the Secret beyond its length stay out of the packet.
    Secret short_secret = secret_of("abc");
    short_secret.bytes[3] = 'X';
    ASSERT_EQ(packet_size(short_secret), 105u);
    Bytes short_packet(packet_size(short_secret));
    packet_fill(short_packet, kMac, short_secret);
    EXPECT_EQ(short_packet, magic(kMac, "abc"));
}

TEST(PacketFill, AllZeroAndAllOnesAddresses) {
    const MacAddress zero{};
    const MacAddress ones{{0xff, 0xff, 0xff, 0xff, 0xff, 0xff}};
    Bytes packet(102);
    packet_fill(packet, zero, Secret{});
    EXPECT_EQ(packet, magic(zero));
    packet_fill(packet, ones, Secret{});
    EXPECT_EQ(packet, Bytes(102, 0xff));
}

struct CheckCase {
    const char* what;
    Bytes datagram;
    Secret listener;
    PacketCheck expected;
};

Bytes changed(Bytes bytes, std::size_t offset, std::uint8_t value) {
    bytes.at(offset) = value;
    return bytes;
}

Bytes truncated(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

TEST(PacketCheckTest, Table) {
    const Secret none;
    const std::string key = "s3cr3t";
    const Secret listener = secret_of(key);
    const std::string key64(64, 'k');
    const Secret listener64 = secret_of(key64);
    const Bytes plain = magic(kMac);
    const CheckCase cases[] = {
        {"valid, no trailer, no listener secret", plain, none, PacketCheck::valid},
        {"101 bytes", truncated(plain, 101), none, PacketCheck::too_short},
        {"101 bytes with a listener secret", truncated(plain, 101), listener,
         PacketCheck::too_short},
        {"empty", {}, none, PacketCheck::too_short},
        {"short and a bad header", changed(truncated(plain, 50), 0, 0), none,
         PacketCheck::too_short},
        {"header ends in FE", changed(plain, 5, 0xfe), none, PacketCheck::bad_header},
        {"header starts with 00", changed(plain, 0, 0x00), none, PacketCheck::bad_header},
        {"bad header and bad copies", changed(changed(plain, 2, 0x7f), 50, 0x01), none,
         PacketCheck::bad_header},
        {"last byte of copy 15 differs", changed(plain, 101, 0xcd), none, PacketCheck::bad_copies},
        {"first byte of copy 1 differs", changed(plain, 12, 0x01), none, PacketCheck::bad_copies},
        {"copy 0 differs from the others", changed(plain, 6, 0x01), none, PacketCheck::bad_copies},
        {"bad copies and a bad secret", changed(magic(kMac, "wrong"), 60, 0x01), listener,
         PacketCheck::bad_copies},
        {"listener secret equal", magic(kMac, key), listener, PacketCheck::valid},
        {"listener secret one shorter", magic(kMac, key.substr(0, key.size() - 1)), listener,
         PacketCheck::bad_secret},
        {"listener secret one longer", magic(kMac, key + "!"), listener, PacketCheck::bad_secret},
        {"listener secret one byte different", magic(kMac, "s3cr3T"), listener,
         PacketCheck::bad_secret},
        {"first byte different", magic(kMac, "S3cr3t"), listener, PacketCheck::bad_secret},
        {"a trailer without a listener secret", magic(kMac, "x"), none, PacketCheck::bad_secret},
        {"a 64-byte trailer without a listener secret", magic(kMac, key64), none,
         PacketCheck::bad_secret},
        {"64-byte secret equal", magic(kMac, key64), listener64, PacketCheck::valid},
        {"65-byte trailer", magic(kMac, key64 + "k"), listener64, PacketCheck::bad_secret},
        {"102 bytes with a listener secret", plain, listener, PacketCheck::missing_secret},
        {"all-zero MAC is still a valid packet", magic(MacAddress{}), none, PacketCheck::valid},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(packet_check(c.datagram, c.listener), c.expected);
    }
}

TEST(PacketParts, MacAndTrailer) {
    const Bytes plain = magic(kMac);
    EXPECT_EQ(packet_mac(plain), kMac);
    EXPECT_TRUE(packet_trailer(plain).empty());

    const Bytes with_secret = magic(kMac, "pass");
    EXPECT_EQ(packet_mac(with_secret), kMac);
    const auto trailer = packet_trailer(with_secret);
    EXPECT_EQ(Bytes(trailer.begin(), trailer.end()), (Bytes{'p', 'a', 's', 's'}));

    const Bytes short_datagram(40, 0xff);
    EXPECT_TRUE(packet_trailer(short_datagram).empty());
}

}  // namespace
