#include "support/sink.h"

#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

Sink::Sink(const std::string& address, std::uint16_t wanted) {
    sockaddr_storage storage{};
    socklen_t length;
    const bool six = address.find(':') != std::string::npos;
    if (six) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(wanted);
        inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr);
        length = sizeof *in6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(wanted);
        inet_pton(AF_INET, address.c_str(), &in4->sin_addr);
        length = sizeof *in4;
    }
    fd = socket(six ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
    const int big = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
#ifdef SO_TIMESTAMPNS
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
#endif
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&storage), length) < 0) {
        throw std::runtime_error("sink bind " + address + ": " + std::strerror(errno));
    }
    getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length);
    port = ntohs(six ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

Sink::~Sink() {
    if (fd >= 0) close(fd);
}

std::vector<Datagram> Sink::collect(std::chrono::milliseconds quiet) {
    std::vector<Datagram> got;
    pollfd waiting{fd, POLLIN, 0};
    while (poll(&waiting, 1, static_cast<int>(quiet.count())) > 0) {
        std::uint8_t buffer[70000];
        alignas(cmsghdr) char control[256];
        iovec data{buffer, sizeof buffer};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = recvmsg(fd, &message, 0);
        if (size < 0) break;
        auto when = std::chrono::system_clock::now();
#ifdef SCM_TIMESTAMPNS
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp;
                std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                when = std::chrono::system_clock::time_point(
                    std::chrono::duration_cast<std::chrono::system_clock::duration>(
                        std::chrono::seconds(stamp.tv_sec) +
                        std::chrono::nanoseconds(stamp.tv_nsec)));
            }
        }
#endif
        got.push_back({{buffer, buffer + size}, when});
    }
    return got;
}

std::vector<std::uint8_t> magic_packet(const std::string& mac, const std::string& secret) {
    unsigned b[6];
    std::sscanf(mac.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
    std::vector<std::uint8_t> packet(6, 0xFF);
    for (int copy = 0; copy < 16; ++copy)
        packet.insert(packet.end(), b, b + 6);
    packet.insert(packet.end(), secret.begin(), secret.end());
    return packet;
}
