#include "daemon/daemon.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <syslog.h>

#include "frontend/options.h"
#include "send/packet.h"
#include "send/sender.h"
#include "values/text.h"

namespace {

constexpr std::size_t kReceiveBuffer = 2048;

struct MacHash {
    std::size_t operator()(const MacAddress& mac) const {
        std::uint64_t key = 0;
        std::memcpy(&key, mac.bytes.data(), mac.bytes.size());
        return std::hash<std::uint64_t>{}(key);
    }
};

// The host to wake for each MAC address: the first in creation order that has it.
using HostsByMac = std::unordered_map<MacAddress, Host*, MacHash>;

HostsByMac index_hosts() {
    HostsByMac index;
    index.reserve(registry.hosts.size());
    for (Host& host : registry.hosts)
        index.try_emplace(host.mac, &host);
    return index;
}

__attribute__((format(printf, 1, 2))) void debug_line(const char* format, ...) {
    if (options.debug == 0) return;
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

int open_listeners(Gateway& listener, std::vector<pollfd>& descriptors) {
    for (Target& target : listener.targets) {
        const int family = target.entry->ai_family == AF_INET ? AF_INET : AF_INET6;
        const int socket_fd = socket(family, SOCK_DGRAM, IPPROTO_UDP);
        if (socket_fd < 0) return -1;
        target.socket = socket_fd;
        if (bind(socket_fd, target.entry->ai_addr, target.entry->ai_addrlen) < 0) return -2;
        descriptors.push_back({.fd = socket_fd, .events = POLLIN, .revents = 0});
    }
    return 0;
}

// Reports why a datagram is refused; true when it may be relayed.
bool accepted(std::span<const std::uint8_t> datagram, const Secret& secret) {
    const PacketCheck check = packet_check(datagram, secret);
    const auto trailer = packet_trailer(datagram);
    std::optional<std::string> trailer_text;
    if (!trailer.empty() && (check == PacketCheck::valid || check == PacketCheck::bad_secret)) {
        // A trailer longer than any secret is shown by its first 64 bytes.
        trailer_text = secret_format(trailer.first(std::min(trailer.size(), kSecretMax)));
        debug_line("*** Received secret: %s\n", trailer_text->c_str());
    }
    switch (check) {
        case PacketCheck::valid:
            return true;
        case PacketCheck::too_short:
            debug_line("*** Invalid WoL message (too short: %d bytes)\n",
                       static_cast<int>(datagram.size()));
            break;
        case PacketCheck::bad_header:
            debug_line("*** Invalid WoL message (invalid header)\n");
            break;
        case PacketCheck::bad_copies:
            debug_line("*** Invalid WoL message (invalid MAC content copies)\n");
            break;
        case PacketCheck::missing_secret:
            debug_line("*** Missing received secret\n");
            break;
        case PacketCheck::bad_secret:
            debug_line("*** Invalid received secret: %s\n", trailer_text->c_str());
            break;
    }
    return false;
}

void relay(const HostsByMac& hosts, const MacAddress& mac) {
    const std::string text = mac_text(mac);
    const auto found = hosts.find(mac);
    if (found == hosts.end()) {
        debug_line("*** Unknown MAC (no such host): %s\n", text.c_str());
        return;
    }
    Host* host = found->second;
    std::printf("Got WoL for host: %s (%s)\n", host->name.c_str(), text.c_str());
    // A daemon's line for each relay is not held back until it is stopped.
    std::fflush(stdout);
    syslog(LOG_INFO, "Got WoL for host: %s (%s)", host->name.c_str(), text.c_str());
    if (host_send(host) < 0) {
        const int cause = errno;
        debug_line("*** Error send WoL message to %s (%s)\n", host->name.c_str(), text.c_str());
        syslog(LOG_WARNING, "Error send WoL message to %s (%s): %s", host->name.c_str(),
               text.c_str(), std::strerror(cause));
    }
}

// Receives one datagram from a readable descriptor and relays it when it is valid.
int serve(int descriptor, const Secret& secret, const HostsByMac& hosts) {
    std::array<std::uint8_t, kReceiveBuffer> buffer;
    sockaddr_storage source{};
    socklen_t source_length;
    ssize_t received;
    debug_line("[Data available on FD #%u]\n", static_cast<unsigned>(descriptor));
    do {
        source_length = sizeof source;
        received = recvfrom(descriptor, buffer.data(), buffer.size(), 0,
                            reinterpret_cast<sockaddr*>(&source), &source_length);
    } while (received < 0 && errno == EINTR);
    if (received < 0) return -1;

    const std::span<const std::uint8_t> datagram(buffer.data(), static_cast<std::size_t>(received));
    if (options.debug != 0) {
        const auto from = sockaddr_text(reinterpret_cast<const sockaddr*>(&source), source_length);
        std::fprintf(stderr, "[Message on FD #%u received from %s]\n",
                     static_cast<unsigned>(descriptor), from ? from->c_str() : "???");
        hexdump(stderr, datagram);
    }
    if (accepted(datagram, secret)) relay(hosts, packet_mac(datagram));
    return 0;
}

}  // namespace

void daemon_log_open() {
    openlog("tesk", LOG_PID, LOG_DAEMON);
}

int daemon_run(Gateway& listener) {
    if (listener.targets.empty()) {
        errno = ENOENT;
        debug_line("*** daemon_run: No listening ports\n");
        return -1;
    }
    std::vector<pollfd> descriptors;
    descriptors.reserve(listener.targets.size());
    debug_line("[Creating and binding daemon sockets]\n");
    if (const int result = open_listeners(listener, descriptors); result < 0) return result;
    debug_line("[Entering daemon main loop]\n");

    const HostsByMac hosts = index_hosts();
    while (true) {
        for (pollfd& descriptor : descriptors)
            descriptor.revents = 0;
        int ready;
        do {
            debug_line("(Waiting for messages on %u FDs)\n",
                       static_cast<unsigned>(descriptors.size()));
            ready = poll(descriptors.data(), descriptors.size(), -1);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0) return -1;

        for (const pollfd& descriptor : descriptors) {
            if ((descriptor.revents & POLLIN) == 0) continue;
            if (serve(descriptor.fd, listener.secret, hosts) < 0) return -1;
        }
    }
}
