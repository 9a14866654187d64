#include "values/text.h"

#include <cctype>
#include <cstdarg>
#include <cstring>

#include <netdb.h>

std::optional<std::string> strjoin(std::initializer_list<const char*> texts) {
    if (texts.size() == 0 || *texts.begin() == nullptr) return std::nullopt;
    std::string joined;
    for (const char* text : texts) {
        if (text == nullptr) break;
        joined += text;
    }
    return joined;
}

namespace {

std::optional<std::string> numeric_text(const sockaddr* address, socklen_t length, int family) {
    char host[2048];
    char service[256];
    if (getnameinfo(address, length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV | NI_DGRAM) != 0) {
        return std::nullopt;
    }
    if (family == AF_INET6) return strjoin({"[", host, "]:", service});
    return strjoin({host, ":", service});
}

}  // namespace

std::optional<std::string> sockaddr_text(const sockaddr* address, socklen_t length) {
    if (address == nullptr) return std::nullopt;
    return numeric_text(address, length, address->sa_family);
}

std::optional<std::string> sockaddr_text(const addrinfo* entry) {
    if (entry == nullptr) return std::nullopt;
    return numeric_text(entry->ai_addr, entry->ai_addrlen, entry->ai_family);
}

void hexdump(std::FILE* out, std::span<const std::uint8_t> bytes) {
    std::fputc('\t', out);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0 && i % 16 == 0) {
            std::fputs("\n\t", out);
        } else if (i != 0) {
            std::fputc(':', out);
        }
        std::fprintf(out, "%02X", bytes[i]);
    }
    std::fputc('\n', out);
}

void line_trim(char* line) {
    if (char* comment = std::strchr(line, ';')) *comment = '\0';
    if (char* comment = std::strchr(line, '#')) *comment = '\0';
    // The "C" locale's white space; bytes from 0x80 on never count.
    auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    char* start = line;
    while (space(*start))
        ++start;
    std::size_t length = std::strlen(start);
    if (start != line) std::memmove(line, start, length + 1);
    while (length > 0 && space(line[length - 1]))
        line[--length] = '\0';
}

bool read_line(std::FILE* in, std::string& line) {
    line.clear();
    bool any = false;
    // Byte by byte, so that a NUL inside a line cannot hide its line end.
    for (int c; (c = getc_unlocked(in)) != EOF;) {
        any = true;
        if (c == '\n') return true;
        line.push_back(static_cast<char>(c));
    }
    return any;
}

std::string text_printf(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}
