#include "frontend/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include "config/export.h"
#include "config/reader.h"
#include "config/registry.h"
#include "daemon/daemon.h"
#include "daemon/detach.h"
#include "frontend/cli.h"
#include "frontend/options.h"
#include "send/sender.h"
#include "values/text.h"

#ifndef TESK_SYSTEM_CONFIG
#define TESK_SYSTEM_CONFIG "/usr/local/etc/tesk.conf"
#endif

namespace {

constexpr const char* kSystemConfig = TESK_SYSTEM_CONFIG;
constexpr const char* kUserConfig = ".teskrc";
constexpr const char* kDefaultAddress = "255.255.255.255";
constexpr const char* kDefaultPort = "7";
constexpr const char* kListenAddress = "0.0.0.0";
constexpr const char* kListenPort = "10007";
constexpr const char* kStdinPrompt =
    "[Enter hosts or groups to send WoL packet to, end with EOF]\n";

// A standard stream that the caller left closed is opened on /dev/null, so that no socket
// takes its number: reading names would then read the socket, and detaching would put
// /dev/null in its place.
void open_standard_streams() {
    for (int stream = 0; stream <= 2; ++stream) {
        if (fcntl(stream, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDWR) != stream) {
            std::exit(1);
        }
    }
}

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", options.program_name.c_str(), message.c_str());
    std::exit(1);
}

// The texts that name a gateway in the messages about its targets; a part it lacks
// shows the text it was resolved with.
std::string own_target(const Gateway& gateway, const char* host, const char* service) {
    return text_printf("%s port %s", gateway.address ? gateway.address->c_str() : host,
                       gateway.port ? gateway.port->c_str() : service);
}

void resolve(Gateway& gateway) {
    const char* host = options.address_override ? options.address_override->c_str()
                       : gateway.address        ? gateway.address->c_str()
                                                : kDefaultAddress;
    const char* service = options.port_override ? options.port_override->c_str()
                          : gateway.port        ? gateway.port->c_str()
                                                : kDefaultPort;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* results = nullptr;
    if (getaddrinfo(host, service, &hints, &results) != 0) {
        fail(text_printf("%s port %s: Invalid target", host, service));
    }
    registry.resolved.emplace_back(results, &freeaddrinfo);
    for (const addrinfo* entry = results; entry != nullptr; entry = entry->ai_next) {
        Target* target = target_push(&gateway, entry);
        const int family = entry->ai_family == AF_INET ? AF_INET : AF_INET6;
        target->socket = socket(family, SOCK_DGRAM, IPPROTO_UDP);
        if (target->socket < 0) {
            fail(own_target(gateway, host, service) + ": socket: " + std::strerror(errno));
        }
        const int on = 1;
        (void)setsockopt(target->socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
}

void load_default_files() {
    const auto user_config = strjoin({std::getenv("HOME"), "/", kUserConfig});
    (void)config_load(kSystemConfig);
    if (user_config) (void)config_load(user_config->c_str());
}

// The daemon's nameless gateway, the last of all.
Gateway* build_listener() {
    Gateway* listener = gateway_get(nullptr);
    listener->address = options.listen_address.value_or(kListenAddress);
    listener->port = options.listen_port.value_or(kListenPort);
    if (options.listen_secret &&
        secret_parse(options.listen_secret->c_str(), listener->secret) < 0) {
        fail("-S " + *options.listen_secret + ": Invalid value");
    }
    return listener;
}

// -T replaces the delay between members of every group.
void apply_host_delay() {
    if (!options.host_delay_override) return;
    Duration delay{};
    if (delay_parse(options.host_delay_override->c_str(), delay) < 0) {
        fail("-T " + *options.host_delay_override + ": Invalid value");
    }
    for (HostGroup& group : registry.hostgroups)
        group.delay = delay;
}

int send_arguments(int count, char** names) {
    for (int i = 0; i < count; ++i) {
        if (send_name(names[i]) < 0 && options.ignore_errors == 0) {
            fail(text_printf("%s: Sending WoL packet failed: %s", names[i], std::strerror(errno)));
        }
    }
    return 0;
}

int send_standard_input() {
    if (isatty(STDIN_FILENO)) {
        std::fputs(kStdinPrompt, stderr);
        std::fflush(stderr);
    }
    std::string line;
    while (read_line(stdin, line)) {
        line_trim(line.data());
        char* saved = nullptr;
        for (char* token = strtok_r(line.data(), " \t", &saved); token != nullptr;
             token = strtok_r(nullptr, " \t", &saved)) {
            if (send_name(token) >= 0) continue;
            std::fprintf(stderr, "%s: %s: Sending WoL packet failed: %s\n",
                         options.program_name.c_str(), token, std::strerror(errno));
            if (options.ignore_errors == 0) std::exit(1);
        }
    }
    return 0;
}

}  // namespace

int startup_records() {
    registry.default_gateway = gateway_get("default");
    if (registry.default_gateway == nullptr) return -1;
    registry.default_gateway->address = kDefaultAddress;
    registry.default_gateway->port = kDefaultPort;
    registry.default_gateway->copies = 1;
    registry.all_group = hostgroup_get("all");
    return registry.all_group != nullptr ? 0 : -1;
}

void resolve_gateways() {
    for (Gateway& gateway : registry.gateways)
        resolve(gateway);
}

int tesk_main(int argc, char** argv) {
    open_standard_streams();
    if (argc > 0) options.program_name = argv[0];
    if (startup_records() < 0) fail("Internal error #1458934");
    load_default_files();
    const int first_name = parse_command_line(argc, argv);
    if (options.verbose != 0) print_version(stdout);
    Gateway* const listener = options.daemon_mode != 0 ? build_listener() : nullptr;
    resolve_gateways();
    apply_host_delay();

    if (options.export_config != 0) {
        config_export();
        // The export is often kept in a file: one cut short by a full disk is an error.
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
            fail(std::string("stdout: ") + std::strerror(errno));
        }
        return 0;
    }
    if (listener != nullptr) {
        if (options.foreground == 0) daemon_detach();
        daemon_log_open();
        (void)daemon_run(*listener);
        const std::string cause = std::strerror(errno);
        syslog(LOG_ERR, "daemon_run: %s", cause.c_str());
        fail("daemon_run: " + cause);
    }
    if (first_name < argc) return send_arguments(argc - first_name, argv + first_name);
    return send_standard_input();
}
