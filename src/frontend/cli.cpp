#include "frontend/cli.h"

#include <cstdlib>
#include <string>

#include "config/reader.h"
#include "frontend/options.h"

Options options;

namespace {

constexpr const char* kVersion = "1.5.2";
constexpr const char* kMaker = "the tesk developers";

constexpr const char* kUsage =
    "Usage: %s [<options>] [<host|group> [.. <host|group>]]\n"
    "\n"
    "Options:\n"
    "  -h           Display this information\n"
    "  -v           Increase verbosity\n"
    "  -d           Increase debug level\n"
    "  -i           Ignore errors\n"
    "  -n           Toggle \"no\" send mode\n"
    "  -e           Export configuration\n"
    "  -f <path>    Configuration file\n"
    "\n"
    "  -g <name>    Destination gateway\n"
    "  -a <addr>    Destination address\n"
    "  -p <port>    Destination port\n"
    "  -t <time>    Inter-packet delay\n"
    "  -T <time>    Inter-host delay\n"
    "  -c <count>   Packet copies to send\n"
    "  -s <secret>  Force WoL secret\n"
    "\n"
    "  -D           Run as proxy daemon\n"
    "  -F           Run proxy daemon in foreground\n"
    "  -A <addr>    Proxy daemon listen address\n"
    "  -P <port>    Proxy daemon listen port\n"
    "  -S <secret>  Proxy daemon secret\n"
    "\n"
    "If no hosts/groups specified on the command line tesk will read them from stdin\n";

// The option state field of a flag letter, or null.
int* flag_of(char letter) {
    switch (letter) {
        case 'v':
            return &options.verbose;
        case 'd':
            return &options.debug;
        case 'i':
            return &options.ignore_errors;
        case 'e':
            return &options.export_config;
        case 'D':
            return &options.daemon_mode;
        case 'F':
            return &options.foreground;
        default:
            return nullptr;
    }
}

// The option state field of a value letter, or null (-f is handled on its own).
std::optional<std::string>* text_of(char letter) {
    switch (letter) {
        case 'g':
            return &options.gateway_override;
        case 'a':
            return &options.address_override;
        case 'p':
            return &options.port_override;
        case 't':
            return &options.packet_delay_override;
        case 'T':
            return &options.host_delay_override;
        case 'c':
            return &options.copies_override;
        case 's':
            return &options.secret_override;
        case 'A':
            return &options.listen_address;
        case 'P':
            return &options.listen_port;
        case 'S':
            return &options.listen_secret;
        default:
            return nullptr;
    }
}

}  // namespace

void print_version(std::FILE* out) {
    std::fprintf(out, "[tesk %s (%s %s) - %s]\n", kVersion, __DATE__, __TIME__, kMaker);
}

void print_usage(std::FILE* out) {
    std::fprintf(out, kUsage, options.program_name.c_str());
}

int parse_command_line(int argc, char** argv) {
    int next = 1;
    while (next < argc && argv[next][0] == '-') {
        const char* letters = argv[next++] + 1;
        for (; *letters != '\0'; ++letters) {
            const char letter = *letters;
            if (letter == '-') return next;  // "--", or "-v-": the names begin after it
            if (int* flag = flag_of(letter)) {
                ++*flag;
                continue;
            }
            if (letter == 'n') {
                options.no_send = !options.no_send;
                continue;
            }
            if (letter == 'f' || text_of(letter) != nullptr) {
                // The rest of the argument, else the whole next one, else the empty text.
                const char* value = letters[1] != '\0' ? letters + 1
                                    : next < argc      ? argv[next++]
                                                       : "";
                if (letter == 'f') {
                    (void)config_load(value);
                } else {
                    *text_of(letter) = value;
                }
                break;
            }
            if (letter == 'h') {
                print_usage(stdout);
                std::exit(0);
            }
            if (letter == 'V') {
                print_version(stdout);
                std::exit(0);
            }
            std::fprintf(stderr, "%s: -%c: Invalid switch\n", options.program_name.c_str(), letter);
            std::exit(1);
        }
    }
    return next;
}
