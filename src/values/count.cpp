#include "values/count.h"

#include <cctype>
#include <charconv>
#include <cstring>

int count_parse(const char* text, std::uint32_t& count) {
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    std::uint64_t value = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, value);
    if (stop == text || error != std::errc{} || value > kCountMax || (negative && value != 0)) {
        return -1;
    }
    count = static_cast<std::uint32_t>(value);
    return 0;
}
