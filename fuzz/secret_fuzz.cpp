// secret_parse, secret_format and secret_compare on any text. The parse is compared
// with the three forms worked out independently (dotted decimal, hexadecimal fields
// split as strtok_r splits them, raw text); the format with its own rules; and a
// formatted secret of two bytes or more reads back as the same secret.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "values/secret.h"

namespace {

// The bytes the three forms make of `text`, or nothing when raw text is too long.
std::optional<std::vector<std::uint8_t>> expected_parse(const char* text) {
    unsigned parts[4];
    if (std::sscanf(text, "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]) == 4) {
        return std::vector<std::uint8_t>{
            static_cast<std::uint8_t>(parts[0]), static_cast<std::uint8_t>(parts[1]),
            static_cast<std::uint8_t>(parts[2]), static_cast<std::uint8_t>(parts[3])};
    }

    std::string copy(text);
    std::vector<std::uint8_t> bytes;
    bool all_qualify = true;
    std::size_t fields = 0;
    char* saved = nullptr;
    for (char* field = strtok_r(copy.data(), ":-", &saved); field != nullptr;
         field = strtok_r(nullptr, ":-", &saved)) {
        ++fields;
        unsigned value = 0;
        if (std::strlen(field) > 2 || std::sscanf(field, "%x", &value) != 1) {
            all_qualify = false;
            break;
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
        if (bytes.size() == kSecretMax) break;
    }
    if (bytes.size() == kSecretMax || (fields >= 2 && all_qualify)) return bytes;

    const std::size_t length = std::strlen(text);
    if (length > kSecretMax) return std::nullopt;
    return std::vector<std::uint8_t>(text, text + length);
}

std::optional<std::string> expected_format(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return std::nullopt;
    std::string text;
    char piece[16];
    if (bytes.size() == 4) {
        std::snprintf(piece, sizeof piece, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
        text = piece;
    } else {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            std::snprintf(piece, sizeof piece, "%s%02x", i == 0 ? "" : ":", bytes[i]);
            text += piece;
        }
    }
    bool printable = true;
    for (std::uint8_t byte : bytes)
        printable = printable && byte >= 0x20 && byte <= 0x7E;
    if (printable) {
        text += " (";
        text.append(bytes.begin(), bytes.end());
        text += ')';
    }
    return text;
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

void check_compare(const Secret& secret) {
    FUZZ_CHECK(secret_compare(&secret, &secret) == 0);
    Secret copy = secret;
    FUZZ_CHECK(secret_compare(&secret, &copy) == 0);
    FUZZ_CHECK(secret_compare(&secret, nullptr) == -1);
    FUZZ_CHECK(secret_compare(nullptr, &secret) == 1);

    if (secret.length > 0) {
        copy.bytes[secret.length - 1] ^= 0x01;  // one byte differs: order by that byte
        const int expected =
            secret.bytes[secret.length - 1] < copy.bytes[secret.length - 1] ? -1 : 1;
        FUZZ_CHECK(sign(secret_compare(&secret, &copy)) == expected);
        FUZZ_CHECK(sign(secret_compare(&copy, &secret)) == -expected);
    }
    Secret longer = secret;
    if (longer.length < kSecretMax) {
        longer.length += 1;  // the shorter orders first, whatever the bytes
        longer.bytes[0] = 0x00;
        FUZZ_CHECK(secret_compare(&secret, &longer) < 0);
        FUZZ_CHECK(secret_compare(&longer, &secret) > 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    // The formatter on raw bytes, as the daemon shows a received trailer.
    const auto raw = std::span<const std::uint8_t>(data, size < kSecretMax ? size : kSecretMax);
    FUZZ_CHECK(secret_format(raw) == expected_format(raw));

    Secret secret{};
    secret.length = 7;
    secret.bytes.fill(0xA5);
    const Secret before = secret;
    errno = 0;
    const int result = secret_parse(text.c_str(), secret);
    const int error = errno;
    const auto expected = expected_parse(text.c_str());

    if (!expected) {
        FUZZ_CHECK(result == -1);
        FUZZ_CHECK(error == EINVAL);
        FUZZ_CHECK(secret.length == before.length && secret.bytes == before.bytes);
        return 0;
    }
    FUZZ_CHECK(result >= 0);
    FUZZ_CHECK(secret.length <= kSecretMax);
    FUZZ_CHECK(static_cast<std::uint64_t>(result) == secret.length);
    FUZZ_CHECK(secret.length == expected->size());
    FUZZ_CHECK(std::equal(expected->begin(), expected->end(), secret.bytes.begin()));

    const auto shown = secret_format(&secret);
    FUZZ_CHECK(shown == expected_format(secret.view()));
    check_compare(secret);

    // The text before the parenthesised characters reads back as the same secret;
    // a lone byte prints as one field, which reads as two characters of raw text.
    if (secret.length >= 2) {
        const std::string form = shown->substr(0, shown->find(' '));
        Secret again{};
        FUZZ_CHECK(secret_parse(form.c_str(), again) == static_cast<int>(secret.length));
        FUZZ_CHECK(secret_compare(&again, &secret) == 0);
    }
    return 0;
}
