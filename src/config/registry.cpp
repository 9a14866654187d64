#include "config/registry.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

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

constexpr std::size_t kFewestMemberSlots = 16;

// Where `host` is in `set`, or the free slot where it goes. Neighbouring records take
// neighbouring slots; each stretch of 64 moves to a place of its own, since longer runs of
// taken slots would overlap, and a probe that lands in one walks to its end.
std::size_t member_slot(const MemberSet& set, const Host* host) {
    const std::size_t mask = set.slots.size() - 1;
    const std::uintptr_t place = reinterpret_cast<std::uintptr_t>(host) / sizeof(Host);
    const std::uintptr_t stretch = place >> 6;
    std::size_t slot = (place + stretch * 0x9e3779b97f4a7c15u) & mask;
    while (set.slots[slot] != nullptr && set.slots[slot] != host)
        slot = (slot + 1) & mask;
    return slot;
}

// Adds `host` unless it is there already; true when it was added.
bool member_set_insert(MemberSet& set, const Host* host) {
    if (2 * (set.size + 1) > set.slots.size()) {
        std::vector<const Host*> old(std::max(kFewestMemberSlots, 2 * set.slots.size()));
        old.swap(set.slots);
        for (const Host* member : old) {
            if (member != nullptr) set.slots[member_slot(set, member)] = member;
        }
    }
    const std::size_t slot = member_slot(set, host);
    if (set.slots[slot] == host) return false;
    set.slots[slot] = host;
    ++set.size;
    return true;
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

void host_index_reserve(std::size_t more) {
    registry.host_names.entries.reserve(registry.host_names.entries.size() + more);
}

Host* host_get(const char* name, bool derive_mac) {
    if (name == nullptr) return nullptr;
    // One probe of the index finds the host or makes the entry of a new one: a hundred
    // thousand hosts of a configuration file all take this path.
    const auto [entry, created] = registry.host_names.entries.try_emplace(name, Entry<Host>{});
    if (!created) return entry->second.first;
    errno = ENXIO;
    Host& host = registry.hosts.emplace_back();
    host.name = name;
    entry->second = Entry<Host>{&host, 1};
    if (derive_mac) (void)mac_parse(name, host.mac);
    return &host;
}

int hostgroup_add(HostGroup* group, Host* host) {
    if (group == nullptr || host == nullptr) return -1;
    if (member_set_insert(group->member_set, host)) group->members.push_back(host);
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
