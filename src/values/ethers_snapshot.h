// The file-backed ethers database read once into a table, so that a lookup costs a hash
// probe instead of the C library reading /etc/ethers from the top. The readers follow the
// C libraries' own readers line for line, so the table answers every name as their
// ether_hostton would; whether a platform may use it at all is decided in values/ether.cpp.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "values/ether.h"

struct EthersSnapshot {
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>{}(name);
        }
    };

    // glibc compares names with strcasecmp (ASCII letters in the "C" locale), FreeBSD
    // with strcmp; with fold_case the keys are lower-cased.
    bool fold_case = false;
    // Each name with the address of its first entry in file order.
    std::unordered_map<std::string, MacAddress, NameHash, std::equal_to<>> first;
    // The name of the file's first entry, if any: a lookup that the C library answers at
    // once, to check that it answers from the file at all.
    std::optional<std::string> first_name;
};

// 0 and `mac` filled when `name` has an entry, -1 otherwise.
int ethers_snapshot_find(const EthersSnapshot& snapshot, const char* name, MacAddress& mac);

// Reads `file` as glibc's files backend reads /etc/ethers for ether_hostton: lines through
// a buffer of 1024 bytes (an entry after a line that does not fit is never found), blank
// and "#" lines skipped, six hex numbers and a name, names case-insensitive.
EthersSnapshot ethers_read_glibc(std::FILE* file);

// ether_line()'s contract: 0 with `mac` and `name` filled from one line, or -1. `name` has
// room for the whole line.
using EtherLineParser = int (*)(const char* line, MacAddress& mac, char* name);

// Reads `file` as FreeBSD's ether_hostton reads /etc/ethers: pieces of at most
// `piece_size` - 1 bytes by fgets, pieces beginning with "#" skipped, each other parsed by
// `parse`, names compared exactly. Nothing when a piece begins with "+": the C library
// asks NIS for those, which the file alone cannot answer.
std::optional<EthersSnapshot> ethers_read_bsd(std::FILE* file, int piece_size,
                                              EtherLineParser parse);

// Whether glibc answers ethers lookups from /etc/ethers alone, given the text of
// /etc/nsswitch.conf (absent: no such file, so the built-in default "files"): its one
// "ethers" line names "files", and every other source on it is a service whose module
// `module_loadable` says cannot be loaded (glibc passes over those); no action in brackets.
bool nsswitch_ethers_from_files(std::optional<std::string_view> nsswitch_conf,
                                const std::function<bool(std::string_view)>& module_loadable);

// The snapshot of this system's ethers database, read now (values/ether.cpp decides by
// platform); nothing where the C library's answers could come from elsewhere than the
// file, or where its reading of the file has not been checked.
std::optional<EthersSnapshot> ethers_snapshot_take();
