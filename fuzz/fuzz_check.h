// What every fuzz target uses to state an invariant: a failed check prints the
// condition and aborts, which libFuzzer records as a crash with the input.
#pragma once

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void fuzz_fail(const char* file, int line, const char* condition) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : fuzz_fail(__FILE__, __LINE__, #condition))
