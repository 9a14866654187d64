// line_trim on any bytes: the cleaned line is what remains of the text before its
// first ';' and then its first '#', without white space at either end.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "values/text.h"

namespace {

bool is_space(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The cleaned form, worked out from the text as a C string.
std::string_view expected_trim(std::string_view text) {
    text = text.substr(0, text.find(';'));
    text = text.substr(0, text.find('#'));
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_space(text.back()))
        text.remove_suffix(1);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    const std::string original = line.c_str();  // what the routine sees: up to the first NUL
    line_trim(line.data());
    const std::string_view trimmed(line.c_str());

    FUZZ_CHECK(trimmed.size() <= original.size());
    FUZZ_CHECK(trimmed.find(';') == std::string_view::npos);
    FUZZ_CHECK(trimmed.find('#') == std::string_view::npos);
    FUZZ_CHECK(trimmed.empty() || !is_space(trimmed.front()));
    FUZZ_CHECK(trimmed.empty() || !is_space(trimmed.back()));
    FUZZ_CHECK(trimmed == expected_trim(original));
    // Bytes past the first NUL of the buffer are never touched.
    FUZZ_CHECK(std::memcmp(line.data() + original.size(),
                           reinterpret_cast<const char*>(data) + original.size(),
                           size - original.size()) == 0);
    return 0;
}
