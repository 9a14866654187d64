#include "values/secret.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

bool parse_dotted(const char* text, Secret& out) {
    unsigned parts[4];
    if (std::sscanf(text, "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]) != 4) {
        return false;
    }
    for (std::size_t i = 0; i < 4; ++i)
        out.bytes[i] = static_cast<std::uint8_t>(parts[i]);
    out.length = 4;
    return true;
}

// A field is a byte when it has at most two characters and "%x" reads a number from it.
bool hex_field(const std::string& field, std::uint8_t& byte) {
    unsigned value = 0;
    if (field.size() > 2 || std::sscanf(field.c_str(), "%x", &value) != 1) return false;
    byte = static_cast<std::uint8_t>(value);
    return true;
}

bool parse_hex_fields(std::string_view text, Secret& out) {
    std::size_t fields = 0;
    std::size_t pos = 0;
    while (true) {
        pos = text.find_first_not_of(":-", pos);
        if (pos == std::string_view::npos) break;
        const std::size_t end = std::min(text.find_first_of(":-", pos), text.size());
        if (!hex_field(std::string(text.substr(pos, end - pos)), out.bytes[fields])) return false;
        ++fields;
        if (fields == kSecretMax) break;
        pos = end;
    }
    if (fields < 2) return false;
    out.length = fields;
    return true;
}

bool parse_raw(std::string_view text, Secret& out) {
    if (text.size() > kSecretMax) return false;
    std::copy(text.begin(), text.end(), out.bytes.begin());
    out.length = text.size();
    return true;
}

}  // namespace

int secret_parse(const char* text, Secret& secret) {
    Secret parsed{};
    if (parse_dotted(text, parsed) || parse_hex_fields(text, parsed)) {
        secret = parsed;
        return static_cast<int>(secret.length);
    }
    parsed = Secret{};
    if (!parse_raw(text, parsed)) {
        errno = EINVAL;
        return -1;
    }
    secret = parsed;
    return static_cast<int>(secret.length);
}

std::optional<std::string> secret_format(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return std::nullopt;
    std::string text;
    if (bytes.size() == 4) {
        text = std::to_string(bytes[0]) + '.' + std::to_string(bytes[1]) + '.' +
               std::to_string(bytes[2]) + '.' + std::to_string(bytes[3]);
    } else {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            char piece[4];
            std::snprintf(piece, sizeof piece, i == 0 ? "%02x" : ":%02x", bytes[i]);
            text += piece;
        }
    }
    // isprint in the "C" locale, which the program never changes: 0x20 to 0x7E.
    if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return std::isprint(b); })) {
        text += " (";
        text.append(bytes.begin(), bytes.end());
        text += ')';
    }
    return text;
}

std::optional<std::string> secret_format(const Secret* secret) {
    if (secret == nullptr) return std::nullopt;
    return secret_format(secret->view());
}

int secret_compare(const Secret* a, const Secret* b) {
    if (a == nullptr || b == nullptr) return (a == nullptr) - (b == nullptr);
    if (a->length != b->length) {
        return static_cast<std::int32_t>(a->length) - static_cast<std::int32_t>(b->length);
    }
    return std::memcmp(a->bytes.data(), b->bytes.data(), a->length);
}
