// The command line: options into the option state, the usage text and the banner.
#pragma once

#include <cstdio>

// Writes "[tesk VERSION (DATE TIME) - ...]" and a newline to `out`.
void print_version(std::FILE* out);

// Writes the usage text to `out`.
void print_usage(std::FILE* out);

// Parses the options from argv[1] on into `options`, loading every -f file at its place.
// -h and -V end the process with status 0, a letter that is no option with status 1.
// Returns the index of the first name (argc when none remains).
int parse_command_line(int argc, char** argv);
