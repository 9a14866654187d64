#include "config/registry.h"

#include <cerrno>
#include <cstring>

#include "values/text.h"

Registry registry;

namespace {

template <typename Record>
Record* find_named(std::deque<Record>& records, const char* name) {
    if (name == nullptr) return nullptr;
    for (Record& record : records) {
        if constexpr (std::is_same_v<Record, Gateway>) {
            if (record.name && *record.name == name) return &record;
        } else {
            if (record.name == name) return &record;
        }
    }
    errno = ENXIO;
    return nullptr;
}

}  // namespace

Gateway* gateway_find(const char* name) {
    return find_named(registry.gateways, name);
}

Host* host_find(const char* name) {
    return find_named(registry.hosts, name);
}

HostGroup* hostgroup_find(const char* name) {
    return find_named(registry.hostgroups, name);
}

HostGroup* hostgroup_get(const char* name) {
    if (name == nullptr) return nullptr;
    if (HostGroup* found = hostgroup_find(name)) return found;
    HostGroup& group = registry.hostgroups.emplace_back();
    group.name = name;
    group.members.reserve(HostGroup::kGrowth);
    return &group;
}

Gateway* gateway_get(const char* name) {
    if (name != nullptr) {
        if (Gateway* found = gateway_find(name)) return found;
    }
    Gateway& gateway = registry.gateways.emplace_back();
    if (name != nullptr) {
        gateway.name = name;
        gateway.address = name;
        hostgroup_get(name);
    }
    return &gateway;
}

Host* host_get(const char* name) {
    if (name == nullptr) return nullptr;
    if (Host* found = host_find(name)) return found;
    Host& host = registry.hosts.emplace_back();
    host.name = name;
    (void)mac_parse(name, host.mac);
    return &host;
}

int hostgroup_add(HostGroup* group, Host* host) {
    if (group == nullptr || host == nullptr) return -1;
    if (!group->member_set.insert(host).second) return static_cast<int>(group->count());
    if (group->count() == group->capacity()) {
        group->members.reserve(group->capacity() + HostGroup::kGrowth);
    }
    group->members.push_back(host);
    return static_cast<int>(group->count());
}

int host_set_via(Host* host, const char* name) {
    if (name == nullptr) return -1;
    Gateway* gateway = gateway_find(name);
    host->gateway = gateway;
    if (gateway == nullptr) return -1;
    HostGroup* group = hostgroup_find(gateway->name->c_str());
    if (group == nullptr) return 0;
    (void)hostgroup_add(group, host);
    return 0;
}

int mac_parse(const char* text, MacAddress& mac) {
    if (text == nullptr) return -1;
    if (ether_lookup_name(text, mac) == 0 || ether_read_text(text, mac) == 0) return 0;
    errno = EINVAL;
    return -1;
}

Target* target_push(Gateway* gateway, const addrinfo* entry) {
    Target& target = gateway->targets.emplace_front();
    target.entry = entry;
    return &target;
}

std::optional<std::string> sockaddr_text(const Target& target) {
    return sockaddr_text(target.entry);
}
