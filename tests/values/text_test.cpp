#include "values/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include "config/registry.h"

namespace {

using namespace std::literals;

TEST(Strjoin, JoinsUpToTheFirstNull) {
    EXPECT_EQ(strjoin({nullptr}), std::nullopt);
    EXPECT_EQ(strjoin({nullptr, "/", ".teskrc"}), std::nullopt);
    EXPECT_EQ(strjoin({"alone"}), "alone");
    EXPECT_EQ(strjoin({"/home/me", "/", ".teskrc"}), "/home/me/.teskrc");
    EXPECT_EQ(strjoin({"", "a", "", "b", ""}), "ab");
    EXPECT_EQ(strjoin({""}), "");
    EXPECT_EQ(strjoin({"a", "b", nullptr, "c"}), "ab");
}

TEST(TextPrintf, FormatsTextsOfAnyLength) {
    EXPECT_EQ(text_printf("%s#%u: %d", "f.conf", 3u, -1), "f.conf#3: -1");
    EXPECT_EQ(text_printf("%s", ""), "");
    const std::string long_text(5000, 'x');
    EXPECT_EQ(text_printf("<%s>", long_text.c_str()), "<" + long_text + ">");
}

sockaddr_in ipv4(const char* host, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET, host, &address.sin_addr), 1);
    return address;
}

sockaddr_in6 ipv6(const char* host, std::uint16_t port, std::uint32_t scope = 0) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_scope_id = scope;
    EXPECT_EQ(inet_pton(AF_INET6, host, &address.sin6_addr), 1);
    return address;
}

template <typename Address>
std::optional<std::string> text_of(const Address& address) {
    return sockaddr_text(reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

template <typename Address>
addrinfo entry_of(Address& address, int family) {
    addrinfo entry{};
    entry.ai_family = family;
    entry.ai_socktype = SOCK_DGRAM;
    entry.ai_addr = reinterpret_cast<sockaddr*>(&address);
    entry.ai_addrlen = sizeof address;
    return entry;
}

TEST(SockaddrText, AddressForm) {
    EXPECT_EQ(text_of(ipv4("192.0.2.10", 7)), "192.0.2.10:7");
    EXPECT_EQ(text_of(ipv4("255.255.255.255", 65535)), "255.255.255.255:65535");
    EXPECT_EQ(text_of(ipv6("ff02::1", 10007)), "[ff02::1]:10007");
    EXPECT_EQ(text_of(ipv6("::1", 0)), "[::1]:0");
    EXPECT_EQ(text_of(ipv6("::ffff:192.0.2.1", 9)), "[::ffff:192.0.2.1]:9");
    // The service is always numeric: port 7 is not shown as "echo".
    EXPECT_EQ(text_of(ipv4("127.0.0.1", 9)), "127.0.0.1:9");

    sockaddr_in unknown = ipv4("192.0.2.10", 7);
    unknown.sin_family = AF_UNSPEC;
    EXPECT_EQ(text_of(unknown), std::nullopt);
    EXPECT_EQ(sockaddr_text(nullptr, 0), std::nullopt);
}

TEST(SockaddrText, LinkLocalShowsItsScope) {
    const unsigned scope = if_nametoindex("lo");
    if (scope == 0) GTEST_SKIP() << "skipped: no interface named lo";
    EXPECT_EQ(text_of(ipv6("fe80::1", 7, scope)), "[fe80::1%lo]:7");
}

TEST(SockaddrText, EntryAndTargetForms) {
    sockaddr_in v4 = ipv4("198.51.100.7", 9);
    sockaddr_in6 v6 = ipv6("2001:db8::5", 10007);
    const addrinfo entry4 = entry_of(v4, AF_INET);
    const addrinfo entry6 = entry_of(v6, AF_INET6);
    EXPECT_EQ(sockaddr_text(&entry4), "198.51.100.7:9");
    EXPECT_EQ(sockaddr_text(&entry6), "[2001:db8::5]:10007");
    EXPECT_EQ(sockaddr_text(static_cast<const addrinfo*>(nullptr)), std::nullopt);

    Target target;
    EXPECT_EQ(sockaddr_text(target), std::nullopt);
    target.entry = &entry6;
    EXPECT_EQ(sockaddr_text(target), "[2001:db8::5]:10007");
}

std::string dump(const std::vector<std::uint8_t>& bytes) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    hexdump(out, bytes);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

std::vector<std::uint8_t> counting(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

TEST(Hexdump, LinesOfSixteen) {
    EXPECT_EQ(dump({}), "\t\n");
    EXPECT_EQ(dump({0xab}), "\tAB\n");
    EXPECT_EQ(dump(counting(16)), "\t00:01:02:03:04:05:06:07:08:09:0A:0B:0C:0D:0E:0F\n");
    EXPECT_EQ(dump(counting(17)),
              "\t00:01:02:03:04:05:06:07:08:09:0A:0B:0C:0D:0E:0F\n"
              "\t10\n");
    EXPECT_EQ(dump(counting(32)),
              "\t00:01:02:03:04:05:06:07:08:09:0A:0B:0C:0D:0E:0F\n"
              "\t10:11:12:13:14:15:16:17:18:19:1A:1B:1C:1D:1E:1F\n");

    std::vector<std::uint8_t> packet(6, 0xff);
    for (int copy = 0; copy < 16; ++copy)
        packet.insert(packet.end(), {0x00, 0x11, 0x22, 0xaa, 0xbb, 0xcc});
    ASSERT_EQ(packet.size(), 102u);
    EXPECT_EQ(dump(packet),
              "\tFF:FF:FF:FF:FF:FF:00:11:22:AA:BB:CC:00:11:22:AA\n"
              "\tBB:CC:00:11:22:AA:BB:CC:00:11:22:AA:BB:CC:00:11\n"
              "\t22:AA:BB:CC:00:11:22:AA:BB:CC:00:11:22:AA:BB:CC\n"
              "\t00:11:22:AA:BB:CC:00:11:22:AA:BB:CC:00:11:22:AA\n"
              "\tBB:CC:00:11:22:AA:BB:CC:00:11:22:AA:BB:CC:00:11\n"
              "\t22:AA:BB:CC:00:11:22:AA:BB:CC:00:11:22:AA:BB:CC\n"
              "\t00:11:22:AA:BB:CC\n");
}

TEST(LineTrim, CommentsAndWhiteSpace) {
    struct Case {
        const char* line;
        const char* trimmed;
    };
    constexpr Case cases[] = {
        {"  host pc1 ; comment", "host pc1"},
        {"#x;y", ""},
        {"a#b;c", "a"},
        {"x;y#z", "x"},
        {" \t\r\n\v\f", ""},
        {"\tx\t", "x"},
        {"", ""},
        {"a", "a"},
        {"; only a comment", ""},
        {"host pc1\r\n", "host pc1"},
        {"   a  \t b   ", "a  \t b"},
        {"secret ab;cd", "secret ab"},
        {"name pc#1", "name pc"},
        // Bytes from 0x80 on are never white space.
        {"\xA0x\xA0", "\xA0x\xA0"},
        {"\x85 y \x85", "\x85 y \x85"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::string line = c.line;
        line_trim(line.data());
        EXPECT_STREQ(line.c_str(), c.trimmed);
    }

    // A long run of leading white space: the rest moves over the part it overlaps.
    std::string line = std::string(300, ' ') + "gateway office" + std::string(300, '\t');
    line_trim(line.data());
    EXPECT_STREQ(line.c_str(), "gateway office");
}

// A stream that reads `bytes`, NULs included.
std::FILE* stream_of(std::string_view bytes) {
    std::FILE* in = std::tmpfile();
    EXPECT_NE(in, nullptr);
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), in), bytes.size());
    std::rewind(in);
    return in;
}

std::vector<std::string> lines_of(std::string_view bytes) {
    std::FILE* in = stream_of(bytes);
    std::vector<std::string> lines;
    std::string line = "stale";
    while (read_line(in, line))
        lines.push_back(line);
    EXPECT_EQ(line, "");  // nothing read at the end
    std::fclose(in);
    return lines;
}

TEST(ReadLine, WholeLinesWithoutLineEnds) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(lines_of(""), Lines{});
    EXPECT_EQ(lines_of("\n"), Lines{""});
    EXPECT_EQ(lines_of("\n\n"), (Lines{"", ""}));
    EXPECT_EQ(lines_of("a\nb\n"), (Lines{"a", "b"}));
    EXPECT_EQ(lines_of("x\ny"), (Lines{"x", "y"}));
    EXPECT_EQ(lines_of("a\r\n"), Lines{"a\r"});
    // A NUL inside a line neither ends it nor hides its line end.
    EXPECT_EQ(lines_of("ab\0cd\nef\n"sv), (Lines{"ab\0cd"s, "ef"}));
    EXPECT_EQ(lines_of("\0\n"sv), Lines{"\0"s});

    const std::string long_line(3000, 'l');
    EXPECT_EQ(lines_of(long_line + "\nnext\n"), (Lines{long_line, "next"}));
    const std::string longer(100000, 'm');
    EXPECT_EQ(lines_of(longer), Lines{longer});
}

}  // namespace
