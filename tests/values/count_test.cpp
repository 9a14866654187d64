#include "values/count.h"

#include <cstdint>

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kUntouched = 4242;

TEST(CountParse, ReadsOneUnsignedNumber) {
    struct Case {
        const char* text;
        int result;
        std::uint32_t count;
    };
    constexpr Case cases[] = {
        {"0", 0, 0},
        {"3", 0, 3},
        {"3x", 0, 3},
        {"5 copies", 0, 5},
        {"+5", 0, 5},
        {" 7", 0, 7},
        {"\t\n 12", 0, 12},
        {"007", 0, 7},
        {"2147483647", 0, 2147483647},
        {"2147483647999", -1, kUntouched},
        {"2147483648", -1, kUntouched},
        {"4294967295", -1, kUntouched},
        {"4294967296", -1, kUntouched},
        {"99999999999999999999999999", -1, kUntouched},
        {"-1", -1, kUntouched},
        {"-5x", -1, kUntouched},
        {"x", -1, kUntouched},
        {"x3", -1, kUntouched},
        {"", -1, kUntouched},
        {" ", -1, kUntouched},
        {"+", -1, kUntouched},
        {"-", -1, kUntouched},
        {"+-3", -1, kUntouched},
        {"0x10", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint32_t count = kUntouched;
        EXPECT_EQ(count_parse(c.text, count), c.result);
        EXPECT_EQ(count, c.count);
    }
}

}  // namespace
