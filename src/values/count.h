// Copy counts, as written in configuration files and with -c.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kCountMax = 2147483647;

// Reads one unsigned decimal number the way "%u" does (leading white space skipped,
// an optional '+', anything after the digits ignored) into `count`. Returns 0, or -1 with
// `count` unchanged when no number can be read or the number does not fit a signed
// 32-bit count (a negative number, overflow).
[[nodiscard]] int count_parse(const char* text, std::uint32_t& count);
