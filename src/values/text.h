// Small text routines that every part of the program shares.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>

#include <sys/socket.h>

struct addrinfo;

// Joins the texts up to the first null one; nothing when the first text is null.
std::optional<std::string> strjoin(std::initializer_list<const char*> texts);

// The numeric "host:port" of a socket address, "[host]:port" for IPv6 (the scope
// included), without any name-service lookup. Nothing when the address cannot be converted.
std::optional<std::string> sockaddr_text(const sockaddr* address, socklen_t length);
// The same for a resolver result; nothing for a null entry.
std::optional<std::string> sockaddr_text(const addrinfo* entry);

// Writes the bytes as "%02X" to `out`, 16 to a line joined by ':', each line after a tab.
void hexdump(std::FILE* out, std::span<const std::uint8_t> bytes);

// Cuts `line` at its first ';' and then its first '#', and removes white space at both ends.
void line_trim(char* line);

// A new text made as snprintf would make it.
std::string text_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reads one whole line, however long, without its line end, into `line`.
// False at end of input (or on a read error) with nothing read.
bool read_line(std::FILE* in, std::string& line);
