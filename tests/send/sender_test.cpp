// Sending as the user sees it: the packets that reach a loopback sink, their order and
// delays, and the progress and debug texts.
#include <gtest/gtest.h>

#include <chrono>

#include "support/program.h"
#include "support/sink.h"

namespace {

using std::chrono::milliseconds;

constexpr const char* kMac = "00:11:22:33:44:55";

std::vector<std::string> to_sink(const Sink& sink, std::vector<std::string> args) {
    args.insert(args.begin(), {"-a", "127.0.0.1", "-p", sink.port_text()});
    return args;
}

long gap_ms(const Datagram& a, const Datagram& b) {
    return std::chrono::duration_cast<milliseconds>(b.when - a.when).count();
}

TEST(Sending, TheSampleTracesByteForByte) {
    Sink sink;
    TempDir dir;
    const std::string conf = dir.write(
        "c", gateway_to(sink) + "\nhost pc1 mac 00:11:22:33:44:55 via lan copies 2 delay 1s\n");
    const Outcome debug = run_tesk({"-d", "-f", conf, "pc1"});
    EXPECT_EQ(debug.status, 0);
    EXPECT_EQ(debug.out, "");
    const std::string via = "127.0.0.1:" + sink.port_text();
    EXPECT_EQ(debug.err,
              "[pc1 (00:11:22:33:44:55)]\n"
              "Sending packet 1/2 via " +
                  via +
                  "\n"
                  "(Sleeping 1s)\n"
                  "Sending packet 2/2 via " +
                  via + "\n");
    const auto got = sink.collect();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].bytes, magic_packet(kMac));
    EXPECT_EQ(got[1].bytes, magic_packet(kMac));
    EXPECT_GE(gap_ms(got[0], got[1]), 900);

    const Outcome verbose = run_tesk({"-v", "-t", "1ms", "-f", conf, "pc1"});
    EXPECT_EQ(verbose.status, 0);
    EXPECT_EQ(verbose.out.substr(verbose.out.find("]\n") + 2), "pc1 (00:11:22:33:44:55).. Done\n");
    EXPECT_EQ(verbose.err, "");
    EXPECT_EQ(sink.collect().size(), 2u);
}

TEST(Sending, DebugThreeDumpsThePacketWithItsSecret) {
    Sink sink;
    const Outcome run = run_tesk(to_sink(sink, {"-ddd", "-s", "1.2.3.4", "aa:bb:cc:dd:ee:ff"}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err,
              "[aa:bb:cc:dd:ee:ff (aa:bb:cc:dd:ee:ff) with secret 1.2.3.4]\n"
              "UDP Packet:\n"
              "\tFF:FF:FF:FF:FF:FF:AA:BB:CC:DD:EE:FF:AA:BB:CC:DD\n"
              "\tEE:FF:AA:BB:CC:DD:EE:FF:AA:BB:CC:DD:EE:FF:AA:BB\n"
              "\tCC:DD:EE:FF:AA:BB:CC:DD:EE:FF:AA:BB:CC:DD:EE:FF\n"
              "\tAA:BB:CC:DD:EE:FF:AA:BB:CC:DD:EE:FF:AA:BB:CC:DD\n"
              "\tEE:FF:AA:BB:CC:DD:EE:FF:AA:BB:CC:DD:EE:FF:AA:BB\n"
              "\tCC:DD:EE:FF:AA:BB:CC:DD:EE:FF:AA:BB:CC:DD:EE:FF\n"
              "\tAA:BB:CC:DD:EE:FF:01:02:03:04\n"
              "Sending packet 1/1 via 127.0.0.1:" +
                  sink.port_text() + "\n");
    const auto got = sink.collect();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, magic_packet("aa:bb:cc:dd:ee:ff", "\x01\x02\x03\x04"));
}

TEST(Sending, PacketSizesFollowTheSecret) {
    Sink sink;
    const std::string longest(64, 'k');
    const struct {
        std::string secret;
        std::string trailer;
    } cases[] = {
        {"", ""},
        {longest, longest},
        {"de:ad:be:ef:01", "\xde\xad\xbe\xef\x01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.secret);
        const Outcome run = run_tesk(to_sink(sink, {"-s", c.secret, kMac}));
        EXPECT_EQ(run.status, 0);
        const auto got = sink.collect();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].bytes.size(), 102 + c.trailer.size());
        EXPECT_EQ(got[0].bytes, magic_packet(kMac, c.trailer));
    }
}

TEST(Sending, CopiesAndDelaysRestartForEveryTarget) {
    if (!isolated()) GTEST_SKIP() << "needs a hosts file of its own";
    // "both" resolves to 127.0.0.1 and ::1: one gateway with two targets.
    const EtcOverlay etc(EtcFiles{{"hosts", "127.0.0.1 both\n::1 both\n"}});
    Sink four("127.0.0.1");
    Sink six("::1", four.port);
    TempDir dir;
    const std::string conf =
        dir.write("c", "gateway both address both port " + four.port_text() +
                           " copies 3 delay 200ms\nhost pc1 mac 00:11:22:33:44:55 via both\n");
    const Outcome run = run_tesk({"-d", "-f", conf, "pc1"});
    EXPECT_EQ(run.status, 0);
    const auto got4 = four.collect();
    const auto got6 = six.collect();
    ASSERT_EQ(got4.size(), 3u);
    ASSERT_EQ(got6.size(), 3u);
    // The targets stand in the reverse of the resolver's order; either way each gets all
    // its copies, with sleeps between them only, before the next target gets any.
    const auto& first = got4[0].when < got6[0].when ? got4 : got6;
    const auto& second = got4[0].when < got6[0].when ? got6 : got4;
    EXPECT_LT(first[2].when, second[0].when);
    EXPECT_GE(gap_ms(first[0], first[1]), 180);
    EXPECT_GE(gap_ms(first[1], first[2]), 180);
    EXPECT_LT(gap_ms(first[2], second[0]), 150);
    std::size_t sleeps = 0;
    for (std::size_t at = run.err.find("(Sleeping 200ms)\n"); at != std::string::npos;
         at = run.err.find("(Sleeping 200ms)\n", at + 1)) {
        ++sleeps;
    }
    EXPECT_EQ(sleeps, 4u);
}

TEST(Sending, CopyCountSources) {
    Sink sink;
    TempDir dir;
    const std::string conf = dir.write("c", gateway_to(sink) +
                                                " copies 2\nhost a mac 00:00:00:00:00:0a via lan\n"
                                                "host b mac 00:00:00:00:00:0b via lan copies 3\n"
                                                "host c mac 00:00:00:00:00:0c\n");
    const struct {
        std::vector<std::string> args;
        std::size_t sent;
    } cases[] = {
        {{"a"}, 2},             // the gateway's count
        {{"b"}, 3},             // the host's own
        {{"-c", "0", "b"}, 2},  // 0 is written into the host: the gateway's count applies
        {{"-c", "5x", "a"}, 5},
        {{"-g", "lan", "c"}, 2},
        {{"-p", sink.port_text(), "-a", "127.0.0.1", "c"}, 1},  // no count anywhere: one copy
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-f", conf};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(args.back());
        const Outcome run = run_tesk(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(sink.collect().size(), c.sent);
    }
}

TEST(Sending, GroupsWakeMembersInOrderWithDelaysBetween) {
    Sink sink;
    TempDir dir;
    const std::string conf =
        dir.write("c", gateway_to(sink) +
                           "\n[night]\ndelay 250ms\nhost b mac 00:00:00:00:00:0b\nhost a mac "
                           "00:00:00:00:00:0a\nhost c mac 00:00:00:00:00:0c\n");
    const Outcome run = run_tesk({"-f", conf, "-g", "lan", "night"});
    EXPECT_EQ(run.status, 0);
    const auto got = sink.collect(milliseconds(600));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].bytes, magic_packet("00:00:00:00:00:0b"));
    EXPECT_EQ(got[1].bytes, magic_packet("00:00:00:00:00:0a"));
    EXPECT_EQ(got[2].bytes, magic_packet("00:00:00:00:00:0c"));
    EXPECT_GE(gap_ms(got[0], got[1]), 230);
    EXPECT_GE(gap_ms(got[1], got[2]), 230);

    // -T replaces every group's delay; "all" holds the hosts in the order they were named.
    const Outcome fast = run_tesk({"-f", conf, "-g", "lan", "-T", "1ms", "-d", "all"});
    EXPECT_EQ(fast.status, 0);
    EXPECT_NE(fast.err.find("(Sleeping 1ms)\n"), std::string::npos);
    EXPECT_EQ(sink.collect().size(), 3u);
}

TEST(Sending, SecretsAndDelaysFromHostGatewayOrCommandLine) {
    Sink sink;
    TempDir dir;
    const std::string conf =
        dir.write("c", gateway_to(sink) +
                           " secret 1.2.3.4 delay 300ms copies 2\n"
                           "host own mac 00:00:00:00:00:01 via lan secret aa:bb:cc delay 1ms\n"
                           "host plain mac 00:00:00:00:00:02 via lan\n");
    const struct {
        std::vector<std::string> args;
        std::string trailer;
        long min_gap, max_gap;
    } cases[] = {
        {{"own"}, "\xaa\xbb\xcc", 0, 150},
        {{"plain"}, "\x01\x02\x03\x04", 280, 10000},
        {{"-s", "", "plain"}, "\x01\x02\x03\x04", 280, 10000},  // empty: the gateway's applies
        {{"-s", "text", "-t", "2ms", "own"}, "text", 0, 150},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-f", conf};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(args.back() + " " + c.trailer);
        EXPECT_EQ(run_tesk(args).status, 0);
        const auto got = sink.collect();
        ASSERT_EQ(got.size(), 2u);
        const std::string mac = args.back() == "own" ? "00:00:00:00:00:01" : "00:00:00:00:00:02";
        EXPECT_EQ(got[0].bytes, magic_packet(mac, c.trailer));
        EXPECT_EQ(got[1].bytes, got[0].bytes);
        EXPECT_GE(gap_ms(got[0], got[1]), c.min_gap);
        EXPECT_LE(gap_ms(got[0], got[1]), c.max_gap);
    }
}

TEST(Sending, AFailingMemberStopsItsGroupButNotTheNextName) {
    Sink sink;
    TempDir dir;
    const std::string conf = dir.write("c",
                                       "[g]\nhost a mac 00:00:00:00:00:0a\nhost nomac\nhost c mac "
                                       "00:00:00:00:00:0c\n");
    const Outcome run = run_tesk(to_sink(sink, {"-i", "-f", conf, "g", "00:00:00:00:00:0d"}));
    EXPECT_EQ(run.status, 0);
    const auto got = sink.collect();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].bytes, magic_packet("00:00:00:00:00:0a"));
    EXPECT_EQ(got[1].bytes, magic_packet("00:00:00:00:00:0d"));
}

TEST(Sending, GatewayOverrideAndNamesOfGateways) {
    Sink lan, lab;
    TempDir dir;
    const std::string conf = dir.write(
        "c",
        gateway_to(lan) + "\n" + gateway_to(lab, "lab") +
            "\nhost pc1 mac 00:00:00:00:00:01 via lan\nhost pc2 mac 00:00:00:00:00:02 via lab\n");
    // A gateway's name wakes the hosts linked to it.
    EXPECT_EQ(run_tesk({"-f", conf, "lab"}).status, 0);
    EXPECT_TRUE(lan.collect().empty());
    ASSERT_EQ(lab.collect().size(), 1u);
    // -g sends through the named gateway whatever the host's own.
    EXPECT_EQ(run_tesk({"-f", conf, "-g", "lab", "pc1", "pc2"}).status, 0);
    EXPECT_TRUE(lan.collect().empty());
    EXPECT_EQ(lab.collect().size(), 2u);
    // -p replaces the port of every gateway.
    EXPECT_EQ(run_tesk({"-f", conf, "-p", lan.port_text(), "pc2"}).status, 0);
    EXPECT_EQ(lan.collect().size(), 1u);
}

TEST(Sending, NoSendShowsEverythingButSends) {
    Sink sink;
    const Outcome run = run_tesk(to_sink(sink, {"-n", "-v", "-c", "2", kMac}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.substr(run.out.find("]\n") + 2),
              std::string(kMac) + " (" + kMac + ").. Done\n");
    EXPECT_TRUE(sink.collect().empty());
}

TEST(Sending, EthersNamesWinOverTheTextOfAnAddress) {
    if (!isolated()) GTEST_SKIP() << "needs a mount namespace of its own for /etc/ethers";
    const EtcOverlay etc(
        EtcFiles{{"ethers", "00:11:22:33:44:66 nas\n00:11:22:33:44:77 00:11:22:33:44:55\n"},
                 {"nsswitch.conf", "hosts: files\nethers: files\n"}});
    Sink sink;
    const Outcome run = run_tesk(to_sink(sink, {"nas", kMac, "00:11:22:33:44:88"}));
    EXPECT_EQ(run.status, 0) << run.err;
    const auto got = sink.collect();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].bytes, magic_packet("00:11:22:33:44:66"));
    EXPECT_EQ(got[1].bytes, magic_packet("00:11:22:33:44:77"));
    EXPECT_EQ(got[2].bytes, magic_packet("00:11:22:33:44:88"));
}

}  // namespace
