#include "values/duration.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace {

constexpr double kNanosPerSecond = 1e9;

// The seconds of a result must fit a signed 64-bit count; this also refuses NaN.
std::optional<std::int64_t> whole_seconds(double value) {
    const double seconds = std::trunc(value);
    if (!(seconds >= -0x1p63 && seconds < 0x1p63)) return std::nullopt;
    return static_cast<std::int64_t>(seconds);
}

// The nanoseconds that `scaled_nanos` (a count of nanoseconds) holds beyond `seconds`.
// Extended precision keeps the subtraction exact wherever a 64-bit count would be.
std::int64_t nanos_beyond(double scaled_nanos, std::int64_t seconds) {
    const long double rest = static_cast<long double>(std::trunc(scaled_nanos)) -
                             static_cast<long double>(seconds) * 1e9L;
    return static_cast<std::int64_t>(rest);
}

// Seconds from a single-precision value, and the fraction widened only after
// the single-precision subtraction.
bool split_single(float value, Duration& out) {
    const auto seconds = whole_seconds(value);
    if (!seconds) return false;
    const float fraction = value - static_cast<float>(*seconds);
    out.tv_sec = *seconds;
    out.tv_nsec = static_cast<long>(std::trunc(static_cast<double>(fraction) * kNanosPerSecond));
    return true;
}

// The sub-second units work in double precision from the start.
bool split_scaled(double value, double units_per_second, Duration& out) {
    const auto seconds = whole_seconds(value / units_per_second);
    if (!seconds) return false;
    out.tv_sec = *seconds;
    out.tv_nsec =
        static_cast<long>(nanos_beyond(value * (kNanosPerSecond / units_per_second), *seconds));
    return true;
}

bool whole_only(float value, Duration& out) {
    const auto seconds = whole_seconds(value);
    if (!seconds) return false;
    out.tv_sec = *seconds;
    out.tv_nsec = 0;
    return true;
}

// a + b/1000 as the text forms show it: both in single precision, summed in
// double precision, rounded back to single precision.
double with_thousandths(std::uint32_t whole, std::uint32_t thousandths) {
    const double sum = static_cast<double>(static_cast<float>(whole)) +
                       static_cast<double>(static_cast<float>(thousandths)) / 1000.0;
    return static_cast<float>(sum);
}

}  // namespace

bool duration_is_set(const Duration& duration) {
    return duration.tv_sec != 0 || duration.tv_nsec != 0;
}

int duration_parse(const char* text, Duration& duration) {
    float value = 0;
    int consumed = 0;
    // A number beyond single precision makes sscanf set ERANGE; a refusal leaves errno alone.
    const int saved_errno = errno;
    const int read = std::sscanf(text, "%f%n", &value, &consumed);
    errno = saved_errno;
    if (read < 1) return -1;
    if (!std::isfinite(value)) return -1;

    const char* unit = text + consumed;
    const char c1 = unit[0];
    const char c2 = c1 != '\0' ? unit[1] : '\0';
    auto is = [&](char first, char second) { return c1 == first && c2 == second; };

    Duration result{};
    bool ok = false;
    if (c1 == '\0' || is('s', '\0')) {
        ok = split_single(value, result);
    } else if (is('m', '\0')) {
        ok = split_single(60.0f * value, result);
    } else if (is('h', '\0')) {
        ok = whole_only(value * 60.0f * 60.0f, result);
    } else if (is('d', '\0')) {
        ok = whole_only(value * 60.0f * 60.0f * 24.0f, result);
    } else if (is('m', 's')) {
        ok = split_scaled(value, 1e3, result);
    } else if (is('u', 's') || (c1 == '\xC2' && c2 == '\xB5' && unit[2] == 's')) {
        ok = split_scaled(value, 1e6, result);
    } else if (is('n', 's')) {
        ok = split_scaled(value, 1e9, result);
    }
    if (!ok) return -1;

    duration = result;
    return static_cast<int>(duration.tv_sec);
}

int delay_parse(const char* text, Duration& delay) {
    Duration parsed{};
    const int result = duration_parse(text, parsed);
    if (result < 0) return result;
    if (parsed.tv_sec < 0 || parsed.tv_nsec < 0) return -1;
    delay = parsed;
    return result;
}

std::string duration_format(const Duration& duration) {
    const std::int64_t hours = duration.tv_sec / 3600;
    const std::int64_t below_hour = duration.tv_sec - 3600 * hours;
    const std::int64_t minutes = below_hour / 60;
    const std::int64_t seconds = below_hour - 60 * minutes;
    const std::int64_t millis = duration.tv_nsec / 1000000;
    const std::int64_t below_milli = duration.tv_nsec - 1000000 * millis;
    const std::int64_t micros = below_milli / 1000;
    const std::int64_t nanos = below_milli - 1000 * micros;
    auto u32 = [](std::int64_t value) { return static_cast<std::uint32_t>(value); };

    char text[64];
    if (hours != 0) {
        std::snprintf(text, sizeof text, "%02u:%02u:%02u", u32(hours), u32(minutes), u32(seconds));
    } else if (minutes != 0) {
        std::snprintf(text, sizeof text, "%um+%gs", u32(minutes),
                      with_thousandths(u32(seconds), u32(millis)));
    } else if (seconds != 0) {
        std::snprintf(text, sizeof text, "%gs", with_thousandths(u32(seconds), u32(millis)));
    } else if (millis != 0) {
        std::snprintf(text, sizeof text, "%gms", with_thousandths(u32(millis), u32(micros)));
    } else if (micros != 0) {
        std::snprintf(text, sizeof text, "%g\xC2\xB5s", with_thousandths(u32(micros), u32(nanos)));
    } else {
        std::snprintf(text, sizeof text, "%uns", u32(nanos));
    }
    return text;
}
