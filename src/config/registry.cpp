#include "config/registry.h"

#include <cerrno>
#include <cstring>

#include "values/text.h"

// Never destroyed: the records live until the process exits, and releasing a hundred
// thousand of them at exit would only cost time.
Registry& registry = *new Registry;

namespace {

const std::string* name_of(const Gateway& gateway) {
    return gateway.name ? &*gateway.name : nullptr;
}
const std::string* name_of(const Host& host) {
    return &host.name;
}
const std::string* name_of(const HostGroup& group) {
    return &group.name;
}

template <typename Record>
using Entry = typename NameIndex<Record>::Entry;

template <typename Record>
Record* find_named(const NameIndex<Record>& index, const char* name) {
    if (name == nullptr) return nullptr;
    const auto found = index.entries.find(name);
    if (found == index.entries.end()) {
        errno = ENXIO;
        return nullptr;
    }
    return found->second.first;
}

// A new record, the last in creation order, so it is first only for a name no other bears.
template <typename Record>
void index_added(NameIndex<Record>& index, Record& record) {
    const auto entry = index.entries.try_emplace(*name_of(record), Entry<Record>{&record, 0}).first;
    ++entry->second.count;
}

// The first record in creation order that bears `name`.
template <typename Record>
Record* first_named(std::deque<Record>& records, const std::string& name) {
    for (Record& record : records) {
        const std::string* own = name_of(record);
        if (own != nullptr && *own == name) return &record;
    }
    return nullptr;
}

template <typename Record>
void rename(std::deque<Record>& records, NameIndex<Record>& index, Record& record,
            std::optional<std::string> old_name, const std::string& new_name) {
    if (old_name) {
        const auto old_entry = index.entries.find(*old_name);
        if (--old_entry->second.count == 0) {
            index.entries.erase(old_entry);
        } else if (old_entry->second.first == &record) {
            old_entry->second.first = first_named(records, *old_name);
        }
    }
    const auto entry = index.entries.try_emplace(new_name, Entry<Record>{&record, 0}).first;
    if (++entry->second.count > 1 && entry->second.first != &record) {
        entry->second.first = first_named(records, new_name);
    }
}

}  // namespace

Gateway* gateway_find(const char* name) {
    return find_named(registry.gateway_names, name);
}

Host* host_find(const char* name) {
    return find_named(registry.host_names, name);
}

HostGroup* hostgroup_find(const char* name) {
    return find_named(registry.hostgroup_names, name);
}

void gateway_rename(Gateway& gateway, const char* name) {
    std::optional<std::string> old_name = std::move(gateway.name);
    gateway.name = name;
    rename(registry.gateways, registry.gateway_names, gateway, std::move(old_name), *gateway.name);
}

void host_rename(Host& host, const char* name) {
    std::string old_name = std::move(host.name);
    host.name = name;
    rename(registry.hosts, registry.host_names, host, std::move(old_name), host.name);
}

HostGroup* hostgroup_get(const char* name) {
    if (name == nullptr) return nullptr;
    if (HostGroup* found = hostgroup_find(name)) return found;
    HostGroup& group = registry.hostgroups.emplace_back();
    group.name = name;
    group.members.reserve(HostGroup::kGrowth);
    index_added(registry.hostgroup_names, group);
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
        index_added(registry.gateway_names, gateway);
        hostgroup_get(name);
    }
    return &gateway;
}

Host* host_get(const char* name, bool derive_mac) {
    if (name == nullptr) return nullptr;
    if (Host* found = host_find(name)) return found;
    Host& host = registry.hosts.emplace_back();
    host.name = name;
    index_added(registry.host_names, host);
    if (derive_mac) (void)mac_parse(name, host.mac);
    return &host;
}

int hostgroup_add(HostGroup* group, Host* host) {
    if (group == nullptr || host == nullptr) return -1;
    if (!group->member_set.insert(host).second) return static_cast<int>(group->count());
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
    // The ethers lookup may leave its own errno (no /etc/ethers) even when the text then
    // reads as an address; callers see the errno of what they asked for.
    const int saved_errno = errno;
    if (ether_lookup_name(text, mac) == 0 || ether_read_text(text, mac) == 0) {
        errno = saved_errno;
        return 0;
    }
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
