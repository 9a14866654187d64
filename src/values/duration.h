// Durations: the delays between packet copies and between the hosts of a
// group, and their text forms ("1.5s", "250ms", "2m", ...).
#pragma once

#include <ctime>
#include <string>

// Whole seconds and nanoseconds; both zero means "not set".
using Duration = timespec;

// True when either field is non-zero.
bool duration_is_set(const Duration& duration);

// Reads a number with an optional unit (s, m, h, d, ms, us, µs, ns) into `duration`.
// The number is held in single precision, so 0.1 gives 100000001 ns.
// Returns tv_sec as an int, or -1 (duration untouched, errno untouched) for text without a
// leading number, an unknown unit, NaN, an infinity or seconds beyond a signed 64-bit count.
[[nodiscard]] int duration_parse(const char* text, Duration& duration);

// The text form: "01:30:00" from an hour on, "1m+30s", "1.5s", "2.5ms", "2.5µs", "500ns".
std::string duration_format(const Duration& duration);
