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

// duration_parse for a delay that is slept: a negative time is refused as well, also one
// above -1 s whose whole seconds are 0. Returns the whole seconds, the negative ones of a
// refused negative time, or -1; `delay` is untouched whenever the result is negative.
[[nodiscard]] int delay_parse(const char* text, Duration& delay);

// The text form: "01:30:00" from an hour on, "1m+30s", "1.5s", "2.5ms", "2.5µs", "500ns".
std::string duration_format(const Duration& duration);
