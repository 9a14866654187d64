// duration_parse, delay_parse and duration_format on any text. A parse is compared
// with the unit table worked out here (single precision for the number, the products
// with 60 and 24 and the whole-second differences; double precision for the sub-second
// units) wherever the whole seconds fit a 32-bit result; a number that is not negative
// keeps its nanoseconds within a second, a refusal leaves the value and errno alone,
// and delay_parse takes exactly the non-negative results. The formatter runs on any
// Duration and is compared with its rules for non-negative fields, beyond a second too.
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "values/duration.h"

namespace {

struct Expected {
    bool known;  // false: the seconds leave the range where the result is compared
    std::int64_t sec;
    std::int64_t nsec;
    float value = 0;  // the number as read
};

constexpr double kCompared = 2147483647.0;  // whole seconds that a 32-bit result holds

// Seconds and nanoseconds from a single-precision value, the difference taken in
// single precision and only then widened.
Expected split_single(float value) {
    const double whole = std::trunc(static_cast<double>(value));
    if (!(std::fabs(whole) <= kCompared)) return {false, 0, 0};
    const auto sec = static_cast<std::int64_t>(whole);
    const float fraction = value - static_cast<float>(sec);
    return {true, sec, static_cast<std::int64_t>(std::trunc(static_cast<double>(fraction) * 1e9))};
}

Expected whole_only(float value) {
    const double whole = std::trunc(static_cast<double>(value));
    if (!(std::fabs(whole) <= kCompared)) return {false, 0, 0};
    return {true, static_cast<std::int64_t>(whole), 0};
}

// `units` per second (1e3, 1e6, 1e9), in double precision; the nanoseconds are the
// truncated scaled count less the whole seconds, in exact integer arithmetic.
Expected split_scaled(float value, double units) {
    const double widened = value;
    const double whole = std::trunc(widened / units);
    if (!(std::fabs(whole) <= kCompared)) return {false, 0, 0};
    const auto sec = static_cast<std::int64_t>(whole);
    const auto scaled = static_cast<std::int64_t>(std::trunc(widened * (1e9 / units)));
    return {true, sec, scaled - sec * 1000000000};
}

// Nothing: the text is refused. A result that is not `known` is not compared.
std::optional<Expected> expected_parse(const char* text) {
    float value = 0;
    int consumed = 0;
    const int read = std::sscanf(text, "%f%n", &value, &consumed);
    if (read < 1) return std::nullopt;
    if (!std::isfinite(value)) return Expected{false, 0, 0, value};  // left to the implementation

    const char* after = text + consumed;
    const char c1 = after[0];
    const char c2 = c1 == '\0' ? '\0' : after[1];
    const std::string unit = c1 == '\0'   ? ""
                             : c2 == '\0' ? std::string(1, c1)
                                          : std::string{c1, c2};
    Expected result;
    if (unit.empty() || unit == "s") {
        result = split_single(value);
    } else if (unit == "m") {
        result = split_single(60.0f * value);
    } else if (unit == "h") {
        result = whole_only(value * 60.0f * 60.0f);
    } else if (unit == "d") {
        result = whole_only(value * 60.0f * 60.0f * 24.0f);
    } else if (unit == "ms") {
        result = split_scaled(value, 1e3);
    } else if (unit == "us" || std::strncmp(after, "\xC2\xB5s", 3) == 0) {
        result = split_scaled(value, 1e6);
    } else if (unit == "ns") {
        result = split_scaled(value, 1e9);
    } else {
        return std::nullopt;
    }
    result.value = value;
    return result;
}

// a + b/1000 as the text forms show it.
double thousandths(std::uint32_t a, std::uint32_t b) {
    return static_cast<float>(static_cast<double>(static_cast<float>(a)) +
                              static_cast<double>(static_cast<float>(b)) / 1000.0);
}

// The parts are tested as the 64-bit quotients they are and printed as unsigned
// 32-bit numbers.
std::string expected_format(const Duration& d) {
    const std::int64_t h = d.tv_sec / 3600;
    const std::int64_t m = d.tv_sec % 3600 / 60;
    const std::int64_t s = d.tv_sec % 60;
    const std::int64_t ms = d.tv_nsec / 1000000;
    const std::int64_t us = d.tv_nsec % 1000000 / 1000;
    const std::int64_t ns = d.tv_nsec % 1000;
    auto u = [](std::int64_t value) { return static_cast<std::uint32_t>(value); };
    char text[128];
    if (h != 0) {
        std::snprintf(text, sizeof text, "%02u:%02u:%02u", u(h), u(m), u(s));
    } else if (m != 0) {
        std::snprintf(text, sizeof text, "%um+%gs", u(m), thousandths(u(s), u(ms)));
    } else if (s != 0) {
        std::snprintf(text, sizeof text, "%gs", thousandths(u(s), u(ms)));
    } else if (ms != 0) {
        std::snprintf(text, sizeof text, "%gms", thousandths(u(ms), u(us)));
    } else if (us != 0) {
        std::snprintf(text, sizeof text, "%g\xC2\xB5s", thousandths(u(us), u(ns)));
    } else {
        std::snprintf(text, sizeof text, "%uns", u(ns));
    }
    return text;
}

void check_format(const Duration& duration) {
    const std::string text = duration_format(duration);
    FUZZ_CHECK(!text.empty());
    FUZZ_CHECK(text.size() < 64);
    // A negative field prints as the implementation chooses.
    if (duration.tv_sec >= 0 && duration.tv_nsec >= 0) {
        FUZZ_CHECK(text == expected_format(duration));
    }
}

// A delay is a duration that is not negative: the same result and value for one,
// a negative result with the delay untouched for any other.
void check_delay(const char* text, int parse_result, const Duration& parsed) {
    const Duration before{.tv_sec = 0x1234, .tv_nsec = 0x5678};
    Duration delay = before;
    const int result = delay_parse(text, delay);
    if (parse_result >= 0 && parsed.tv_sec >= 0 && parsed.tv_nsec >= 0) {
        FUZZ_CHECK(result == parse_result);
        FUZZ_CHECK(delay.tv_sec == parsed.tv_sec && delay.tv_nsec == parsed.tv_nsec);
    } else {
        FUZZ_CHECK(result < 0);
        FUZZ_CHECK(delay.tv_sec == before.tv_sec && delay.tv_nsec == before.tv_nsec);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The formatter on any pair of fields, from the first 16 bytes.
    if (size >= 16) {
        Duration any{};
        std::int64_t fields[2];
        std::memcpy(fields, data, sizeof fields);
        any.tv_sec = fields[0];
        any.tv_nsec = fields[1];
        check_format(any);
    }

    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto expected = expected_parse(text.c_str());

    const Duration before{.tv_sec = 0x5A5A, .tv_nsec = 0x3C3C};
    Duration duration = before;
    errno = 1234;
    const int result = duration_parse(text.c_str(), duration);
    const int error = errno;
    check_delay(text.c_str(), result, duration);

    if (!expected) {
        FUZZ_CHECK(result == -1);
        FUZZ_CHECK(duration.tv_sec == before.tv_sec && duration.tv_nsec == before.tv_nsec);
        FUZZ_CHECK(error == 1234);  // sscanf's ERANGE for a number too large included
        return 0;
    }
    const bool changed = duration.tv_sec != before.tv_sec || duration.tv_nsec != before.tv_nsec;
    if (!expected->known) {
        // Out of range, an infinity or NaN: either refused with everything as it was,
        // or stored with the result reporting the seconds.
        if (changed) {
            FUZZ_CHECK(result == static_cast<int>(duration.tv_sec));
            check_format(duration);
        } else {
            FUZZ_CHECK(result == -1 || result == static_cast<int>(duration.tv_sec));
        }
        return 0;
    }

    FUZZ_CHECK(duration.tv_sec == expected->sec);
    FUZZ_CHECK(duration.tv_nsec == expected->nsec);
    FUZZ_CHECK(result == static_cast<int>(expected->sec));
    if (!std::signbit(expected->value)) {
        FUZZ_CHECK(duration.tv_sec >= 0);
        FUZZ_CHECK(duration.tv_nsec >= 0 && duration.tv_nsec < 1000000000);
    }
    check_format(duration);
    return 0;
}
