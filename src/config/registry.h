// The registries: every gateway, host and host group the program knows, in
// creation order, and the operations that find, create and link them.
// Records are created during start-up (hosts also while sending) and are never
// moved or released before the process exits, so references to them stay valid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <netdb.h>

#include "values/duration.h"
#include "values/ether.h"
#include "values/secret.h"

// One resolved destination of a gateway and the UDP socket opened for it.
struct Target {
    const addrinfo* entry = nullptr;  // into a resolver result that lives until exit
    int socket = -1;
};

// A named destination that packets are sent to.
struct Gateway {
    std::optional<std::string> name;     // absent for nameless gateways, which no lookup finds
    std::optional<std::string> address;  // absent: 255.255.255.255
    std::optional<std::string> port;     // absent: 7
    std::deque<Target> targets;          // newest first
    std::uint32_t copies = 0;            // 0 = not set
    Duration delay{};
    Secret secret{};
};

// A machine to wake.
struct Host {
    std::string name;
    MacAddress mac{};            // all zero: cannot be woken
    Gateway* gateway = nullptr;  // absent: the default gateway
    std::uint32_t copies = 0;
    Duration delay{};
    Secret secret{};
};

// The members of a group by their addresses, for the membership check: open addressing in
// a table of a power of two slots, at most half full. Hosts made one after the other lie
// side by side in memory, and so do their slots, in stretches of 64 spread over the table:
// a file's hosts join a group, and are checked, with the table read mostly in order.
struct MemberSet {
    std::vector<const Host*> slots;  // null: free
    std::size_t size = 0;
};

// An ordered set of hosts woken together.
struct HostGroup {
    static constexpr std::size_t kGrowth = 64;

    std::string name;
    Duration delay{};            // between one member and the next
    std::vector<Host*> members;  // in joining order, each host once; room grows by 64
    MemberSet member_set;        // the same hosts

    std::size_t count() const { return members.size(); }
    // Slots in steps of 64, as many as the members need. The array itself grows
    // geometrically, so that adding a member stays constant-time in a group of any size.
    std::size_t capacity() const {
        return count() == 0 ? kGrowth : (count() + kGrowth - 1) / kGrowth * kGrowth;
    }
};

using AddrinfoList = std::unique_ptr<addrinfo, decltype(&freeaddrinfo)>;

// Beside each list, the records of each name: how many bear it and the first of them in
// creation order, so that lookups need no walk. Only a rename that makes two names equal,
// or leaves a name to a later record, walks the list again.
template <typename Record>
struct NameIndex {
    struct Entry {
        Record* first;
        std::size_t count;
    };
    std::unordered_map<std::string, Entry> entries;
};

// The one set of registries of the process.
struct Registry {
    std::deque<Gateway> gateways;
    std::deque<Host> hosts;
    std::deque<HostGroup> hostgroups;
    Gateway* default_gateway = nullptr;
    HostGroup* all_group = nullptr;
    std::vector<AddrinfoList> resolved;  // the resolver results that targets point into

    NameIndex<Gateway> gateway_names;
    NameIndex<Host> host_names;
    NameIndex<HostGroup> hostgroup_names;
};

extern Registry& registry;

// Lookups: the first record in creation order with that name; null with errno ENXIO when
// none matches, null with errno untouched for a null name. Nameless gateways never match.
Gateway* gateway_find(const char* name);
Host* host_find(const char* name);
HostGroup* hostgroup_find(const char* name);

// Makes room in the host index for `more` names beyond those it holds, so that reading a
// large file does not rebuild it over and over as it grows.
void host_index_reserve(std::size_t more);

// Find or create. A new named gateway takes its name as its address and brings a
// host group of the same name; a null name makes a new nameless gateway on every call.
// A created record leaves errno ENXIO from the lookup.
Gateway* gateway_get(const char* name);
HostGroup* hostgroup_get(const char* name);
// A new host takes its MAC address from mac_parse(name); when that fails the host is
// created all the same with an all-zero MAC and errno EINVAL. A caller that sets the MAC
// before anything can read it passes derive_mac false and spares the ethers lookup.
Host* host_get(const char* name, bool derive_mac = true);

// Adds `host` at the end of the group's members unless it is one already.
// Returns the member count, or -1 for a null argument.
[[nodiscard]] int hostgroup_add(HostGroup* group, Host* host);

// Links `host` to the gateway called `name` and adds it to the group of that name.
// -1 for a null name; -1 with ENXIO (and the host's gateway cleared) when no gateway has
// that name; 0 otherwise, with ENXIO when no group bears the gateway's name any more.
[[nodiscard]] int host_set_via(Host* host, const char* name);

// Fills `mac` from an ethers host name or else from a textual MAC address.
// 0, or -1 with errno EINVAL (mac unchanged); -1 with errno untouched for a null text.
[[nodiscard]] int mac_parse(const char* text, MacAddress& mac);

// Renames a record, keeping the lookups by name right (the first record in creation order
// with a name wins).
void gateway_rename(Gateway& gateway, const char* name);
void host_rename(Host& host, const char* name);

// Pushes a new target for one resolver result at the head of the gateway's targets.
Target* target_push(Gateway* gateway, const addrinfo* entry);

// The numeric address text of a target; nothing when it has no entry.
std::optional<std::string> sockaddr_text(const Target& target);
