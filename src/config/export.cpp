#include "config/export.h"

#include <cstdio>

#include "frontend/options.h"

namespace {

void label(const char* name, const std::string& value) {
    std::printf("  %-10s  %s\n", name, value.c_str());
}

void label(const char* name, std::uint32_t count) {
    std::printf("  %-10s  %u\n", name, count);
}

// Labelled lines for the copies, delay and secret that are set.
void verbose_settings(std::uint32_t copies, const Duration& delay, const Secret& secret) {
    if (copies != 0) label("Copies", copies);
    if (duration_is_set(delay)) label("Delay", duration_format(delay));
    if (auto text = secret_format(&secret)) label("Secret", *text);
}

bool differs(const Duration& a, const Duration& b) {
    return a.tv_sec != b.tv_sec || a.tv_nsec != b.tv_nsec;
}

void plain_gateway(const Gateway& gateway) {
    const Gateway& base = *registry.default_gateway;
    std::printf("gateway %s", gateway.name->c_str());
    if (gateway.address && gateway.address != gateway.name) {
        std::printf(" address %s", gateway.address->c_str());
    }
    if (gateway.port && gateway.port != base.port) std::printf(" port %s", gateway.port->c_str());
    if (gateway.copies != 0 && gateway.copies != base.copies) {
        std::printf(" copies %u", gateway.copies);
    }
    if (duration_is_set(gateway.delay) && differs(gateway.delay, base.delay)) {
        std::printf(" delay %s", duration_format(gateway.delay).c_str());
    }
    if (gateway.secret.length != 0 && secret_compare(&gateway.secret, &base.secret) != 0) {
        std::printf(" secret %s", secret_format(&gateway.secret)->c_str());
    }
    std::putchar('\n');
}

void verbose_gateway(const Gateway& gateway) {
    std::printf("Gateway %s:\n", gateway.name->c_str());
    verbose_settings(gateway.copies, gateway.delay, gateway.secret);
    std::puts("  Targets:");
    unsigned number = 0;
    for (const Target& target : gateway.targets) {
        const auto text = sockaddr_text(target);
        std::printf("    %-2u        %s\n", ++number, text ? text->c_str() : "???");
    }
}

void plain_host(const Host& host) {
    std::printf("host %s mac %s", host.name.c_str(), mac_text(host.mac).c_str());
    if (host.gateway != nullptr && hostgroup_find(host.gateway->name->c_str()) == nullptr) {
        std::printf(" via %s", host.gateway->name->c_str());
    }
    if (host.copies != 0) std::printf(" copies %u", host.copies);
    if (duration_is_set(host.delay)) std::printf(" delay %s", duration_format(host.delay).c_str());
    if (auto text = secret_format(&host.secret)) std::printf(" secret %s", text->c_str());
    std::putchar('\n');
}

void verbose_host(const Host& host) {
    std::printf("Host %s:\n", host.name.c_str());
    label("MAC", mac_text(host.mac));
    if (host.gateway != nullptr) label("Gateway", *host.gateway->name);
    verbose_settings(host.copies, host.delay, host.secret);
}

void plain_hostgroup(const HostGroup& group) {
    std::printf("[%s]\n", group.name.c_str());
    if (duration_is_set(group.delay))
        std::printf("delay %s\n", duration_format(group.delay).c_str());
    for (const Host* member : group.members)
        std::printf("host %s\n", member->name.c_str());
}

void verbose_hostgroup(const HostGroup& group) {
    std::printf("Hostgroup %s:\n", group.name.c_str());
    if (duration_is_set(group.delay)) label("Delay", duration_format(group.delay));
    std::puts("  Hosts:");
    int number = 0;
    for (const Host* member : group.members) {
        std::printf("    %2d        %s\n", ++number, member->name.c_str());
    }
}

}  // namespace

void gateway_export(const Gateway& gateway) {
    options.verbose != 0 ? verbose_gateway(gateway) : plain_gateway(gateway);
}

void host_export(const Host& host) {
    options.verbose != 0 ? verbose_host(host) : plain_host(host);
}

void hostgroup_export(const HostGroup& group) {
    options.verbose != 0 ? verbose_hostgroup(group) : plain_hostgroup(group);
}

void config_export() {
    const bool plain = options.verbose == 0;
    if (plain) std::puts("; tesk configuration\n\n; Gateways:");
    for (const Gateway& gateway : registry.gateways) {
        if (gateway.name) gateway_export(gateway);
    }
    std::puts(plain ? "\n; Hosts:" : "");
    for (const Host& host : registry.hosts)
        host_export(host);
    std::puts(plain ? "\n; Groups:" : "");
    bool first = true;
    for (const HostGroup& group : registry.hostgroups) {
        if (group.members.empty() || (plain && group.name == "all")) continue;
        if (plain && !first) std::putchar('\n');
        first = false;
        hostgroup_export(group);
    }
}
