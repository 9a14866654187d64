#include "values/ethers_snapshot.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// ether_hostton's buffer on glibc; the ethers parser keeps nothing in it before the line.
constexpr int kGlibcLineBuffer = 1024;

bool is_space(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool is_upper(char c) {
    return c >= 'A' && c <= 'Z';
}

// strcasecmp's folding in the "C" locale: ASCII letters only.
std::string folded(std::string_view name) {
    std::string key(name);
    for (char& c : key) {
        if (is_upper(c)) c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

void add_entry(EthersSnapshot& snapshot, std::string_view name, const MacAddress& mac) {
    if (!snapshot.first_name) snapshot.first_name = std::string(name);
    if (snapshot.fold_case) {
        snapshot.first.try_emplace(folded(name), mac);
    } else {
        snapshot.first.try_emplace(std::string(name), mac);
    }
}

// One number of an address as the files backend reads it: strtoull in base 16 (blanks, a
// sign and "0x" allowed, nothing above UINT_MAX), then a colon, or for the last one blanks
// (all of them skipped); the end of the line also ends a number.
bool glibc_number(char*& line, bool last, unsigned& number) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(line, &end, 16);
    if (value > UINT_MAX || end == line) return false;
    if (last ? is_space(*end) : *end == ':') {
        do {
            ++end;
        } while (last && is_space(*end));
    } else if (*end != '\0') {
        return false;
    }
    line = end;
    number = static_cast<unsigned>(value);
    return true;
}

// One line as the files backend parses it: cut at "#" or the newline, six numbers of at
// most 0xff, then the name up to the next blank (it may be empty); the rest is ignored.
bool glibc_parse_line(char* line, MacAddress& mac, std::string_view& name) {
    if (char* cut = std::strpbrk(line, "#\n")) *cut = '\0';
    for (std::size_t i = 0; i < mac.bytes.size(); ++i) {
        unsigned number = 0;
        if (!glibc_number(line, i + 1 == mac.bytes.size(), number) || number > 0xff) return false;
        mac.bytes[i] = static_cast<std::uint8_t>(number);
    }
    const char* end = line;
    while (*end != '\0' && !is_space(*end))
        ++end;
    name = std::string_view(line, static_cast<std::size_t>(end - line));
    return true;
}

}  // namespace

int ethers_snapshot_find(const EthersSnapshot& snapshot, const char* name, MacAddress& mac) {
    std::string_view key = name;
    std::string lowered;
    if (snapshot.fold_case && std::any_of(key.begin(), key.end(), is_upper)) {
        lowered = folded(key);
        key = lowered;
    }
    const auto found = snapshot.first.find(key);
    if (found == snapshot.first.end()) return -1;
    mac = found->second;
    return 0;
}

EthersSnapshot ethers_read_glibc(std::FILE* file) {
    EthersSnapshot snapshot;
    snapshot.fold_case = true;
    char line[kGlibcLineBuffer];
    for (;;) {
        // fgets fills the last byte only when the line does not fit; glibc then asks for a
        // larger buffer, which ether_hostton never gives, so that lookup fails there.
        line[sizeof line - 1] = '\xff';
        if (std::fgets(line, sizeof line, file) == nullptr) break;
        if (line[sizeof line - 1] != '\xff') break;
        char* start = line;
        while (is_space(*start))
            ++start;
        if (*start == '\0' || *start == '#') continue;
        // Moved without its terminator, as glibc moves it: a last line that has leading
        // blanks and no newline keeps the tail of its old text, and its name grows by it.
        if (start != line) std::memmove(line, start, std::strlen(start));
        MacAddress mac;
        std::string_view name;
        if (glibc_parse_line(line, mac, name)) add_entry(snapshot, name, mac);
    }
    return snapshot;
}

std::optional<EthersSnapshot> ethers_read_bsd(std::FILE* file, int piece_size,
                                              EtherLineParser parse) {
    EthersSnapshot snapshot;
    std::vector<char> piece(static_cast<std::size_t>(piece_size));
    std::vector<char> name;
    while (std::fgets(piece.data(), piece_size, file) != nullptr) {
        if (piece[0] == '#') continue;
        if (piece[0] == '+') return std::nullopt;
        name.assign(std::strlen(piece.data()) + 1, '\0');
        MacAddress mac;
        if (parse(piece.data(), mac, name.data()) == 0) add_entry(snapshot, name.data(), mac);
    }
    return snapshot;
}

bool nsswitch_ethers_from_files(std::optional<std::string_view> nsswitch_conf,
                                const std::function<bool(std::string_view)>& module_loadable) {
    if (!nsswitch_conf) return true;
    // Each line read as glibc reads it: blanks, a database name ended by a blank or a
    // colon, blanks and colons, then the sources. A line with nothing after the name (at
    // the end of the file, without a newline) is no line at all.
    std::optional<std::string_view> sources;
    std::string_view rest = *nsswitch_conf;
    while (!rest.empty()) {
        const std::size_t newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline == rest.npos ? rest.npos : newline + 1);
        rest.remove_prefix(line.size());
        line = line.substr(0, line.find('\0'));
        std::size_t at = 0;
        while (at < line.size() && is_space(line[at]))
            ++at;
        const std::size_t name_start = at;
        while (at < line.size() && !is_space(line[at]) && line[at] != ':')
            ++at;
        if (at == line.size() || at == name_start) continue;
        const std::string_view name = line.substr(name_start, at - name_start);
        while (at < line.size() && (is_space(line[at]) || line[at] == ':'))
            ++at;
        if (name != "ethers") continue;
        // Which of two lines glibc keeps is its own affair: ask it on every lookup.
        if (sources) return false;
        sources = line.substr(at);
    }
    if (!sources) return true;
    if (sources->find('[') != std::string_view::npos) return false;
    bool files = false;
    std::string_view left = *sources;
    for (;;) {
        while (!left.empty() && is_space(left.front()))
            left.remove_prefix(1);
        if (left.empty()) break;
        std::size_t length = 0;
        while (length < left.size() && !is_space(left[length]))
            ++length;
        const std::string_view source = left.substr(0, length);
        left.remove_prefix(length);
        if (source == "files") {
            files = true;
        } else if (module_loadable(source)) {
            return false;
        }
    }
    return files;
}
