// The configuration file reader: gateways, hosts and host groups declared in
// keyword/value pairs, with section headers for groups.
#pragma once

#include <cstdio>
#include <string>

// Reads the file at `path` into the registries. First resets the address and port of
// the gateway "default" to 255.255.255.255 and 7, even when the file cannot be opened.
// Returns 0 when the file was read to its end, -1 (errno from the open or the read, nothing
// printed) when it cannot be opened or read. A fault in the content ends the process with status 1 after
// one message on standard error.
int config_load(const char* path);

// The reader without that fatal edge: applies the lines of `in`, naming `path` in messages.
// Returns 0, or -1 with the whole message line in `error` and the registries holding what
// the lines before the fault made.
[[nodiscard]] int config_read(std::FILE* in, const char* path, std::string& error);
