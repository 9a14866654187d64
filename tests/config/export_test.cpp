// The printed configuration, compared whole: both forms of the sample, the empty
// configuration, the rules that leave parts out, and reading the plain form back.
#include <gtest/gtest.h>

#include "support/program.h"
#include "support/samples.h"

namespace {

const char* const kSamplePlain =
    "; tesk configuration\n"
    "\n"
    "; Gateways:\n"
    "gateway default address 255.255.255.255\n"
    "gateway office address 192.168.10.255 port 9 delay 1s\n"
    "gateway lab address 192.168.20.255 copies 3\n"
    "\n"
    "; Hosts:\n"
    "host nas mac 00:11:22:33:44:55\n"
    "host printer mac 00:11:22:33:44:66\n"
    "host pc1 mac 00:11:22:33:44:77\n"
    "host pc2 mac 00:11:22:33:44:88 copies 5\n"
    "\n"
    "; Groups:\n"
    "[office]\n"
    "delay 2s\n"
    "host pc1\n"
    "host pc2\n"
    "\n"
    "[lab]\n"
    "host nas\n"
    "\n"
    "[night]\n"
    "host pc1\n"
    "host nas\n";

const char* const kSampleVerbose =
    "Gateway default:\n"
    "  Copies      2\n"
    "  Targets:\n"
    "    1         255.255.255.255:7\n"
    "Gateway office:\n"
    "  Delay       1s\n"
    "  Targets:\n"
    "    1         192.168.10.255:9\n"
    "Gateway lab:\n"
    "  Copies      3\n"
    "  Targets:\n"
    "    1         192.168.20.255:7\n"
    "\n"
    "Host nas:\n"
    "  MAC         00:11:22:33:44:55\n"
    "  Gateway     lab\n"
    "Host printer:\n"
    "  MAC         00:11:22:33:44:66\n"
    "Host pc1:\n"
    "  MAC         00:11:22:33:44:77\n"
    "  Gateway     office\n"
    "Host pc2:\n"
    "  MAC         00:11:22:33:44:88\n"
    "  Gateway     office\n"
    "  Copies      5\n"
    "\n"
    "Hostgroup all:\n"
    "  Hosts:\n"
    "     1        nas\n"
    "     2        printer\n"
    "     3        pc1\n"
    "     4        pc2\n"
    "Hostgroup office:\n"
    "  Delay       2s\n"
    "  Hosts:\n"
    "     1        pc1\n"
    "     2        pc2\n"
    "Hostgroup lab:\n"
    "  Hosts:\n"
    "     1        nas\n"
    "Hostgroup night:\n"
    "  Hosts:\n"
    "     1        pc1\n"
    "     2        nas\n";

const char* const kEmpty =
    "; tesk configuration\n\n; Gateways:\ngateway default address 255.255.255.255\n\n"
    "; Hosts:\n\n; Groups:\n";

// The export of `conf` with `args` before -e; its text after the banner when verbose.
std::string exported(const std::string& conf, std::vector<std::string> args = {}) {
    TempDir dir;
    args.insert(args.end(), {"-f", dir.write("c", conf), "-e"});
    const Outcome run = run_tesk(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const bool verbose = std::find(args.begin(), args.end(), "-v") != args.end();
    return verbose ? run.out.substr(run.out.find("]\n") + 2) : run.out;
}

TEST(Export, TheSampleInBothForms) {
    EXPECT_EQ(exported(kSampleConfig), kSamplePlain);
    EXPECT_EQ(exported(kSampleConfig, {"-v"}), kSampleVerbose);
}

TEST(Export, TheEmptyConfiguration) {
    EXPECT_EQ(exported(""), kEmpty);
    EXPECT_EQ(
        exported("", {"-v"}),
        "Gateway default:\n  Copies      1\n  Targets:\n    1         255.255.255.255:7\n\n\n");
}

TEST(Export, PartsEqualToTheDefaultGatewaysAreLeftOut) {
    const std::string conf =
        "copies 3\ndelay 5ms\nsecret 1.2.3.4\naddress 127.0.0.1\n"
        "gateway same address 127.0.0.1 port 7 copies 3 delay 5ms secret 1.2.3.4\n"
        "gateway other address 127.0.0.1 port 8 copies 4 delay 6ms secret 1.2.3.5\n"
        "gateway 127.0.0.5\n";
    EXPECT_EQ(exported(conf),
              "; tesk configuration\n\n; Gateways:\n"
              "gateway default address 127.0.0.1\n"
              "gateway same address 127.0.0.1\n"
              "gateway other address 127.0.0.1 port 8 copies 4 delay 6ms secret 1.2.3.5\n"
              "gateway 127.0.0.5\n\n"
              "; Hosts:\n\n; Groups:\n");
}

TEST(Export, ViaOnlyWhereNoGroupBearsTheGatewaysName) {
    const std::string conf =
        "gateway lan address 127.0.0.1\n"
        "gateway old address 127.0.0.2\nname moved\n"
        "host a mac 00:00:00:00:00:0a via lan\n"
        "host b mac 00:00:00:00:00:0b via moved copies 2 delay 250ms secret aa:bb\n"
        "host nomac\n";
    EXPECT_EQ(exported(conf),
              "; tesk configuration\n\n; Gateways:\n"
              "gateway default address 255.255.255.255\n"
              "gateway lan address 127.0.0.1\n"
              "gateway moved address 127.0.0.2\n\n"
              "; Hosts:\n"
              "host a mac 00:00:00:00:00:0a\n"
              "host b mac 00:00:00:00:00:0b via moved copies 2 delay 250ms secret aa:bb\n"
              "host nomac mac 00:00:00:00:00:00\n\n"
              "; Groups:\n"
              "[lan]\nhost a\n");
    EXPECT_EQ(exported(conf, {"-v"}).substr(exported(conf, {"-v"}).find("Host b:")),
              "Host b:\n"
              "  MAC         00:00:00:00:00:0b\n"
              "  Gateway     moved\n"
              "  Copies      2\n"
              "  Delay       250ms\n"
              "  Secret      aa:bb\n"
              "Host nomac:\n"
              "  MAC         00:00:00:00:00:00\n"
              "\n"
              "Hostgroup all:\n  Hosts:\n     1        a\n     2        b\n     3        nomac\n"
              "Hostgroup lan:\n  Hosts:\n     1        a\n");
}

TEST(Export, PortOverrideShowsInTheTargetsOnlyAndHostDelayEverywhere) {
    const std::string conf =
        "gateway lan address 127.0.0.1 port 9\n[g]\nhost a mac 00:00:00:00:00:0a\n";
    EXPECT_EQ(exported(conf, {"-p", "4000", "-T", "1.5"}),
              "; tesk configuration\n\n; Gateways:\n"
              "gateway default address 255.255.255.255\n"
              "gateway lan address 127.0.0.1 port 9\n\n"
              "; Hosts:\nhost a mac 00:00:00:00:00:0a\n\n"
              "; Groups:\n[g]\ndelay 1.5s\nhost a\n");
    EXPECT_EQ(exported(conf, {"-v", "-p", "4000", "-T", "1.5"}),
              "Gateway default:\n  Copies      1\n  Targets:\n    1         255.255.255.255:4000\n"
              "Gateway lan:\n  Targets:\n    1         127.0.0.1:4000\n\n"
              "Host a:\n  MAC         00:00:00:00:00:0a\n\n"
              "Hostgroup all:\n  Delay       1.5s\n  Hosts:\n     1        a\n"
              "Hostgroup g:\n  Delay       1.5s\n  Hosts:\n     1        a\n");
}

TEST(Export, WinsOverTheDaemon) {
    TempDir dir;
    const Outcome run = run_tesk({"-D", "-F", "-A", "127.0.0.1", "-P", "1", "-e"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kEmpty);
}

TEST(Export, ThePlainFormReadsBackToTheSameText) {
    // Within what the plain form keeps: delays under a minute, secrets that are not
    // printable text and not one byte long, no port, count, delay or secret on "default",
    // and no gateway renamed away from its group (the export then writes " via").
    const std::string rich =
        "gateway lan address 127.0.0.1 port 4000 copies 2 delay 1.5s secret 01:02:03:04:05:06\n"
        "gateway lab address 127.0.0.2 secret 10.20.30.40\n"
        "gateway 127.0.0.9\n"
        "host a mac 00:00:00:00:00:0a via lan copies 4\n"
        "host b mac 00:00:00:00:00:0b via lan delay 2.5ms secret de:ad:be:ef:00:ff:1f\n"
        "host c mac 00:00:00:00:00:0c\n"
        "host d\n"
        "[lab]\nhost c\nhost b\n"
        "[night]\ndelay 250us\nhost d\nhost a\nhost c\n";
    const std::string first = exported(rich);
    EXPECT_EQ(exported(first), first);
    EXPECT_EQ(exported(first, {"-v"}), exported(rich, {"-v"}));
}

TEST(Export, WhatDoesNotReadBack) {
    TempDir dir;
    // A delay of a minute or more is written in a form the reader refuses.
    const std::string minute = exported("host a mac 00:00:00:00:00:0a delay 90\n");
    EXPECT_NE(minute.find("host a mac 00:00:00:00:00:0a delay 1m+30s\n"), std::string::npos);
    const std::string path = dir.write("minute", minute);
    const Outcome back = run_tesk({"-f", path, "-e"});
    EXPECT_EQ(back.status, 1);
    EXPECT_EQ(back.err, "tesk: " + path + "#7: 1m+30s: Invalid value for delay (rc=-1)\n");
    // A printable secret carries its text, which the reader takes for a keyword.
    const std::string text = exported("host a mac 00:00:00:00:00:0a secret password\n");
    EXPECT_NE(text.find("host a mac 00:00:00:00:00:0a secret 70:61:73:73:77:6f:72:64 (password)\n"),
              std::string::npos);
    const std::string printable = dir.write("printable", text);
    const Outcome again = run_tesk({"-f", printable, "-e"});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "tesk: " + printable + "#7: (password): Invalid option\n");
}

}  // namespace
