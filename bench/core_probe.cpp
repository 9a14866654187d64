// Looks inside the program's core library for what whole runs cannot show: how many
// allocations one host_send makes and of what size, and whether the membership check of a
// group, the adding of members and the lookup of a host by name stay constant-time as the
// registries grow. Prints one "key value..." line per figure.
#include <netdb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "config/registry.h"
#include "frontend/options.h"
#include "frontend/startup.h"
#include "send/sender.h"

namespace {

bool counting = false;
std::size_t allocations = 0;
std::vector<std::size_t>* sizes = nullptr;

void* counted(std::size_t size) {
    if (counting) {
        counting = false;  // recording a size allocates too
        ++allocations;
        sizes->push_back(size);
        counting = true;
    }
    return std::malloc(size != 0 ? size : 1);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Allocations of `calls` host_send calls for a host with the given secret text.
void count_sends(Host& host, const char* label, int calls) {
    std::vector<std::size_t> seen;
    seen.reserve(16 * static_cast<std::size_t>(calls));
    sizes = &seen;
    allocations = 0;
    int failed = 0;
    counting = true;
    for (int i = 0; i < calls; ++i)
        failed += host_send(&host) != 0;
    counting = false;
    std::size_t smallest = seen.empty() ? 0 : seen.front();
    std::size_t largest = smallest;
    for (std::size_t size : seen) {
        if (size < smallest) smallest = size;
        if (size > largest) largest = size;
    }
    std::printf("send_allocations %s %.3f %zu %zu %d\n", label,
                static_cast<double>(allocations) / calls, smallest, largest, failed);
}

// Builds a group of `size` new hosts, then checks each again and looks each up by name,
// in a shuffled order.
void grow_group(std::size_t size) {
    // Names of one length at every size (21 characters, as long as many real ones), so
    // that only the number of records differs.
    char name[32];
    std::vector<Host*> hosts;
    hosts.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(name, sizeof name, "probe-%07zu-%07zu", size, i);
        hosts.push_back(host_get(name, false));
    }
    std::snprintf(name, sizeof name, "probe-%07zu", size);
    HostGroup* group = hostgroup_get(name);

    auto start = std::chrono::steady_clock::now();
    for (Host* host : hosts)
        (void)hostgroup_add(group, host);
    const double add = seconds_since(start) / static_cast<double>(size);

    // The check in joining order, where memory is read much as it was written: what is
    // left to grow with the group is the work of the check itself.
    constexpr int kRounds = 5;
    std::size_t unchanged = 0;
    start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) {
        for (Host* host : hosts)
            unchanged += static_cast<std::size_t>(hostgroup_add(group, host)) == size;
    }
    const double check = seconds_since(start) / static_cast<double>(kRounds * size);

    std::vector<Host*> order = hosts;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));

    std::vector<std::string> names;
    names.reserve(size);
    for (Host* host : order)
        names.push_back(host->name);
    std::size_t found = 0;
    start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) {
        for (const std::string& name : names)
            found += host_find(name.c_str()) != nullptr;
    }
    const double lookup = seconds_since(start) / static_cast<double>(kRounds * size);

    const bool right =
        group->count() == size && unchanged == kRounds * size && found == kRounds * size;
    std::printf("group %zu %.1f %.1f %.1f %s\n", size, add * 1e9, check * 1e9, lookup * 1e9,
                right ? "ok" : "wrong");
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = counted(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = counted(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return counted(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return counted(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

int main() {
    if (startup_records() < 0) return 1;
    options.no_send = 1;  // every step of a send but the system call
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* entry = nullptr;
    if (getaddrinfo("127.0.0.1", "9", &hints, &entry) != 0) return 1;
    (void)target_push(registry.default_gateway, entry);

    Host* plain = host_get("02:00:00:00:00:01");
    count_sends(*plain, "plain", 1000);
    Host* secret = host_get("02:00:00:00:00:02");
    const std::string secret_text(kSecretMax, 'x');
    if (secret_parse(secret_text.c_str(), secret->secret) < 0) return 1;
    count_sends(*secret, "secret64", 1000);

    for (std::size_t size : {1000, 10000, 100000})
        grow_group(size);
    return 0;
}
