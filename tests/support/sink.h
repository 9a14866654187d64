// A UDP sink on loopback that records every datagram the program sends to it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct Datagram {
    std::vector<std::uint8_t> bytes;
    std::chrono::system_clock::time_point when;  // the kernel's time of arrival
};

struct Sink {
    // Binds an ephemeral port on `address` (127.0.0.1 or ::1), or `port` when given.
    explicit Sink(const std::string& address = "127.0.0.1", std::uint16_t port = 0);
    ~Sink();
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    // Everything that arrives until `quiet` passes without a datagram.
    std::vector<Datagram> collect(std::chrono::milliseconds quiet = std::chrono::milliseconds(300));

    std::string port_text() const { return std::to_string(port); }

    int fd = -1;
    std::uint16_t port = 0;
};

// A configuration line for a gateway `name` that sends to the sink (no line end).
inline std::string gateway_to(const Sink& sink, const std::string& name = "lan") {
    return "gateway " + name + " address 127.0.0.1 port " + sink.port_text();
}

// The magic packet the program should send for `mac` ("00:11:22:33:44:55") and `secret` bytes.
std::vector<std::uint8_t> magic_packet(const std::string& mac, const std::string& secret = "");
