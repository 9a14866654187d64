#include "config/reader.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/registry.h"
#include "frontend/options.h"
#include "frontend/startup.h"
#include "support/program.h"
#include "support/samples.h"

namespace {

class ReaderTest : public testing::Test {
  protected:
    void SetUp() override {
        registry = Registry{};
        options = Options{};
        ASSERT_EQ(startup_records(), 0);
    }
};

// Reads `text` as the file "test.conf".
int read_text(const std::string& text, std::string& error) {
    std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (in == nullptr) {
        // fmemopen refuses a buffer of no bytes.
        in = std::tmpfile();
        if (in == nullptr) return -2;
    }
    const int result = config_read(in, "test.conf", error);
    std::fclose(in);
    return result;
}

std::string or_dash(const std::optional<std::string>& text) {
    return text ? *text : "-";
}

std::string delay_text(const Duration& delay) {
    return std::to_string(delay.tv_sec) + "/" + std::to_string(delay.tv_nsec);
}

std::string secret_text(const Secret& secret) {
    if (secret.length == 0) return "-";
    std::string text;
    char byte[3];
    for (std::size_t i = 0; i < secret.length; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", secret.bytes[i]);
        text += byte;
    }
    return text;
}

std::string mac_of(const MacAddress& mac) {
    char text[18];
    const auto& b = mac.bytes;
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4],
                  b[5]);
    return text;
}

// Every record of the registries, one line each, in list order.
std::string describe() {
    std::string text;
    for (const Gateway& g : registry.gateways) {
        text += "gateway " + (g.name ? *g.name : "(nameless)") + " address " + or_dash(g.address) +
                " port " + or_dash(g.port) + " copies " + std::to_string(g.copies) + " delay " +
                delay_text(g.delay) + " secret " + secret_text(g.secret) + "\n";
    }
    for (const Host& h : registry.hosts) {
        std::string via = "-";
        if (h.gateway != nullptr) via = h.gateway->name ? *h.gateway->name : "(nameless)";
        text += "host " + h.name + " mac " + mac_of(h.mac) + " via " + via + " copies " +
                std::to_string(h.copies) + " delay " + delay_text(h.delay) + " secret " +
                secret_text(h.secret) + "\n";
    }
    for (const HostGroup& group : registry.hostgroups) {
        text += "group " + group.name + " delay " + delay_text(group.delay) + ":";
        for (const Host* member : group.members)
            text += " " + member->name;
        text += "\n";
    }
    return text;
}

TEST_F(ReaderTest, SampleFile) {
    std::string error;
    ASSERT_EQ(read_text(kSampleConfig, error), 0) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(describe(),
              "gateway default address 255.255.255.255 port 7 copies 2 delay 0/0 secret -\n"
              "gateway office address 192.168.10.255 port 9 copies 0 delay 1/0 secret -\n"
              "gateway lab address 192.168.20.255 port - copies 3 delay 0/0 secret -\n"
              "host nas mac 00:11:22:33:44:55 via lab copies 0 delay 0/0 secret -\n"
              "host printer mac 00:11:22:33:44:66 via - copies 0 delay 0/0 secret -\n"
              "host pc1 mac 00:11:22:33:44:77 via office copies 0 delay 0/0 secret -\n"
              "host pc2 mac 00:11:22:33:44:88 via office copies 5 delay 0/0 secret -\n"
              "group default delay 0/0:\n"
              "group all delay 0/0: nas printer pc1 pc2\n"
              "group office delay 2/0: pc1 pc2\n"
              "group lab delay 0/0: nas\n"
              "group night delay 0/0: pc1 nas\n");
    // The links are to the records themselves.
    EXPECT_EQ(host_find("nas")->gateway, gateway_find("lab"));
    EXPECT_EQ(host_find("pc1")->gateway, gateway_find("office"));
    EXPECT_EQ(registry.default_gateway, gateway_find("default"));
    EXPECT_EQ(registry.all_group, hostgroup_find("all"));
    EXPECT_EQ(hostgroup_find("night")->members[1], host_find("nas"));
    EXPECT_EQ(host_find("00:11:22:33:44:66"), nullptr);
}

constexpr const char* kDefault =
    "gateway default address 255.255.255.255 port 7 copies 1 delay 0/0 secret -\n";

struct ContextCase {
    const char* what;
    std::vector<std::string> files;  // read one after the other
    std::string expected;            // describe() afterwards
};

TEST_F(ReaderTest, ReadingContext) {
    const std::string base_groups = "group default delay 0/0:\ngroup all delay 0/0:\n";
    const ContextCase cases[] = {
        {"empty file", {""}, kDefault + base_groups},
        {"comments and blank lines only",
         {"; comment\n\n   \t\n# other\n   ; more\n"},
         kDefault + base_groups},
        {"the current host lasts to the end of its line",
         {"host pc1 copies 2\ncopies 3\n"},
         "gateway default address 255.255.255.255 port 7 copies 3 delay 0/0 secret -\n"
         "host pc1 mac 00:00:00:00:00:00 via - copies 2 delay 0/0 secret -\n"
         "group default delay 0/0:\n"
         "group all delay 0/0: pc1\n"},
        {"a host takes every keyword of its line",
         {"gateway office\n"
          "host a name b mac 00:11:22:33:44:55 via office copies 3 secret 1.2.3.4 delay 1.5s\n"},
         std::string(kDefault) +
             "gateway office address office port - copies 0 delay 0/0 secret -\n"
             "host b mac 00:11:22:33:44:55 via office copies 3 delay 1/500000000 secret 01020304\n"
             "group default delay 0/0:\n"
             "group all delay 0/0: b\n"
             "group office delay 0/0: b\n"},
        {"gateway ends the current host, and the current gateway is no host's gateway",
         {"gateway office copies 2 host a copies 3 gateway lab copies 4\n"},
         std::string(kDefault) +
             "gateway office address office port - copies 2 delay 0/0 secret -\n"
             "gateway lab address lab port - copies 4 delay 0/0 secret -\n"
             "host a mac 00:00:00:00:00:00 via - copies 3 delay 0/0 secret -\n"
             "group default delay 0/0:\n"
             "group all delay 0/0: a\n"
             "group office delay 0/0:\n"
             "group lab delay 0/0:\n"},
        {"the section gateway goes only to hosts without a gateway",
         {"gateway office\ngateway lab\nhost a via lab\n[office]\nhost a\nhost b\n"},
         std::string(kDefault) +
             "gateway office address office port - copies 0 delay 0/0 secret -\n"
             "gateway lab address lab port - copies 0 delay 0/0 secret -\n"
             "host a mac 00:00:00:00:00:00 via lab copies 0 delay 0/0 secret -\n"
             "host b mac 00:00:00:00:00:00 via office copies 0 delay 0/0 secret -\n"
             "group default delay 0/0:\n"
             "group all delay 0/0: a b\n"
             "group office delay 0/0: a b\n"
             "group lab delay 0/0: a\n"},
        {"a section without a gateway of its name has no section gateway",
         {"gateway office\n[office]\n[night]\nhost c\n"},
         std::string(kDefault) +
             "gateway office address office port - copies 0 delay 0/0 secret -\n"
             "host c mac 00:00:00:00:00:00 via - copies 0 delay 0/0 secret -\n"
             "group default delay 0/0:\n"
             "group all delay 0/0: c\n"
             "group office delay 0/0:\n"
             "group night delay 0/0: c\n"},
        {"a host named in two sections joins both, once each",
         {"[g1]\nhost a\n[g2]\nhost a\nhost a\n"},
         std::string(kDefault) + "host a mac 00:00:00:00:00:00 via - copies 0 delay 0/0 secret -\n"
                                 "group default delay 0/0:\n"
                                 "group all delay 0/0: a\n"
                                 "group g1 delay 0/0: a\n"
                                 "group g2 delay 0/0: a\n"},
        {"address and port in a section change the current gateway, not the section's",
         {"gateway office\ngateway lab\n[office]\naddress 192.0.2.1\nport 9\nhost a\n"},
         std::string(kDefault) +
             "gateway office address office port - copies 0 delay 0/0 secret -\n"
             "gateway lab address 192.0.2.1 port 9 copies 0 delay 0/0 secret -\n"
             "host a mac 00:00:00:00:00:00 via office copies 0 delay 0/0 secret -\n"
             "group default delay 0/0:\n"
             "group all delay 0/0: a\n"
             "group office delay 0/0: a\n"
             "group lab delay 0/0:\n"},
        {"address and port in a section of a file without gateways",
         {"[g]\naddress 192.0.2.7\nport 99\n"},
         "gateway default address 192.0.2.7 port 99 copies 1 delay 0/0 secret -\n" + base_groups +
             "group g delay 0/0:\n"},
        {"delay: the group's without a host, the host's on a host line",
         {"[g]\ndelay 2s\nhost a delay 500ms\n"},
         std::string(kDefault) +
             "host a mac 00:00:00:00:00:00 via - copies 0 delay 0/500000000 secret -\n"
             "group default delay 0/0:\n"
             "group all delay 0/0: a\n"
             "group g delay 2/0: a\n"},
        {"the token after a section header is its value, the next a keyword",
         {"gateway office\n[office] x delay 2s\n"},
         std::string(kDefault) +
             "gateway office address office port - copies 0 delay 0/0 secret -\n" + base_groups +
             "group office delay 2/0:\n"},
        {"[] opens a section with the empty name",
         {"[] ignored\nhost a\n"},
         std::string(kDefault) + "host a mac 00:00:00:00:00:00 via - copies 0 delay 0/0 secret -\n"
                                 "group default delay 0/0:\n"
                                 "group all delay 0/0: a\n"
                                 "group  delay 0/0: a\n"},
        {"gateway without a name makes a new nameless gateway current",
         {"gateway\naddress 192.0.2.1\nport 9\ngateway\n"},
         std::string(kDefault) +
             "gateway (nameless) address 192.0.2.1 port 9 copies 0 delay 0/0 secret -\n"
             "gateway (nameless) address - port - copies 0 delay 0/0 secret -\n" +
             base_groups},
        {"name on the first line renames the gateway default",
         {"name main\ncopies 3\n"},
         "gateway main address 255.255.255.255 port 7 copies 3 delay 0/0 secret -\n" + base_groups},
        {"a later file starts with the renamed default gateway",
         {"name main\n", "copies 4\naddress 192.0.2.3\n"},
         "gateway main address 192.0.2.3 port 7 copies 4 delay 0/0 secret -\n" + base_groups},
        {"every file starts afresh: no section, the default gateway current",
         {"gateway office\n[office]\nhost a\n", "copies 6\ngateway lab\nhost b\ncopies 5\n"},
         "gateway default address 255.255.255.255 port 7 copies 6 delay 0/0 secret -\n"
         "gateway office address office port - copies 0 delay 0/0 secret -\n"
         "gateway lab address lab port - copies 5 delay 0/0 secret -\n"
         "host a mac 00:00:00:00:00:00 via office copies 0 delay 0/0 secret -\n"
         "host b mac 00:00:00:00:00:00 via - copies 0 delay 0/0 secret -\n"
         "group default delay 0/0:\n"
         "group all delay 0/0: a b\n"
         "group office delay 0/0: a\n"
         "group lab delay 0/0:\n"},
        {"a later file names the records of an earlier one",
         {"gateway office\nhost a\n", "gateway office copies 2\n[office]\nhost a copies 3\n"},
         std::string(kDefault) +
             "gateway office address office port - copies 2 delay 0/0 secret -\n"
             "host a mac 00:00:00:00:00:00 via office copies 3 delay 0/0 secret -\n"
             "group default delay 0/0:\n"
             "group all delay 0/0: a\n"
             "group office delay 0/0: a\n"},
        {"copies 3x stores 3",
         {"copies 3x\n"},
         "gateway default address 255.255.255.255 port 7 copies 3 delay 0/0 secret -\n" +
             base_groups},
        {"via a renamed gateway links the host but joins no group",
         {"gateway office name lab\nhost a via lab\n"},
         std::string(kDefault) +
             "gateway lab address office port - copies 0 delay 0/0 secret -\n"
             "host a mac 00:00:00:00:00:00 via lab copies 0 delay 0/0 secret -\n"
             "group default delay 0/0:\n"
             "group all delay 0/0: a\n"
             "group office delay 0/0:\n"},
        {"tabs, CR LF line ends and comments inside words",
         {"copies\t4\r\n\t\tgateway  office ; comment\r\nhost pc1#x\r\n"},
         "gateway default address 255.255.255.255 port 7 copies 4 delay 0/0 secret -\n"
         "gateway office address office port - copies 0 delay 0/0 secret -\n"
         "host pc1 mac 00:00:00:00:00:00 via - copies 0 delay 0/0 secret -\n"
         "group default delay 0/0:\n"
         "group all delay 0/0: pc1\n"
         "group office delay 0/0:\n"},
        {"secrets and delays on the current gateway",
         {"secret 61:62 delay 250ms\ngateway office secret abc\n"},
         "gateway default address 255.255.255.255 port 7 copies 1 delay 0/250000000 secret 6162\n"
         "gateway office address office port - copies 0 delay 0/0 secret 616263\n" +
             base_groups + "group office delay 0/0:\n"},
        {"a host created from a MAC text",
         {"host 00:11:22:33:44:66 copies 2\nhost 00:11:22:33:44:66 name printer\n"},
         std::string(kDefault) +
             "host printer mac 00:11:22:33:44:66 via - copies 2 delay 0/0 secret -\n"
             "group default delay 0/0:\n"
             "group all delay 0/0: printer\n"},
    };
    for (const ContextCase& c : cases) {
        SCOPED_TRACE(c.what);
        registry = Registry{};
        ASSERT_EQ(startup_records(), 0);
        for (const std::string& file : c.files) {
            std::string error;
            EXPECT_EQ(read_text(file, error), 0);
            EXPECT_EQ(error, "");
        }
        EXPECT_EQ(describe(), c.expected);
    }
}

TEST_F(ReaderTest, LongLinesAreReadWhole) {
    const std::string name(3000, 'n');
    std::string error;
    ASSERT_EQ(read_text("host " + name + " copies 2\n; " + std::string(5000, 'c') +
                            "\ncopies 7\nhost x" + std::string(2100, 'x') + " copies 3",
                        error),
              0)
        << error;
    ASSERT_EQ(registry.hosts.size(), 2u);
    EXPECT_EQ(registry.hosts[0].name, name);
    EXPECT_EQ(registry.hosts[0].copies, 2u);
    EXPECT_EQ(registry.hosts[1].name, "x" + std::string(2100, 'x'));
    EXPECT_EQ(registry.hosts[1].copies, 3u);
    EXPECT_EQ(registry.default_gateway->copies, 7u);
}

struct BadCase {
    std::string text;
    std::string message;  // whole, after "tesk: test.conf#"
};

TEST_F(ReaderTest, BadLines) {
    const std::string raw65(65, 's');
    const BadCase cases[] = {
        // Line numbers count blank and comment lines, and long lines once.
        {"copies\n", "1: (null): Invalid value for copies (rc=-1)\n"},
        {"\n; comment\n   # another\n\t\ncopies x\n", "5: x: Invalid value for copies (rc=-1)\n"},
        {"; " + std::string(3000, 'c') + "\ncopies x\n",
         "2: x: Invalid value for copies (rc=-1)\n"},
        {"copies 3\r\ncopies y\r\n", "2: y: Invalid value for copies (rc=-1)\n"},
        {"copies 1\n\n\ncopies 2\nfrob", "5: frob: Invalid option\n"},
        // Unknown keywords, matched exactly.
        {"frobnicate 1\n", "1: frobnicate: Invalid option\n"},
        {"Copies 2\n", "1: Copies: Invalid option\n"},
        {"host a mac 00:11:22:33:44:55 bogus\n", "1: bogus: Invalid option\n"},
        {"host a frob\n", "1: frob: Invalid option\n"},
        {"[\n", "1: [: Invalid option\n"},
        {"[x\n", "1: [x: Invalid option\n"},
        {"x]\n", "1: x]: Invalid option\n"},
        {"gateway office\n[office] delay 2s\n", "2: 2s: Invalid option\n"},
        // The current host does not carry over to the next line.
        {"host pc1\nmac 00:11:22:33:44:55\n", "2: mac: Invalid option\n"},
        // Keywords that their context refuses, judged before the value.
        {"mac 00:11:22:33:44:55\n", "1: mac: Invalid option\n"},
        {"via default\n", "1: via: Invalid option\n"},
        {"via\n", "1: via: Invalid option\n"},
        {"[g]\nname x\n", "2: name: Invalid option\n"},
        {"[g]\nname\n", "2: name: Invalid option\n"},
        {"[g]\ncopies 3\n", "2: copies: Invalid option\n"},
        {"[g]\ncopies\n", "2: copies: Invalid option\n"},
        {"[g]\nsecret x\n", "2: secret: Invalid option\n"},
        {"[g]\nmac 00:11:22:33:44:55\n", "2: mac: Invalid option\n"},
        {"[g]\nvia default\n", "2: via: Invalid option\n"},
        {"host a address 192.0.2.1\n", "1: address: Invalid option\n"},
        {"host a port 9\n", "1: port: Invalid option\n"},
        {"[g]\nhost a port\n", "2: port: Invalid option\n"},
        // Gateways cannot follow a section header of the same file, with or without a name.
        {"[g]\n\ngateway x\n", "3: Can not define gateways in groups\n"},
        {"[g]\ngateway\n", "2: Can not define gateways in groups\n"},
        {"[] x\ngateway office\n", "2: Can not define gateways in groups\n"},
        {"gateway office\n[office]\nhost a\n[lab] x\ngateway lab\n",
         "5: Can not define gateways in groups\n"},
        {"host\n", "1: (null): Invalid host name\n"},
        {"host a copies 1 host\n", "1: (null): Invalid host name\n"},
        // Missing values.
        {"name\n", "1: (null): Invalid value for name (rc=-1)\n"},
        {"address\n", "1: (null): Invalid value for address (rc=-1)\n"},
        {"port\n", "1: (null): Invalid value for port (rc=-1)\n"},
        {"secret\n", "1: (null): Invalid value for secret (rc=-1)\n"},
        {"delay\n", "1: (null): Invalid value for delay (rc=-1)\n"},
        {"gateway office copies\n", "1: (null): Invalid value for copies (rc=-1)\n"},
        {"host a name\n", "1: (null): Invalid value for name (rc=-1)\n"},
        {"host a mac\n", "1: (null): Invalid value for mac (rc=-1)\n"},
        {"host a via\n", "1: (null): Invalid value for via (rc=-1)\n"},
        {"host a copies\n", "1: (null): Invalid value for copies (rc=-1)\n"},
        {"host a secret\n", "1: (null): Invalid value for secret (rc=-1)\n"},
        {"host a delay\n", "1: (null): Invalid value for delay (rc=-1)\n"},
        {"[g]\ndelay\n", "2: (null): Invalid value for delay (rc=-1)\n"},
        {"[g]\naddress\n", "2: (null): Invalid value for address (rc=-1)\n"},
        {"[g]\nport\n", "2: (null): Invalid value for port (rc=-1)\n"},
        // Values that their operation rejects, with its result.
        {"copies x\n", "1: x: Invalid value for copies (rc=-1)\n"},
        {"copies 2147483648\n", "1: 2147483648: Invalid value for copies (rc=-1)\n"},
        {"copies 99999999999999999999\n",
         "1: 99999999999999999999: Invalid value for copies (rc=-1)\n"},
        {"host a copies -1\n", "1: -1: Invalid value for copies (rc=-1)\n"},
        {"host a copies 1 host b copies x\n", "1: x: Invalid value for copies (rc=-1)\n"},
        {"delay 1sx\n", "1: 1sx: Invalid value for delay (rc=-1)\n"},
        {"delay nan\n", "1: nan: Invalid value for delay (rc=-1)\n"},
        {"delay 1e30ms\n", "1: 1e30ms: Invalid value for delay (rc=-1)\n"},
        {"delay -5\n", "1: -5: Invalid value for delay (rc=-5)\n"},
        {"delay -0.5\n", "1: -0.5: Invalid value for delay (rc=-1)\n"},
        {"host a delay -1us\n", "1: -1us: Invalid value for delay (rc=-1)\n"},
        {"[g]\ndelay -1.5m\n", "2: -1.5m: Invalid value for delay (rc=-90)\n"},
        {"host a delay -2h\n", "1: -2h: Invalid value for delay (rc=-7200)\n"},
        {"secret " + raw65 + "\n", "1: " + raw65 + ": Invalid value for secret (rc=-1)\n"},
        {"host a secret " + raw65 + "\n", "1: " + raw65 + ": Invalid value for secret (rc=-1)\n"},
        {"host a mac nothex\n", "1: nothex: Invalid value for mac (rc=-1)\n"},
        {"host a mac 00:11:22:33:44\n", "1: 00:11:22:33:44: Invalid value for mac (rc=-1)\n"},
        {"host a via nowhere\n", "1: nowhere: Invalid value for via (rc=-1)\n"},
        {"gateway\nhost a via office\n", "2: office: Invalid value for via (rc=-1)\n"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.text);
        registry = Registry{};
        ASSERT_EQ(startup_records(), 0);
        std::string error;
        EXPECT_EQ(read_text(c.text, error), -1);
        EXPECT_EQ(error, "tesk: test.conf#" + c.message);
    }
}

TEST_F(ReaderTest, MessagesNameTheProgramAndThePath) {
    options.program_name = "/usr/local/bin/tesk";
    std::FILE* in = fmemopen(const_cast<char*>("\ncopies\n"), 8, "r");
    ASSERT_NE(in, nullptr);
    std::string error;
    EXPECT_EQ(config_read(in, "/home/me/.teskrc", error), -1);
    std::fclose(in);
    EXPECT_EQ(error,
              "/usr/local/bin/tesk: /home/me/.teskrc#2: (null): Invalid value for copies "
              "(rc=-1)\n");
}

TEST_F(ReaderTest, AFaultKeepsWhatTheLinesBeforeItMade) {
    std::string error;
    EXPECT_EQ(read_text("copies 4\nhost a copies 2 via nowhere copies 9\nhost b\n", error), -1);
    EXPECT_EQ(error, "tesk: test.conf#2: nowhere: Invalid value for via (rc=-1)\n");
    EXPECT_EQ(describe(),
              "gateway default address 255.255.255.255 port 7 copies 4 delay 0/0 secret -\n"
              "host a mac 00:00:00:00:00:00 via - copies 2 delay 0/0 secret -\n"
              "group default delay 0/0:\n"
              "group all delay 0/0: a\n");

    // A failed via clears a gateway that the host had.
    registry = Registry{};
    ASSERT_EQ(startup_records(), 0);
    EXPECT_EQ(read_text("gateway office\nhost a via office via nowhere\n", error), -1);
    EXPECT_EQ(host_find("a")->gateway, nullptr);
    EXPECT_EQ(hostgroup_find("office")->count(), 1u);
}

// Reads `text` at the given debug level and returns what went to standard error.
std::string trace_of(const std::string& text, int debug) {
    options.debug = debug;
    registry = Registry{};
    EXPECT_EQ(startup_records(), 0);
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_text(text, error), 0);
    return testing::internal::GetCapturedStderr();
}

TEST_F(ReaderTest, Traces) {
    const std::string text =
        "copies 2\n"
        "; comment\n"
        "gateway office\n"
        "[office]\n"
        "host pc1 delay 1s\n"
        "[night] x\n"
        "delay\t 5ms ; comment\n";
    EXPECT_EQ(trace_of(text, 0), "");
    EXPECT_EQ(trace_of(text, 1), "");
    const std::string level2 =
        "Got: copies 2\n"
        "Got: gateway office\n"
        "Got: [office] \n"
        "Got: host pc1\n"
        "Got: delay 1s\n"
        "Got: [night] x\n"
        "Got: delay 5ms\n";
    EXPECT_EQ(trace_of(text, 2), level2);
    const std::string level3 =
        "Got: copies 2\n"
        "Got: gateway office\n"
        "Got: [office] \n"
        "[Switching hostgroup to office]\n"
        "Got: host pc1\n"
        "Got: delay 1s\n"
        "Got: [night] x\n"
        "[Switching hostgroup to night]\n"
        "Got: delay 5ms\n";
    EXPECT_EQ(trace_of(text, 3), level3);
    EXPECT_EQ(trace_of(text, 4), level3);
    EXPECT_EQ(trace_of("[]\n", 3), "Got: [] \n[Switching hostgroup to ]\n");
    EXPECT_EQ(trace_of("gateway\n", 2), "Got: gateway \n");
}

TEST_F(ReaderTest, TraceStopsAtTheFault) {
    options.debug = 3;
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_text("copies 2 [g] x\ncopies x name y\n", error), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Got: copies 2\nGot: [g] x\n[Switching hostgroup to g]\nGot: copies x\n");
    EXPECT_EQ(error, "tesk: test.conf#2: copies: Invalid option\n");
}

class LoadTest : public ReaderTest {
  protected:
    TempDir dir;
};

TEST_F(LoadTest, MissingFileResetsTheDefaultGateway) {
    Gateway& gateway = *registry.default_gateway;
    gateway.address = "192.0.2.9";
    gateway.port = "99";
    gateway.copies = 3;
    const std::string missing = dir.path + "/missing.conf";
    errno = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_load(missing.c_str()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(gateway.address, "255.255.255.255");
    EXPECT_EQ(gateway.port, "7");
    EXPECT_EQ(gateway.copies, 3u);
}

TEST_F(LoadTest, ADirectoryIsPassedOverLikeAFileThatCannotBeOpened) {
    errno = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_load(dir.path.c_str()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(errno, EISDIR);
}

TEST_F(LoadTest, EveryFileResetsAddressAndPortOnly) {
    Gateway& gateway = *registry.default_gateway;
    const std::string first = dir.write("first.conf", "address 192.0.2.1\nport 9\ncopies 3\n");
    const std::string second =
        dir.write("second.conf", "delay 1s secret 1.2.3.4\ngateway office address 192.0.2.2\n");
    EXPECT_EQ(config_load(first.c_str()), 0);
    EXPECT_EQ(gateway.address, "192.0.2.1");
    EXPECT_EQ(gateway.port, "9");
    EXPECT_EQ(config_load(second.c_str()), 0);
    EXPECT_EQ(describe(),
              "gateway default address 255.255.255.255 port 7 copies 3 delay 1/0 secret 01020304\n"
              "gateway office address 192.0.2.2 port - copies 0 delay 0/0 secret -\n"
              "group default delay 0/0:\n"
              "group all delay 0/0:\n"
              "group office delay 0/0:\n");
    // Only the default gateway is reset.
    const std::string missing = dir.path + "/missing.conf";
    EXPECT_EQ(config_load(missing.c_str()), -1);
    EXPECT_EQ(gateway_find("office")->address, "192.0.2.2");
}

TEST_F(LoadTest, RenamedDefaultGatewayIsStillReset) {
    const std::string first = dir.write("first.conf", "name main\naddress 192.0.2.1\nport 9\n");
    const std::string second = dir.write("second.conf", "copies 5\n");
    EXPECT_EQ(config_load(first.c_str()), 0);
    EXPECT_EQ(registry.default_gateway->address, "192.0.2.1");
    EXPECT_EQ(config_load(second.c_str()), 0);
    EXPECT_EQ(describe(),
              "gateway main address 255.255.255.255 port 7 copies 5 delay 0/0 secret -\n"
              "group default delay 0/0:\n"
              "group all delay 0/0:\n");
    registry.default_gateway->address = "192.0.2.1";
    const std::string missing = dir.path + "/missing.conf";
    EXPECT_EQ(config_load(missing.c_str()), -1);
    EXPECT_EQ(registry.default_gateway->address, "255.255.255.255");
    EXPECT_EQ(registry.default_gateway->port, "7");
}

TEST_F(LoadTest, TracesAtDebugTwo) {
    const std::string path = dir.write("t.conf", "copies 2\n");
    const std::string missing = dir.path + "/missing.conf";
    options.debug = 2;
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_load(path.c_str()), 0);
    EXPECT_EQ(config_load(missing.c_str()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[Parsing config: " + path + "]\nGot: copies 2\n[Parsing config: " + missing + "]\n");
    options.debug = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_load(path.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

std::string regex_quoted(const std::string& text) {
    std::string quoted;
    for (char c : text) {
        if (std::string_view(".[]()*+?{}|^$\\").find(c) != std::string_view::npos) quoted += '\\';
        quoted += c;
    }
    return quoted;
}

TEST_F(LoadTest, AFaultEndsTheProcess) {
    const std::string path = dir.write("bad.conf", "copies 2\n\ncopies x\n");
    EXPECT_EXIT(
        config_load(path.c_str()), testing::ExitedWithCode(1),
        "^" + regex_quoted("tesk: " + path + "#3: x: Invalid value for copies (rc=-1)\n") + "$");
}

}  // namespace
