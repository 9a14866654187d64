// Secrets: the password trailer of up to 64 bytes that may follow a magic
// packet, with its text forms and an ordering.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

inline constexpr std::size_t kSecretMax = 64;

// Only the first `length` bytes are meaningful; length 0 means "not set".
struct Secret {
    std::array<std::uint8_t, kSecretMax> bytes{};
    std::uint64_t length = 0;

    std::span<const std::uint8_t> view() const { return {bytes.data(), length}; }
};

// Reads four dotted decimal numbers (each byte the low 8 bits), else at least two
// hexadecimal fields split at ':' and '-' (at most 64 used), else the raw text of at
// most 64 characters. Returns the number of bytes stored, or -1 with errno EINVAL for
// raw text over 64 characters; `secret` is unchanged on failure.
[[nodiscard]] int secret_parse(const char* text, Secret& secret);

// "%u.%u.%u.%u" for 4 bytes, else "%02x" bytes joined by ':'; when every byte is
// printable, " (text)" follows. Nothing for a null or unset secret.
std::optional<std::string> secret_format(const Secret* secret);
std::optional<std::string> secret_format(std::span<const std::uint8_t> bytes);

// Orders by length first (the shorter first), then by bytes. Null sorts after a secret;
// two nulls are equal.
int secret_compare(const Secret* a, const Secret* b);
