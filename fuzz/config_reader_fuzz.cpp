// The configuration reader on any file content, each input on fresh registries.
// A fault ends in one message line naming the file and a line that exists; and
// whatever the reader managed, the registries stay consistent: every host is in
// the group "all" once, in creation order, groups hold each member once, a host's
// gateway is a named gateway of the registry, every lookup finds the first record
// of its name, and no secret passes 64 bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "config/reader.h"
#include "config/registry.h"
#include "frontend/options.h"
#include "frontend/startup.h"
#include "fuzz_check.h"

namespace {

constexpr const char* kPath = "fuzz.conf";

// The most line numbers a file of this size can have, however long lines are cut.
unsigned line_bound(const std::uint8_t* data, std::size_t size) {
    const auto ends = static_cast<std::size_t>(std::count(data, data + size, '\n'));
    return static_cast<unsigned>(ends + 1 + size / 2047);
}

void check_message(const std::string& error, unsigned lines) {
    const std::string prefix = options.program_name + ": " + kPath + "#";
    FUZZ_CHECK(error.compare(0, prefix.size(), prefix) == 0);
    FUZZ_CHECK(!error.empty() && error.back() == '\n');
    FUZZ_CHECK(std::count(error.begin(), error.end(), '\n') == 1);
    char* end = nullptr;
    const unsigned long line = std::strtoul(error.c_str() + prefix.size(), &end, 10);
    FUZZ_CHECK(end != error.c_str() + prefix.size() && *end == ':');
    FUZZ_CHECK(line >= 1 && line <= lines);
}

bool registered(const Gateway* gateway) {
    return std::any_of(registry.gateways.begin(), registry.gateways.end(),
                       [&](const Gateway& g) { return &g == gateway; });
}

// Every lookup finds the first record in creation order that bears the name.
template <typename Record, typename NameOf, typename Find>
void check_lookups(std::deque<Record>& records, NameOf name_of, Find find) {
    std::unordered_map<std::string, Record*> first;
    for (Record& record : records) {
        if (const std::string* name = name_of(record)) first.try_emplace(*name, &record);
    }
    for (const auto& [name, record] : first)
        FUZZ_CHECK(find(name.c_str()) == record);
}

void check_registry() {
    check_lookups(
        registry.gateways,
        [](Gateway& g) -> const std::string* { return g.name ? &*g.name : nullptr; }, gateway_find);
    check_lookups(
        registry.hosts, [](Host& h) -> const std::string* { return &h.name; }, host_find);
    check_lookups(
        registry.hostgroups, [](HostGroup& g) -> const std::string* { return &g.name; },
        hostgroup_find);

    FUZZ_CHECK(registry.default_gateway == &registry.gateways.front());
    FUZZ_CHECK(registry.all_group != nullptr);

    const auto& all = registry.all_group->members;
    FUZZ_CHECK(all.size() == registry.hosts.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        FUZZ_CHECK(all[i] == &registry.hosts[i]);

    std::unordered_set<const Host*> hosts;
    for (const Host& host : registry.hosts) {
        hosts.insert(&host);
        FUZZ_CHECK(host.secret.length <= kSecretMax);
        if (host.gateway != nullptr) {
            FUZZ_CHECK(registered(host.gateway));
            FUZZ_CHECK(host.gateway->name.has_value());
        }
    }
    for (const HostGroup& group : registry.hostgroups) {
        std::unordered_set<const Host*> seen;
        for (const Host* member : group.members) {
            FUZZ_CHECK(hosts.count(member) == 1);
            FUZZ_CHECK(seen.insert(member).second);
        }
        FUZZ_CHECK(group.member_set.size == group.members.size());
    }
    for (const Gateway& gateway : registry.gateways)
        FUZZ_CHECK(gateway.secret.length <= kSecretMax);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    registry = Registry{};
    options.debug = 0;
    FUZZ_CHECK(startup_records() == 0);

    // fmemopen refuses an empty buffer; one byte that is never read stands in.
    std::string content(reinterpret_cast<const char*>(data), size);
    std::FILE* in = fmemopen(content.empty() ? const_cast<char*>("") : content.data(),
                             content.empty() ? 1 : content.size(), "r");
    FUZZ_CHECK(in != nullptr);
    if (content.empty()) (void)std::fgetc(in);

    std::string error;
    const int result = config_read(in, kPath, error);
    std::fclose(in);

    FUZZ_CHECK(result == 0 || result == -1);
    if (result == 0) {
        FUZZ_CHECK(error.empty());
    } else {
        check_message(error, line_bound(data, size));
    }
    check_registry();
    return 0;
}
