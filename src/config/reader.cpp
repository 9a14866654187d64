#include "config/reader.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include <sys/stat.h>

#include "config/fields.h"
#include "config/registry.h"
#include "frontend/options.h"
#include "values/text.h"

namespace {

constexpr const char* kMissing = "(null)";

using HostSetter = int (*)(Host&, const char*);
using GroupSetter = int (*)(HostGroup&, const char*);
using GatewaySetter = int (*)(Gateway&, const char*);

// What each keyword acts on: the current host; in a group section without a host, the
// group or the current gateway; outside sections without a host, the current gateway.
// A null entry refuses the keyword in that context.
struct Keyword {
    std::string_view word;
    HostSetter on_host;
    GroupSetter on_group;
    GatewaySetter in_section;
    GatewaySetter outside;
};

constexpr Keyword kKeywords[] = {
    {"name", host_set_name, nullptr, nullptr, gateway_set_name},
    {"mac", [](Host& host, const char* text) { return mac_parse(text, host.mac); }, nullptr,
     nullptr, nullptr},
    {"via", [](Host& host, const char* text) { return host_set_via(&host, text); }, nullptr,
     nullptr, nullptr},
    {"copies", host_set_copies, nullptr, nullptr, gateway_set_copies},
    {"secret", host_set_secret, nullptr, nullptr, gateway_set_secret},
    {"delay", host_set_delay, hostgroup_set_delay, nullptr, gateway_set_delay},
    {"address", nullptr, nullptr, gateway_set_address, gateway_set_address},
    {"port", nullptr, nullptr, gateway_set_port, gateway_set_port},
};

// The reading context of one file.
struct Reader {
    const char* path;
    unsigned line = 0;
    Gateway* gateway;                    // current gateway
    HostGroup* group = nullptr;          // current group: set once a section header was read
    Gateway* section_gateway = nullptr;  // the gateway named like the section, if any
    Host* host = nullptr;                // current host, for the rest of its line
    std::string* error;

    int fail(const std::string& reason) {
        *error = text_printf("%s: %s#%u: %s\n", options.program_name.c_str(), path, line,
                             reason.c_str());
        return -1;
    }
};

const char* shown(const char* value) {
    return value != nullptr ? value : kMissing;
}

int section(Reader& reader, std::string_view header) {
    const std::string name(header.substr(1, header.size() - 2));
    if (options.debug >= 3) std::fprintf(stderr, "[Switching hostgroup to %s]\n", name.c_str());
    reader.group = hostgroup_get(name.c_str());
    if (reader.group == nullptr) return reader.fail(name + ": Invalid hostgroup");
    reader.section_gateway = gateway_find(name.c_str());
    return 0;
}

int host_pair(Reader& reader, const char* value, bool derive_mac) {
    Host* host = host_get(value, derive_mac);
    if (host == nullptr) return reader.fail(text_printf("%s: Invalid host name", shown(value)));
    if (host->gateway == nullptr && reader.section_gateway != nullptr) {
        host->gateway = reader.section_gateway;
    }
    (void)hostgroup_add(reader.group, host);
    (void)hostgroup_add(registry.all_group, host);
    reader.host = host;
    return 0;
}

int gateway_pair(Reader& reader, const char* value) {
    if (reader.group != nullptr) return reader.fail("Can not define gateways in groups");
    Gateway* gateway = gateway_get(value);
    if (gateway == nullptr) {
        return reader.fail(text_printf("%s: Invalid gateway name", shown(value)));
    }
    reader.gateway = gateway;
    reader.host = nullptr;
    return 0;
}

// The result of the keyword's setter in the reader's context; nothing when the
// context refuses the keyword, which is judged before its value.
std::optional<int> apply(const Keyword& keyword, Reader& reader, const char* value) {
    if (reader.host != nullptr) {
        if (keyword.on_host == nullptr) return std::nullopt;
        return keyword.on_host(*reader.host, value);
    }
    if (reader.group != nullptr && keyword.on_group != nullptr) {
        return keyword.on_group(*reader.group, value);
    }
    const GatewaySetter setter = reader.group != nullptr ? keyword.in_section : keyword.outside;
    if (setter == nullptr) return std::nullopt;
    return setter(*reader.gateway, value);
}

int setting_pair(Reader& reader, std::string_view word, const char* value) {
    std::optional<int> result;
    for (const Keyword& keyword : kKeywords) {
        if (keyword.word == word) result = apply(keyword, reader, value);
    }
    if (!result) return reader.fail(std::string(word) + ": Invalid option");
    if (*result < 0) {
        return reader.fail(text_printf("%s: Invalid value for %s (rc=%d)", shown(value),
                                       std::string(word).c_str(), *result));
    }
    return 0;
}

// Splits a trimmed line in place at runs of blanks and tabs.
std::vector<const char*> tokens_of(char* line) {
    std::vector<const char*> tokens;
    char* saved = nullptr;
    for (char* token = strtok_r(line, " \t", &saved); token != nullptr;
         token = strtok_r(nullptr, " \t", &saved)) {
        tokens.push_back(token);
    }
    return tokens;
}

// True when the host pair at `index` is followed on its line by a "mac" pair for the same
// host: the MAC that a new host would take from its name can never be seen then, since the
// line either sets another or ends the process, and the ethers lookup is spared.
bool mac_follows(const std::vector<const char*>& tokens, std::size_t index) {
    for (std::size_t i = index + 2; i < tokens.size(); i += 2) {
        const std::string_view word = tokens[i];
        if (word == "mac") return true;
        if (word == "host" || word == "gateway") return false;
    }
    return false;
}

int read_pairs(Reader& reader, const std::vector<const char*>& tokens) {
    for (std::size_t i = 0; i < tokens.size(); i += 2) {
        const std::string_view word = tokens[i];
        const char* value = i + 1 < tokens.size() ? tokens[i + 1] : nullptr;
        if (options.debug >= 2) {
            std::fprintf(stderr, "Got: %s %s\n", tokens[i], value != nullptr ? value : "");
        }
        int result;
        if (word.size() >= 2 && word.front() == '[' && word.back() == ']') {
            result = section(reader, word);
        } else if (word == "host") {
            result = host_pair(reader, value, !mac_follows(tokens, i));
        } else if (word == "gateway") {
            result = gateway_pair(reader, value);
        } else {
            result = setting_pair(reader, word, value);
        }
        if (result < 0) return result;
    }
    return 0;
}

// The gateway that every file starts with. Once an earlier file renamed it, no
// gateway bears the name "default"; the reader then keeps to the default gateway itself.
Gateway* starting_gateway() {
    Gateway* named = gateway_find("default");
    return named != nullptr ? named : registry.default_gateway;
}

}  // namespace

int config_read(std::FILE* in, const char* path, std::string& error) {
    Reader reader{.path = path, .gateway = starting_gateway(), .error = &error};
    std::string line;
    while (read_line(in, line)) {
        ++reader.line;
        line_trim(line.data());
        if (line.c_str()[0] == '\0') continue;
        reader.host = nullptr;
        if (read_pairs(reader, tokens_of(line.data())) < 0) return -1;
    }
    return 0;
}

int config_load(const char* path) {
    if (Gateway* gateway = starting_gateway()) {
        gateway->address = "255.255.255.255";
        gateway->port = "7";
    }
    if (options.debug >= 2) std::fprintf(stderr, "[Parsing config: %s]\n", path);
    std::FILE* in = std::fopen(path, "r");
    if (in == nullptr) return -1;
    // Room for a host every 32 bytes, about the length of a host line with its address:
    // the index of a file of a hundred thousand hosts is then built once, not rebuilt a
    // dozen times as it grows.
    struct stat status {};
    if (fstat(fileno(in), &status) == 0 && status.st_size > 0) {
        host_index_reserve(static_cast<std::size_t>(status.st_size) / 32);
    }
    std::string error;
    const int result = config_read(in, path, error);
    // A file that opens but cannot be read (a directory) counts as one that cannot be opened.
    const bool unreadable = std::ferror(in) != 0;
    const int cause = errno;
    std::fclose(in);
    if (result < 0) {
        std::fputs(error.c_str(), stderr);
        std::exit(1);
    }
    if (unreadable) {
        errno = cause;
        return -1;
    }
    return 0;
}
