#include "values/duration.h"

#include <cerrno>
#include <cstdint>

#include <gtest/gtest.h>

namespace {

// A Duration that no parse in these tests produces, to see whether a failure touched it.
constexpr Duration kUntouched{.tv_sec = 4242, .tv_nsec = 4242};

struct Parsed {
    const char* text;
    std::int64_t sec;
    std::int64_t nsec;
    int result;
    const char* shown;  // duration_format of the result
};

constexpr Parsed kParsed[] = {
    {"0", 0, 0, 0, "0ns"},
    {"0.1", 0, 100000001, 0, "100ms"},
    {"1.5", 1, 500000000, 1, "1.5s"},
    {"1.5s", 1, 500000000, 1, "1.5s"},
    {"1.2345678", 1, 234567761, 1, "1.234s"},
    {"0.000001", 0, 999, 0, "999ns"},
    {"90", 90, 0, 90, "1m+30s"},
    {"1m", 60, 0, 60, "1m+0s"},
    {"1.5m", 90, 0, 90, "1m+30s"},
    {"0.01m", 0, 599999964, 0, "599.999ms"},
    {"1.5h", 5400, 0, 5400, "01:30:00"},
    {"1d", 86400, 0, 86400, "24:00:00"},
    {"2.5ms", 0, 2500000, 0, "2.5ms"},
    {"1500ms", 1, 500000000, 1, "1.5s"},
    {"2.5us", 0, 2500, 0, "2.5\xC2\xB5s"},
    {"2.5\xC2\xB5s", 0, 2500, 0, "2.5\xC2\xB5s"},
    {"500ns", 0, 500, 0, "500ns"},
    {"3599.5", 3599, 500000000, 3599, "59m+59.5s"},
    {"5400.25", 5400, 250000000, 5400, "01:30:00"},
    {"5msx", 0, 5000000, 0, "5ms"},
    // Leading white space, a sign and an exponent, as "%f" reads them.
    {"  \t2", 2, 0, 2, "2s"},
    {"+3", 3, 0, 3, "3s"},
    {"1e3ms", 1, 0, 1, "1s"},
    {"2E1", 20, 0, 20, "20s"},
    // After a two-character unit, and after "µs", the rest is ignored.
    {"7nsabc", 0, 7, 0, "7ns"},
    {"3us ", 0, 3000, 0, "3\xC2\xB5s"},
    {"4\xC2\xB5sec", 0, 4000, 0, "4\xC2\xB5s"},
    {"0.5d", 43200, 0, 43200, "12:00:00"},
    // A negative number is not refused: its whole seconds come out as the result.
    {"-1", -1, 0, -1, nullptr},
    {"-2m", -120, 0, -120, nullptr},
    // Seconds beyond a signed 32-bit result still fit the Duration.
    {"1e10", 10000000000, 0, static_cast<int>(INT64_C(10000000000) - INT64_C(2) * 4294967296),
     "2777777:46:40"},
};

TEST(DurationParse, EdgeCases) {
    for (const Parsed& c : kParsed) {
        SCOPED_TRACE(c.text);
        Duration duration = kUntouched;
        errno = 0;
        EXPECT_EQ(duration_parse(c.text, duration), c.result);
        EXPECT_EQ(duration.tv_sec, c.sec);
        EXPECT_EQ(duration.tv_nsec, c.nsec);
        EXPECT_EQ(errno, 0);
        if (c.shown != nullptr) {
            EXPECT_EQ(duration_format(duration), c.shown);
        }
    }
}

TEST(DurationParse, RejectedTextsLeaveTheDurationUntouched) {
    const char* const rejected[] = {
        "",
        "abc",
        "5sx",
        "5 s",
        "1.5 ",
        "01:30:00",
        "1m+30s",
        " ",
        "s",
        "ms",
        "5x",
        "5mm",
        "5hx",
        "5d ",
        "5n",
        "5u",
        "5\xC2\xB5",
        "5\xC2s",
        "-",
        ".",
        // NaN and the infinities that "%f" reads.
        "nan",
        "NAN",
        "inf",
        "-inf",
        "infinity",
        "1e39",
        // Whole seconds beyond a signed 64-bit count.
        "1e19",
        "-1e19",
        "1e30ms",
        "1e28us",
        "1e30ns",
        "1e16h",
        "1e15d",
        "1e18m",
    };
    for (const char* text : rejected) {
        SCOPED_TRACE(text);
        Duration duration = kUntouched;
        errno = 0;
        EXPECT_EQ(duration_parse(text, duration), -1);
        EXPECT_EQ(duration.tv_sec, kUntouched.tv_sec);
        EXPECT_EQ(duration.tv_nsec, kUntouched.tv_nsec);
        EXPECT_EQ(errno, 0);
    }
}

TEST(DelayParse, NegativeTimesAreRefusedAndLeaveTheDelayUntouched) {
    const struct {
        const char* text;
        int result;
        long sec;
        long nsec;
    } cases[] = {
        {"-0.5", -1, 7, 7},                           // whole seconds 0, yet negative
        {"-1us", -1, 7, 7},        {"-5", -5, 7, 7},  // the whole seconds, as duration_parse gives
                                                      // them
        {"-1.5m", -90, 7, 7},      {"abc", -1, 7, 7},      {"-0", 0, 0, 0},  // zero is not negative
        {"0.25", 0, 0, 250000000}, {"2ms", 0, 0, 2000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Duration delay{7, 7};
        EXPECT_EQ(delay_parse(c.text, delay), c.result);
        EXPECT_EQ(delay.tv_sec, c.sec);
        EXPECT_EQ(delay.tv_nsec, c.nsec);
    }
}

TEST(DurationFormat, Forms) {
    struct Case {
        std::int64_t sec;
        std::int64_t nsec;
        const char* shown;
    };
    constexpr Case cases[] = {
        {0, 0, "0ns"},
        {0, 1, "1ns"},
        {0, 999, "999ns"},
        {0, 1000, "1\xC2\xB5s"},
        {0, 123456, "123.456\xC2\xB5s"},
        {0, 999999, "999.999\xC2\xB5s"},
        {0, 1000000, "1ms"},
        {0, 999999999, "999.999ms"},
        {1, 0, "1s"},
        {12, 345678901, "12.345s"},
        {59, 999000000, "59.999s"},
        {60, 0, "1m+0s"},
        {119, 500000000, "1m+59.5s"},
        {3599, 999999999, "59m+59.999s"},
        {3600, 0, "01:00:00"},
        {3661, 999999999, "01:01:01"},
        {123456, 0, "34:17:36"},
        {360000, 0, "100:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(duration_format(Duration{.tv_sec = c.sec, .tv_nsec = c.nsec}), c.shown);
    }
}

TEST(DurationIsSet, EitherFieldCounts) {
    EXPECT_FALSE(duration_is_set(Duration{}));
    EXPECT_TRUE(duration_is_set(Duration{.tv_sec = 1, .tv_nsec = 0}));
    EXPECT_TRUE(duration_is_set(Duration{.tv_sec = 0, .tv_nsec = 1}));
    EXPECT_TRUE(duration_is_set(Duration{.tv_sec = -1, .tv_nsec = 0}));
}

}  // namespace
