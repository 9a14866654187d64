#include "values/ether.h"

#include <cstdio>
#include <cstring>

// FreeBSD's ethers header wants the system types declared before it.
#include <sys/types.h>

#if defined(__FreeBSD__)
#include <net/ethernet.h>
#else
#include <netinet/ether.h>
#endif

bool mac_is_zero(const MacAddress& mac) {
    return mac == MacAddress{};
}

std::string mac_text(const MacAddress& mac) {
    const auto& b = mac.bytes;
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4],
                  b[5]);
    return text;
}

int ether_lookup_name(const char* name, MacAddress& mac) {
    struct ether_addr found {};
    if (ether_hostton(name, &found) != 0) return -1;
    std::memcpy(mac.bytes.data(), &found, mac.bytes.size());
    return 0;
}

int ether_read_text(const char* text, MacAddress& mac) {
    struct ether_addr found {};
    if (ether_aton_r(text, &found) == nullptr) return -1;
    std::memcpy(mac.bytes.data(), &found, mac.bytes.size());
    return 0;
}
