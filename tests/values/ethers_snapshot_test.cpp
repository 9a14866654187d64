// The ethers snapshot against the C library itself: for every file below, every name gets
// the answer that ether_hostton gives, and the snapshot is taken only where the name
// service switch leaves the answers to the file.
#include "values/ethers_snapshot.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <sys/types.h>
#if defined(__GLIBC__)
#include <dlfcn.h>
#endif
#if defined(__FreeBSD__)
#include <net/ethernet.h>
#else
#include <netinet/ether.h>
#endif

#include <gtest/gtest.h>

#include "support/program.h"

namespace {

using namespace std::literals;

// What the C library answers for `name`: the address, or "-".
std::string oracle(const std::string& name) {
    struct ether_addr found {};
    if (ether_hostton(name.c_str(), &found) != 0) return "-";
    MacAddress mac;
    std::memcpy(mac.bytes.data(), &found, mac.bytes.size());
    return mac_text(mac);
}

std::string answer(const EthersSnapshot& snapshot, const std::string& name) {
    MacAddress mac;
    if (ethers_snapshot_find(snapshot, name.c_str(), mac) != 0) return "-";
    return mac_text(mac);
}

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// Every blank-, "#"- or NUL-separated word of `text`, in every letter case that matters,
// with the empty name and a few that no file holds.
std::set<std::string> names_in(const std::string& text) {
    std::set<std::string> names{"", "absent", "NAS", "nas"};
    std::string word;
    for (const char c : text + " ") {
        if (c == '\0' || c == '#' || std::isspace(static_cast<unsigned char>(c))) {
            if (!word.empty()) {
                names.insert({word, upper(word)});
                word.clear();
            }
        } else {
            word += c;
        }
    }
    return names;
}

void write_file(const std::string& path, const std::string& text) {
    FILE* out = std::fopen(path.c_str(), "w");
    ASSERT_NE(out, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
}

// Writes `text` as /etc/ethers (absent: none) and compares every name of it.
void expect_same_answers(const std::optional<std::string>& text) {
    std::remove("/etc/ethers");
    if (text) write_file("/etc/ethers", *text);
    const std::optional<EthersSnapshot> snapshot = ethers_snapshot_take();
    ASSERT_TRUE(snapshot.has_value());
    for (const std::string& name : names_in(text.value_or(""))) {
        SCOPED_TRACE("name \"" + name + "\"");
        EXPECT_EQ(answer(*snapshot, name), oracle(name));
    }
}

class EthersSnapshotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!isolated()) GTEST_SKIP() << "needs a mount namespace of its own for /etc";
        etc.emplace(EtcFiles{{"nsswitch.conf", "hosts: files\nethers: files\n"}});
        if (!ethers_snapshot_take()) GTEST_SKIP() << "this C library is answered call by call";
    }
    std::optional<EtcOverlay> etc;
};

std::string padded(std::string head, std::size_t length, char pad = 'x') {
    head.resize(length, pad);
    return head;
}

TEST_F(EthersSnapshotTest, AnswersAsTheCLibraryForEveryName) {
    struct Case {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"names, letter case, a name twice",
         "00:11:22:33:44:55 nas\n02:00:00:00:00:01 NasBox\n02:00:00:00:00:02 nasbox\n"
         "02:00:00:00:00:03 nas\n02:00:00:00:00:04 NAS\n"},
        {"a name that reads as an address", "00:11:22:33:44:77 00:11:22:33:44:55\n"},
        {"comments",
         "# 00:11:22:33:44:01 incomment\n00:11:22:33:44:02 trailing # 00:11:22:33:44:03 after\n"
         "00:11:22:33:44:04 glued#comment\n  # 00:11:22:33:44:05 indented\n"
         "00:11:22:33:44:06 #nameless\n#\n"},
        {"blank and malformed lines",
         "\n   \n\t\n00:11:22:33:44 short\n00:11:22:33:44:55:66 long\n00-11-22-33-44-55 dashes\n"
         "0:1:2:3:4:5 single\n00:11:22:33:44:zz bad\n100:11:22:33:44:55 big\n"
         "00:11:22:33:44:55x glued\nnoaddress\n 00:11:22:33:44:07 indented\n::::: colons\n"},
        {"numbers as strtoull reads them",
         "0x1:0X2:+3:-0:  4:5 odd\n100000000:1:2:3:4:5 wide\n-1:1:2:3:4:5 minus\n"
         "0xff:0x100:1:2:3:4 over\n00000000000a:1:2:3:4:5 zeros\n0x:1:2:3:4:5 bare\n"},
        {"tabs and other blanks",
         "00:11:22:33:44:08\tTabbed\tmore words\n00:11:22:33:44:09 crlf\r\n"
         "\v00:11:22:33:44:0a vtab\n00:11:22:33:44:0b\f\fformfeed\n"},
        {"entries without a name", "00:11:22:33:44:0c\n00:11:22:33:44:0d   \nnext\n"},
        {"a NUL inside a line", "00:11:22:33:44:0e nul\0hidden\n00:11:22:33:44:0f after\n"s},
        {"letters beyond ASCII",
         "00:11:22:33:44:10 \xc3\x9cmlaut\n00:11:22:33:44:11 \xc3\xbcmlaut\n"},
        {"a last line with leading blanks and no newline", "  00:11:22:33:44:12 tail"},
        {"a last line without a newline", "00:11:22:33:44:13 end"},
        {"an empty file", ""},
        {"lines of 1021 and 1022 bytes before an entry",
         padded("#", 1021) + "\n00:11:22:33:44:14 after1021\n" + padded("#", 1022) +
             "\n00:11:22:33:44:15 after1022\n"},
        {"an entry on a line too long to read",
         padded("00:11:22:33:44:16 longname ", 1100) + "\n00:11:22:33:44:17 later\n"},
        {"a line longer than BUFSIZ", "00:11:22:33:44:18 before\n" +
                                          padded("00:11:22:33:44:19 huge", BUFSIZ + 10, 'y') +
                                          "\n00:11:22:33:44:1a beyond\n"},
        {"a long name", "00:11:22:33:44:1b " + padded("n", 1000, 'n') + "\n"},
        {"an entry where a long line breaks into pieces",
         "00:11:22:33:44:1c first " + padded("", 999, ' ') + "00:11:22:33:44:1d piece\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expect_same_answers(c.text);
    }
    SCOPED_TRACE("no /etc/ethers at all");
    expect_same_answers(std::nullopt);
}

// Files put together at random from the pieces that parsers trip over, each compared whole.
TEST_F(EthersSnapshotTest, AnswersAsTheCLibraryForRandomFiles) {
    const std::vector<std::string> pieces = {"00:11:22:33:44:55",
                                             "0:1:2:3:4:5",
                                             "0a:0B:0c:0D:0e:0F",
                                             "0x1:2:3:4:5:6",
                                             "1:2:3",
                                             "100:0:0:0:0:0",
                                             "-0:1:2:3:4:5",
                                             "zz:1:2:3:4:5",
                                             " ",
                                             "\t",
                                             "  ",
                                             "#",
                                             "# note",
                                             "nas",
                                             "NAS",
                                             "NasBox",
                                             "pc1",
                                             "Pc1",
                                             "00:11:22:33:44:66",
                                             "\r",
                                             ":",
                                             "+",
                                             "x",
                                             "\xc3\x9c"};
    std::mt19937 random(20261211);
    for (int file = 0; file < 300; ++file) {
        std::string text;
        const int lines = 1 + static_cast<int>(random() % 10);
        for (int line = 0; line < lines; ++line) {
            const int parts = static_cast<int>(random() % 6);
            for (int part = 0; part < parts; ++part)
                text += pieces[random() % pieces.size()];
            if (line + 1 < lines || random() % 2 == 0) text += '\n';
        }
        SCOPED_TRACE("file " + std::to_string(file) + ": \"" + text + "\"");
        expect_same_answers(text);
        if (::testing::Test::HasFailure()) break;
    }
}

#if defined(__GLIBC__)
// A configuration that glibc refuses leaves it no source: the snapshot must not answer.
TEST_F(EthersSnapshotTest, GivesWayWhereTheSwitchIsBroken) {
    write_file("/etc/nsswitch.conf", "hosts: files [SOMETIMES=return]\nethers: files\n");
    write_file("/etc/ethers", "00:11:22:33:44:55 nas\n");
    const std::optional<EthersSnapshot> snapshot = ethers_snapshot_take();
    if (oracle("nas") == "-") {
        EXPECT_FALSE(snapshot.has_value());
    } else {
        ASSERT_TRUE(snapshot.has_value());
        EXPECT_EQ(answer(*snapshot, "nas"), oracle("nas"));
    }
}

#endif

TEST(EthersSnapshot, SwitchLinesThatLeaveTheAnswersToTheFile) {
    // Which services have a module that this table's system could load.
    const auto loadable = [](std::string_view service) {
        return service == "nis" || service == "dns" || service == "ldap";
    };
    struct Case {
        const char* what;
        std::optional<std::string_view> conf;
        bool from_files;
    };
    const Case cases[] = {
        {"no nsswitch.conf", std::nullopt, true},
        {"no ethers line", "hosts: files dns\npasswd: files\n", true},
        {"files", "ethers: files\n", true},
        {"files, blanks around", "  ethers:\tfiles  \n", true},
        {"no colon", "ethers files\n", true},
        {"db files, db not loadable", "ethers: db files\n", true},
        {"files db, db not loadable", "ethers: files db\n", true},
        {"files nis, nis loadable", "ethers: files nis\n", false},
        {"nis files, nis loadable", "ethers: nis files\n", false},
        {"files dns", "ethers: files dns\n", false},
        {"files with an action", "ethers: files [NOTFOUND=return]\n", false},
        {"an action without a blank", "ethers: db[NOTFOUND=return] files\n", false},
        {"no files", "ethers: db\n", false},
        {"no sources", "ethers:\n", false},
        {"only a name at the end of the file", "hosts: files\nethers", true},
        {"two ethers lines", "ethers: files\nethers: db files\n", false},
        {"another letter case is another database", "Ethers: nis\n", true},
        {"a comment line", "#ethers: nis\n", true},
        {"no comments after the sources: \"#\" and nis are sources", "ethers: files # nis\n",
         false},
        {"\"#\" and a word without a module", "ethers: files # note\n", true},
        {"a NUL ends the line", "ethers: files\0 nis\n"sv, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(nsswitch_ethers_from_files(c.conf, loadable), c.from_files);
    }
}

#if defined(__GLIBC__)
bool module_installed(const char* service) {
    void* handle = dlopen(("libnss_"s + service + ".so.2").c_str(), RTLD_LAZY);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
}

// The choice as this system makes it, where no module is installed for db and nis
// (Debian's default).
TEST_F(EthersSnapshotTest, TakenOnlyWhereTheFileAloneAnswers) {
    if (module_installed("db") || module_installed("nis")) {
        GTEST_SKIP() << "a db or nis module is installed here";
    }
    write_file("/etc/ethers", "00:11:22:33:44:55 nas\n");
    struct Case {
        const char* conf;  // null: no nsswitch.conf
        bool taken;
    };
    const Case cases[] = {
        {"ethers: files\n", true},     {"ethers: db files\n", true},
        {"ethers: files nis\n", true}, {"ethers: files [NOTFOUND=return]\n", false},
        {"hosts: files\n", true},      {nullptr, true},
        {"ethers: nis\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.conf ? c.conf : "no nsswitch.conf");
        std::remove("/etc/nsswitch.conf");
        if (c.conf) write_file("/etc/nsswitch.conf", c.conf);
        const std::optional<EthersSnapshot> snapshot = ethers_snapshot_take();
        EXPECT_EQ(snapshot.has_value(), c.taken);
        if (snapshot) {
            EXPECT_EQ(answer(*snapshot, "nas"), oracle("nas"));
        }
    }
}

// With a db module that glibc can load, every lookup is the C library's: the module's
// answers show where it has them, the file's elsewhere.
TEST_F(EthersSnapshotTest, TheProgramAsksTheCLibraryWhereAModuleAnswers) {
    write_file("/etc/ethers", "00:11:22:33:44:55 nas\n00:11:22:33:44:66 module-pc\n");
    write_file("/etc/nsswitch.conf", "ethers: db files\n");
    struct Case {
        bool with_module;
        const char* shown;
    };
    const Case cases[] = {
        {false, "nas (00:11:22:33:44:55). Done\nmodule-pc (00:11:22:33:44:66). Done\n"},
        {true, "nas (00:11:22:33:44:55). Done\nmodule-pc (ee:ee:ee:ee:ee:ee). Done\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.with_module ? "db module loadable" : "no db module");
        RunSpec spec;
        if (c.with_module) spec.env.emplace_back("LD_LIBRARY_PATH", TESK_FAKE_NSS_DIR);
        const Outcome run = run_tesk({"-n", "-v", "nas", "module-pc"}, spec);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out.substr(run.out.find("]\n") + 2), c.shown);
    }
}
#endif

// FreeBSD's reading, driven here by a parser with the contract of its ether_line (sscanf
// of six hex numbers and a word) in pieces of 32 bytes.
int bsd_ether_line(const char* line, MacAddress& mac, char* name) {
    unsigned o[6];
    if (std::sscanf(line, "%x:%x:%x:%x:%x:%x %s", &o[0], &o[1], &o[2], &o[3], &o[4], &o[5], name) !=
        7) {
        return -1;
    }
    for (int i = 0; i < 6; ++i)
        mac.bytes[i] = static_cast<std::uint8_t>(o[i]);
    return 0;
}

std::optional<EthersSnapshot> read_bsd(const std::string& text) {
    FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    std::optional<EthersSnapshot> snapshot = ethers_read_bsd(file, 32, bsd_ether_line);
    std::fclose(file);
    return snapshot;
}

TEST(EthersSnapshot, ReadsAsFreeBsdReads) {
    const std::optional<EthersSnapshot> snapshot = read_bsd(
        "00:11:22:33:44:55 nas\n"
        "0:1:2:3:4:5 NAS\n"
        "#0:1:2:3:4:6 comment\n"
        " #0:1:2:3:4:7 spaced\n"
        "0:1:2:3:4:8 nas\n"
        "0:1:2:3:4:9 toolongforonepiece  0:1:2:3:4:a piece\n"
        "0:1:2:3:4:b"s +
        std::string(20, ' ') + "#0:1:2:3:4:c hidden\n");
    ASSERT_TRUE(snapshot.has_value());
    struct Case {
        const char* name;
        const char* shown;
    };
    const Case cases[] = {
        {"nas", "00:11:22:33:44:55"},
        {"NAS", "00:01:02:03:04:05"},
        {"Nas", "-"},
        {"comment", "-"},
        {"spaced", "-"},
        {"toolongforonepiece", "00:01:02:03:04:09"},
        {"piece", "00:01:02:03:04:0a"},
        {"hidden", "-"},
        {"#0:1:2:3:4:c", "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(answer(*snapshot, c.name), c.shown);
    }
    EXPECT_FALSE(read_bsd("00:11:22:33:44:55 nas\n+\n").has_value());
    EXPECT_FALSE(read_bsd("0:1:2:3:4:9 toolongforonepiece +0:1:2:3:4:a\n").has_value());
}

}  // namespace
