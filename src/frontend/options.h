// The option state: one set per process, written only by the command-line parser
// and read by the rest of the program. Option values stay text until the place that
// uses them parses them.
#pragma once

#include <optional>
#include <string>

struct Options {
    std::string program_name = "tesk";  // argv[0] once start-up has begun

    int verbose = 0;        // -v
    int debug = 0;          // -d: 1 sends and receives, 2 the reader, 3 sections and packets
    int ignore_errors = 0;  // -i
    int no_send = 0;        // -n, flipped by every occurrence
    int export_config = 0;  // -e
    int daemon_mode = 0;    // -D
    int foreground = 0;     // -F

    std::optional<std::string> gateway_override;       // -g
    std::optional<std::string> address_override;       // -a
    std::optional<std::string> port_override;          // -p
    std::optional<std::string> packet_delay_override;  // -t
    std::optional<std::string> host_delay_override;    // -T
    std::optional<std::string> copies_override;        // -c
    std::optional<std::string> secret_override;        // -s
    std::optional<std::string> listen_address;         // -A
    std::optional<std::string> listen_port;            // -P
    std::optional<std::string> listen_secret;          // -S
};

extern Options options;

// The null pointer for an absent text, for the operations that take C texts.
inline const char* text_or_null(const std::optional<std::string>& text) {
    return text ? text->c_str() : nullptr;
}
