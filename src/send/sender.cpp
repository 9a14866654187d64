#include "send/sender.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>

#include <sys/socket.h>

#include "frontend/options.h"
#include "send/packet.h"
#include "values/count.h"
#include "values/text.h"

namespace {

// The values of one send, each from the first source that is set.
struct SendPlan {
    Gateway* gateway;
    std::int32_t copies;
    Duration delay;
    const Secret* secret;
};

// Chooses the gateway and applies the command-line overrides to the host, in this order;
// what an earlier step stored stays stored when a later one fails.
int plan_send(Host& host, SendPlan& plan) {
    if (options.gateway_override) {
        plan.gateway = gateway_find(options.gateway_override->c_str());
        if (plan.gateway == nullptr) {
            errno = EINVAL;
            return -1;
        }
    } else {
        plan.gateway = host.gateway != nullptr ? host.gateway : registry.default_gateway;
    }
    host.gateway = plan.gateway;

    if (options.copies_override && count_parse(options.copies_override->c_str(), host.copies) < 0) {
        errno = EINVAL;
        return -1;
    }
    const std::uint32_t copies = host.copies != 0 ? host.copies : plan.gateway->copies;
    plan.copies = static_cast<std::int32_t>(copies != 0 ? copies : 1);

    if (options.packet_delay_override &&
        delay_parse(options.packet_delay_override->c_str(), host.delay) < 0) {
        errno = EINVAL;
        return -1;
    }
    plan.delay = duration_is_set(host.delay) ? host.delay : plan.gateway->delay;

    if (options.secret_override &&
        secret_parse(options.secret_override->c_str(), host.secret) < 0) {
        errno = EINVAL;
        return -1;
    }
    plan.secret = host.secret.length != 0 ? &host.secret : &plan.gateway->secret;
    return 0;
}

bool progress_shown() {
    return options.verbose != 0 && options.debug == 0;
}

void report(const Host& host, const Secret& secret, std::span<const std::uint8_t> packet) {
    if (options.debug == 0 && !progress_shown()) return;  // nothing to say, nothing allocated
    const std::string mac = mac_text(host.mac);
    if (options.debug != 0) {
        std::fprintf(stderr, "[%s (%s)", host.name.c_str(), mac.c_str());
        if (auto text = secret_format(&secret))
            std::fprintf(stderr, " with secret %s", text->c_str());
        std::fputs("]\n", stderr);
        if (options.debug >= 3) {
            std::fputs("UDP Packet:\n", stderr);
            hexdump(stderr, packet);
        }
    }
    if (progress_shown()) {
        std::printf("%s (%s)", host.name.c_str(), mac.c_str());
        std::fflush(stdout);
    }
}

int send_datagram(const Target& target, std::span<const std::uint8_t> packet) {
    while (sendto(target.socket, packet.data(), packet.size(), 0, target.entry->ai_addr,
                  target.entry->ai_addrlen) < 0) {
        if (errno != EINTR) return -1;
    }
    return 0;
}

int send_copies(const Target& target, const SendPlan& plan, std::span<const std::uint8_t> packet) {
    for (std::int32_t copy = 1; copy <= plan.copies; ++copy) {
        if (copy > 1 && duration_is_set(plan.delay) && sleep_delay(plan.delay) < 0) return -1;
        if (options.debug != 0) {
            const auto where = sockaddr_text(target);
            std::fprintf(stderr, "Sending packet %u/%u via %s\n", static_cast<unsigned>(copy),
                         static_cast<unsigned>(plan.copies), where ? where->c_str() : "???");
        }
        if (options.no_send == 0 && send_datagram(target, packet) < 0) return -1;
        if (progress_shown()) {
            std::fputc('.', stdout);
            std::fflush(stdout);
        }
    }
    if (progress_shown()) std::fputs(" Done\n", stdout);
    return 0;
}

}  // namespace

int sleep_delay(const Duration& delay) {
    Duration left = delay;
    if (options.debug != 0) std::fprintf(stderr, "(Sleeping %s)\n", duration_format(delay).c_str());
    while (nanosleep(&left, &left) < 0) {
        if (errno != EINTR) return -1;
        if (options.debug != 0) {
            std::fprintf(stderr, "(Sleeping %s more)\n", duration_format(left).c_str());
        }
    }
    return 0;
}

int host_send(Host* host) {
    if (host == nullptr) return -1;
    if (mac_is_zero(host->mac)) {
        errno = EINVAL;
        return -1;
    }
    SendPlan plan{};
    if (plan_send(*host, plan) < 0) return -1;

    // One buffer of exactly the packet's size, reused for every copy and target.
    const std::size_t size = packet_size(*plan.secret);
    const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[size]);
    if (!buffer) {
        errno = ENOMEM;
        return -3;
    }
    const std::span<std::uint8_t> packet(buffer.get(), size);
    packet_fill(packet, host->mac, *plan.secret);
    report(*host, *plan.secret, packet);

    for (const Target& target : plan.gateway->targets) {
        if (target.entry == nullptr) continue;
        if (send_copies(target, plan, packet) < 0) return -1;
    }
    return 0;
}

int send_name(const char* name) {
    if (name == nullptr) return -1;
    if (HostGroup* group = hostgroup_find(name)) {
        for (std::size_t i = 0; i < group->members.size(); ++i) {
            if (i > 0 && duration_is_set(group->delay) && sleep_delay(group->delay) < 0) return -1;
            if (const int result = host_send(group->members[i]); result != 0) return result;
        }
        return 0;
    }
    if (Host* host = host_find(name)) return host_send(host);
    // A new host, registered whether or not it has an address: host_get takes its MAC
    // from the ethers database or the name itself, and host_send refuses an all-zero one.
    Host* host = host_get(name);
    if (host == nullptr) return -1;
    return host_send(host);
}
