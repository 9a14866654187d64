#include "values/secret.h"

#include <cerrno>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace {

using namespace std::literals;

constexpr std::string_view kHex64 =
    "00:01:02:03:04:05:06:07:08:09:0a:0b:0c:0d:0e:0f:10:11:12:13:14:15:16:17:18:19:1a:1b:1c:"
    "1d:1e:1f:20:21:22:23:24:25:26:27:28:29:2a:2b:2c:2d:2e:2f:30:31:32:33:34:35:36:37:38:39:"
    "3a:3b:3c:3d:3e:3f";

std::string bytes_0_to_63() {
    std::string bytes;
    for (int i = 0; i < 64; ++i)
        bytes.push_back(static_cast<char>(i));
    return bytes;
}

std::string stored(const Secret& secret) {
    return std::string(reinterpret_cast<const char*>(secret.bytes.data()), secret.length);
}

// A secret with all 64 bytes in use, so that a parse has to replace every part of it.
Secret full_secret() {
    Secret secret;
    secret.bytes.fill('Z');
    secret.length = 64;
    return secret;
}

struct Case {
    std::string text;
    int result;
    std::string bytes;
    const char* shown;  // secret_format of the result; null for none
};

TEST(SecretParse, EdgeCases) {
    const std::string raw64(64, 'r');
    const Case cases[] = {
        // Four decimal numbers: each byte the low 8 bits, anything after the fourth ignored.
        {"1.2.3.4", 4, "\x01\x02\x03\x04", "1.2.3.4"},
        {"300.1.2.3", 4, "\x2C\x01\x02\x03", "44.1.2.3"},
        {"1.2.3.4.5xyz", 4, "\x01\x02\x03\x04", "1.2.3.4"},
        {"0.0.0.0", 4, "\0\0\0\0"s, "0.0.0.0"},
        {"65.66.67.68", 4, "ABCD", "65.66.67.68 (ABCD)"},
        {"100.101.102.103", 4, "defg", "100.101.102.103 (defg)"},
        // Three numbers are raw text, dots and all.
        {"1.2.3", 5, "1.2.3", "31:2e:32:2e:33 (1.2.3)"},
        // Hexadecimal fields, separated by ':', '-' or both; empty fields skipped.
        {"de:ad:be:ef:01", 5, "\xDE\xAD\xBE\xEF\x01", "de:ad:be:ef:01"},
        {"de-ad-be-ef", 4, "\xDE\xAD\xBE\xEF", "222.173.190.239"},
        {"61:62:63:64", 4, "abcd", "97.98.99.100 (abcd)"},
        {"41::42--43-:", 3, "ABC", "41:42:43 (ABC)"},
        {":-41-:42:", 2, "AB", "41:42 (AB)"},
        {"1:2:3", 3, "\x01\x02\x03", "01:02:03"},
        {"A:bC:0", 3, "\x0A\xBC\x00"s, "0a:bc:00"},
        {"1g:2", 2, "\x01\x02", "01:02"},
        {"ff:ff", 2, "\xFF\xFF", "ff:ff"},
        // Printable means 0x20 to 0x7E.
        {"7e:20", 2, "~ ", "7e:20 (~ )"},
        {"7f:41", 2,
         "\x7F"
         "A",
         "7f:41"},
        {"1f:41", 2,
         "\x1F"
         "A",
         "1f:41"},
        // One field alone is never a byte.
        {"ab", 2, "ab", "61:62 (ab)"},
        {"ab:", 3, "ab:", "61:62:3a (ab:)"},
        // A field that does not qualify makes the whole text raw.
        {"abc:de", 6, "abc:de", "61:62:63:3a:64:65 (abc:de)"},
        {"xy:12", 5, "xy:12", "78:79:3a:31:32 (xy:12)"},
        {"12:xy", 5, "12:xy", "31:32:3a:78:79 (12:xy)"},
        // Raw text: four characters still print as four decimal numbers.
        {"abcd", 4, "abcd", "97.98.99.100 (abcd)"},
        {"a b", 3, "a b", "61:20:62 (a b)"},
        {"h\xC3\xA9llo", 6, "h\xC3\xA9llo", "68:c3:a9:6c:6c:6f"},
        {raw64, 64, raw64, nullptr},
        // 65 fields give 64 bytes; the 65th is not looked at, even when it would not qualify.
        {std::string(kHex64) + ":40", 64, bytes_0_to_63(), kHex64.data()},
        {std::string(kHex64) + ":zzz", 64, bytes_0_to_63(), kHex64.data()},
        {std::string(kHex64), 64, bytes_0_to_63(), kHex64.data()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Secret secret = full_secret();
        EXPECT_EQ(secret_parse(c.text.c_str(), secret), c.result);
        EXPECT_EQ(secret.length, c.bytes.size());
        EXPECT_EQ(stored(secret), c.bytes);
        const std::optional<std::string> shown = secret_format(&secret);
        if (c.shown == nullptr) continue;  // long texts: checked below
        ASSERT_TRUE(shown.has_value());
        EXPECT_EQ(*shown, c.shown);
    }
}

TEST(SecretParse, EmptyTextUnsetsTheSecret) {
    Secret secret = full_secret();
    EXPECT_EQ(secret_parse("", secret), 0);
    EXPECT_EQ(secret.length, 0u);
    EXPECT_EQ(secret_format(&secret), std::nullopt);
}

TEST(SecretParse, TooLongRawTextIsRefused) {
    const std::string texts[] = {
        std::string(65, 'r'),
        "abc:" + std::string(61, 'd'),  // not hexadecimal fields, so raw, and too long
        std::string(200, 'x'),
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        Secret secret = full_secret();
        errno = 0;
        EXPECT_EQ(secret_parse(text.c_str(), secret), -1);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(secret.length, 64u);
        EXPECT_EQ(stored(secret), std::string(64, 'Z'));
    }
}

TEST(SecretFormat, LongAndAbsentSecrets) {
    const std::string raw64(64, 'r');
    Secret secret;
    ASSERT_EQ(secret_parse(raw64.c_str(), secret), 64);
    std::string hex;
    for (int i = 0; i < 64; ++i)
        hex += i == 0 ? "72" : ":72";
    EXPECT_EQ(secret_format(&secret), hex + " (" + raw64 + ")");

    EXPECT_EQ(secret_format(nullptr), std::nullopt);
    Secret unset;
    EXPECT_EQ(secret_format(&unset), std::nullopt);
    unset.bytes[0] = 'a';  // bytes beyond the length do not count
    EXPECT_EQ(secret_format(&unset), std::nullopt);

    const std::uint8_t bytes[] = {'1', '2', '3', 0};
    EXPECT_EQ(secret_format(std::span<const std::uint8_t>(bytes, 3)), "31:32:33 (123)");
    EXPECT_EQ(secret_format(std::span<const std::uint8_t>(bytes, 4)), "49.50.51.0");
    EXPECT_EQ(secret_format(std::span<const std::uint8_t>()), std::nullopt);
}

Secret secret_of(std::string_view bytes) {
    Secret secret;
    std::copy(bytes.begin(), bytes.end(), secret.bytes.begin());
    secret.length = bytes.size();
    return secret;
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

TEST(SecretCompare, OrdersByLengthThenBytes) {
    const Secret abc = secret_of("abc");
    const Secret abcde = secret_of("abcde");
    const Secret zzz = secret_of("zzz");
    const Secret high = secret_of("\x80");
    const Secret low = secret_of("\x01");

    EXPECT_EQ(secret_compare(nullptr, nullptr), 0);
    EXPECT_EQ(secret_compare(nullptr, &abc), 1);
    EXPECT_EQ(secret_compare(&abc, nullptr), -1);
    // Different lengths: the difference of the lengths, whatever the bytes.
    EXPECT_EQ(secret_compare(&zzz, &abcde), -2);
    EXPECT_EQ(secret_compare(&abcde, &zzz), 2);
    EXPECT_EQ(secret_compare(&abc, &abc), 0);
    EXPECT_EQ(sign(secret_compare(&abc, &zzz)), -1);
    EXPECT_EQ(sign(secret_compare(&zzz, &abc)), 1);
    // Bytes compare as unsigned.
    EXPECT_EQ(sign(secret_compare(&high, &low)), 1);
    EXPECT_EQ(sign(secret_compare(&low, &high)), -1);

    // Only the bytes in use count.
    Secret other = secret_of("abc");
    other.bytes[10] = 'x';
    EXPECT_EQ(secret_compare(&abc, &other), 0);
    const Secret empty_a = secret_of("");
    Secret empty_b = secret_of("");
    empty_b.bytes[0] = 'q';
    EXPECT_EQ(secret_compare(&empty_a, &empty_b), 0);
}

}  // namespace
