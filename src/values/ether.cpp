#include "values/ether.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "values/ethers_snapshot.h"

// FreeBSD's ethers header wants the system types declared before it.
#include <sys/types.h>

#if defined(__FreeBSD__)
#include <net/ethernet.h>
#else
#include <netinet/ether.h>
#endif

#if defined(__GLIBC__)
#include <dlfcn.h>
#include <gnu/libc-version.h>
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

namespace {

constexpr const char* kEthersPath = "/etc/ethers";

MacAddress from_ether_addr(const struct ether_addr& address) {
    MacAddress mac;
    std::memcpy(mac.bytes.data(), &address, mac.bytes.size());
    return mac;
}

int ether_hostton_call(const char* name, MacAddress& mac) {
    struct ether_addr found {};
    if (ether_hostton(name, &found) != 0) return -1;
    mac = from_ether_addr(found);
    return 0;
}

#if defined(__GLIBC__)

// The glibc releases whose files backend ethers_read_glibc was checked against, line for
// line and by the equivalence tests. On any other the lookups go to ether_hostton.
constexpr const char* kCheckedGlibc[] = {"2.36"};

bool glibc_checked() {
    const char* running = gnu_get_libc_version();
    for (const char* release : kCheckedGlibc) {
        if (std::strcmp(running, release) == 0) return true;
    }
    return false;
}

// glibc has "files" and "dns" built in and loads every other service as a shared object.
bool nss_module_loadable(std::string_view service) {
    if (service == "dns") return true;
    const std::string module = "libnss_" + std::string(service) + ".so.2";
    void* handle = dlopen(module.c_str(), RTLD_LAZY);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

// Reads /etc/nsswitch.conf into `text`, left absent when there is no such file. False when
// it exists but cannot be read, since glibc then knows more than we do.
bool read_nsswitch_conf(std::optional<std::string>& text) {
    std::FILE* file = std::fopen("/etc/nsswitch.conf", "re");
    if (file == nullptr) return errno == ENOENT || errno == ENOTDIR;
    text.emplace();
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text->append(chunk, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

std::optional<EthersSnapshot> platform_snapshot() {
    if (!glibc_checked()) return std::nullopt;
    std::optional<std::string> conf;
    if (!read_nsswitch_conf(conf)) return std::nullopt;
    if (!nsswitch_ethers_from_files(conf, nss_module_loadable)) return std::nullopt;

    // No file: every lookup misses, as the call's would.
    std::FILE* file = std::fopen(kEthersPath, "re");
    if (file == nullptr) return EthersSnapshot{};
    EthersSnapshot snapshot = ethers_read_glibc(file);
    std::fclose(file);
    // A configuration that glibc refuses (a malformed action on any line) leaves it no
    // source at all; the file's first entry, which it finds at once, shows that it reads
    // the file.
    if (snapshot.first_name) {
        MacAddress expected;
        MacAddress answered;
        if (ethers_snapshot_find(snapshot, snapshot.first_name->c_str(), expected) != 0 ||
            ether_hostton_call(snapshot.first_name->c_str(), answered) != 0 ||
            answered != expected) {
            return std::nullopt;
        }
    }
    return snapshot;
}

#elif defined(__FreeBSD__)

int freebsd_ether_line(const char* line, MacAddress& mac, char* name) {
    struct ether_addr found {};
    if (ether_line(line, &found, name) != 0) return -1;
    mac = from_ether_addr(found);
    return 0;
}

// ether_hostton reads _PATH_ETHERS itself, without a name service switch; a file it
// cannot open answers nothing.
std::optional<EthersSnapshot> platform_snapshot() {
    std::FILE* file = std::fopen(kEthersPath, "re");
    if (file == nullptr) return EthersSnapshot{};
    std::optional<EthersSnapshot> snapshot = ethers_read_bsd(file, BUFSIZ, freebsd_ether_line);
    std::fclose(file);
    return snapshot;
}

#else

std::optional<EthersSnapshot> platform_snapshot() {
    return std::nullopt;
}

#endif

}  // namespace

std::optional<EthersSnapshot> ethers_snapshot_take() {
    return platform_snapshot();
}

int ether_lookup_name(const char* name, MacAddress& mac) {
    // Taken on the first lookup and kept until exit, like everything read at start-up;
    // never destroyed, so that exit does not spend time on it.
    static const std::optional<EthersSnapshot>& snapshot =
        *new std::optional<EthersSnapshot>(ethers_snapshot_take());
    if (snapshot) return ethers_snapshot_find(*snapshot, name, mac);
    return ether_hostton_call(name, mac);
}

int ether_read_text(const char* text, MacAddress& mac) {
    struct ether_addr found {};
    if (ether_aton_r(text, &found) == nullptr) return -1;
    mac = from_ether_addr(found);
    return 0;
}
