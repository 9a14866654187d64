// The command line as a user meets it: usage, banner, option syntax, the failure
// table and names from standard input.
#include <gtest/gtest.h>

#include <regex>

#include <sys/socket.h>

#include "support/program.h"
#include "support/sink.h"

namespace {

const char* const kUsage =
    "Usage: tesk [<options>] [<host|group> [.. <host|group>]]\n"
    "\n"
    "Options:\n"
    "  -h           Display this information\n"
    "  -v           Increase verbosity\n"
    "  -d           Increase debug level\n"
    "  -i           Ignore errors\n"
    "  -n           Toggle \"no\" send mode\n"
    "  -e           Export configuration\n"
    "  -f <path>    Configuration file\n"
    "\n"
    "  -g <name>    Destination gateway\n"
    "  -a <addr>    Destination address\n"
    "  -p <port>    Destination port\n"
    "  -t <time>    Inter-packet delay\n"
    "  -T <time>    Inter-host delay\n"
    "  -c <count>   Packet copies to send\n"
    "  -s <secret>  Force WoL secret\n"
    "\n"
    "  -D           Run as proxy daemon\n"
    "  -F           Run proxy daemon in foreground\n"
    "  -A <addr>    Proxy daemon listen address\n"
    "  -P <port>    Proxy daemon listen port\n"
    "  -S <secret>  Proxy daemon secret\n"
    "\n"
    "If no hosts/groups specified on the command line tesk will read them from stdin\n";

const std::regex kBanner(
    R"(\[tesk 1\.5\.2 \((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-9]{4} )"
    R"([0-2][0-9]:[0-5][0-9]:[0-5][0-9]\) - the tesk developers\]
)");

constexpr const char* kMac = "00:11:22:33:44:55";

TEST(Usage, HelpPrintsTheWholeUsageAndEndsTheOptions) {
    for (const char* help : {"-h", "-hx", "-vh"}) {
        SCOPED_TRACE(help);
        const Outcome run = run_tesk({help, kMac});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, kUsage);
        EXPECT_EQ(run.err, "");
    }
}

TEST(Usage, AnUnknownLetterStopsBeforeAnythingAfterIt) {
    const Outcome run = run_tesk({"-xh"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "tesk: -x: Invalid switch\n");
}

TEST(Banner, VersionPrintsTheBannerOnceEvenWithVerbose) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"-V"}, {"-v", "-V"}, {"-vV"}}) {
        const Outcome run = run_tesk(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(std::regex_match(run.out, kBanner)) << run.out;
    }
}

TEST(Banner, VerboseWritesItOnceBeforeTheRunMode) {
    const Outcome run = run_tesk({"-v", "-e"});
    EXPECT_EQ(run.status, 0);
    const std::string first_line = run.out.substr(0, run.out.find('\n') + 1);
    EXPECT_TRUE(std::regex_match(first_line, kBanner)) << run.out;
    EXPECT_EQ(run.out.find("[tesk", 1), std::string::npos);
}

// Option syntax, seen through the names that reach send_name: with -n nothing is sent
// and -v shows each name woken.
struct SyntaxCase {
    std::vector<std::string> args;
    std::string out;
};

TEST(Syntax, LettersValuesAndTheEndOfOptions) {
    TempDir dir;
    const std::string conf = dir.write("v", "host pc1 mac 00:11:22:33:44:01\n");
    const std::vector<SyntaxCase> cases = {
        // A lone "-" is skipped; pc1 is the first name.
        {{"-vn", "-", kMac}, std::string(kMac) + " (" + kMac + "). Done\n"},
        // "-fv x": the file v is loaded and x is the first name.
        {{"-n", "-v", "-f" + conf, "pc1"}, "pc1 (00:11:22:33:44:01). Done\n"},
        // Everything after the first name is a name: "-v" here is a name that fails.
        {{"-nvi", kMac, "-v"}, std::string(kMac) + " (" + kMac + "). Done\n"},
        // "-v-" counts -v and ends the options; "-x" is then a name.
        {{"-n", "-iv-", "-x", kMac}, std::string(kMac) + " (" + kMac + "). Done\n"},
        // A value letter takes the next argument whatever it begins with.
        {{"-nv", "-c", "-3", "-i", kMac}, ""},
        {{"-nv", "-c2", kMac}, std::string(kMac) + " (" + kMac + ").. Done\n"},
    };
    for (const SyntaxCase& c : cases) {
        std::string joined;
        for (const auto& arg : c.args)
            joined += arg + " ";
        SCOPED_TRACE(joined);
        const Outcome run = run_tesk(c.args);
        std::string out = run.out;
        const std::size_t banner_end = out.find("]\n");
        ASSERT_NE(banner_end, std::string::npos) << out;
        EXPECT_EQ(out.substr(banner_end + 2), c.out);
    }
}

TEST(Syntax, ValueLetterLastTakesTheEmptyText) {
    // -a with no value: the empty address, which resolves for no gateway.
    const Outcome run = run_tesk({"-n", "-a"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tesk:  port 7: Invalid target\n");
}

TEST(Syntax, NoSendTogglesAndTwiceSendsAgain) {
    Sink sink;
    const Outcome once = run_tesk({"-n", "-a", "127.0.0.1", "-p", sink.port_text(), kMac});
    EXPECT_EQ(once.status, 0);
    EXPECT_TRUE(sink.collect().empty());
    const Outcome twice = run_tesk({"-nn", "-a", "127.0.0.1", "-p", sink.port_text(), kMac});
    EXPECT_EQ(twice.status, 0);
    EXPECT_EQ(sink.collect().size(), 1u);
}

TEST(Syntax, DaemonLettersWithoutDaemonModeHaveNoEffect) {
    Sink sink;
    const Outcome run = run_tesk({"-F", "-A", "bad address", "-P", "x", "-S", std::string(80, 's'),
                                  "-a", "127.0.0.1", "-p", sink.port_text(), kMac});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(sink.collect().size(), 1u);
}

// The failure table of start-up and of the name loops.
TEST(Failures, UnresolvableGatewayStopsEveryRunModeEvenUnused) {
    TempDir dir;
    // A service name that no services file knows fails at once, with no lookup on the network.
    const std::string conf = dir.write("c", "gateway lab address 127.0.0.1 port no-such-service\n");
    for (const char* mode : {"-e", "-n"}) {
        SCOPED_TRACE(mode);
        const Outcome run = run_tesk({mode, "-f", conf, kMac});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "tesk: 127.0.0.1 port no-such-service: Invalid target\n");
    }
}

TEST(Failures, AFailingNameOnTheCommandLine) {
    const Outcome stops = run_tesk({"-n", "nosuchhost", kMac});
    EXPECT_EQ(stops.status, 1);
    EXPECT_EQ(stops.err, "tesk: nosuchhost: Sending WoL packet failed: Invalid argument\n");

    Sink sink;
    const Outcome ignored =
        run_tesk({"-i", "-a", "127.0.0.1", "-p", sink.port_text(), "nosuchhost", kMac});
    EXPECT_EQ(ignored.status, 0);
    EXPECT_EQ(ignored.err, "");
    EXPECT_EQ(sink.collect().size(), 1u);
}

TEST(Failures, OverridesThatCannotBeRead) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"-n", "-T", "abc", kMac}, 1, "tesk: -T abc: Invalid value\n"},
        {{"-n", "-T", "-2", kMac}, 1, "tesk: -T -2: Invalid value\n"},
        {{"-n", "-T", "-0.5", kMac}, 1, "tesk: -T -0.5: Invalid value\n"},
        {{"-n", "-t", "-0.5", kMac},
         1,
         std::string("tesk: ") + kMac + ": Sending WoL packet failed: Invalid argument\n"},
        {{"-e", "-T", "5sx"}, 1, "tesk: -T 5sx: Invalid value\n"},
        {{"-n", "-c", "x", kMac},
         1,
         std::string("tesk: ") + kMac + ": Sending WoL packet failed: Invalid argument\n"},
        {{"-n", "-c", "-1", kMac},
         1,
         std::string("tesk: ") + kMac + ": Sending WoL packet failed: Invalid argument\n"},
        {{"-n", "-c", "2147483648", kMac},
         1,
         std::string("tesk: ") + kMac + ": Sending WoL packet failed: Invalid argument\n"},
        {{"-n", "-t", "", kMac},
         1,
         std::string("tesk: ") + kMac + ": Sending WoL packet failed: Invalid argument\n"},
        {{"-n", "-s", std::string(65, 'x'), kMac},
         1,
         std::string("tesk: ") + kMac + ": Sending WoL packet failed: Invalid argument\n"},
        {{"-n", "-g", "nowhere", kMac},
         1,
         std::string("tesk: ") + kMac + ": Sending WoL packet failed: Invalid argument\n"},
        // Unresolvable gateways are reported before the -T value.
        {{"-n", "-p", "no-such-service", "-T", "abc", kMac},
         1,
         "tesk: 255.255.255.255 port no-such-service: Invalid target\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        const Outcome run = run_tesk(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
    }
}

TEST(Failures, DaemonSecretThatCannotBeReadComesAfterTheBanner) {
    const Outcome run =
        run_tesk({"-D", "-F", "-v", "-A", "127.0.0.1", "-P", "0", "-S", std::string(65, 'k')});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(std::regex_match(run.out, kBanner)) << run.out;
    EXPECT_EQ(run.err, "tesk: -S " + std::string(65, 'k') + ": Invalid value\n");
}

// Names from standard input.
TEST(StandardInput, TokensCommentsAndFailures) {
    Sink sink;
    const std::vector<std::string> args = {"-v", "-a", "127.0.0.1", "-p", sink.port_text()};
    RunSpec spec;
    spec.input =
        "  00:11:22:33:44:01\t00:11:22:33:44:02 ; 00:11:22:33:44:03\n"
        "# 00:11:22:33:44:04\n"
        "\n"
        "00:11:22:33:44:05#00:11:22:33:44:06\n";
    const Outcome run = run_tesk(args, spec);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const auto got = sink.collect();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].bytes, magic_packet("00:11:22:33:44:01"));
    EXPECT_EQ(got[1].bytes, magic_packet("00:11:22:33:44:02"));
    EXPECT_EQ(got[2].bytes, magic_packet("00:11:22:33:44:05"));

    spec.input = "bad1 00:11:22:33:44:07\nbad2\n";
    const Outcome stops = run_tesk(args, spec);
    EXPECT_EQ(stops.status, 1);
    EXPECT_EQ(stops.err, "tesk: bad1: Sending WoL packet failed: Invalid argument\n");
    EXPECT_TRUE(sink.collect().empty());

    std::vector<std::string> ignoring = args;
    ignoring.insert(ignoring.begin(), "-i");
    const Outcome goes_on = run_tesk(ignoring, spec);
    EXPECT_EQ(goes_on.status, 0);
    EXPECT_EQ(goes_on.err,
              "tesk: bad1: Sending WoL packet failed: Invalid argument\n"
              "tesk: bad2: Sending WoL packet failed: Invalid argument\n");
    EXPECT_EQ(sink.collect().size(), 1u);
}

TEST(StandardInput, ALongLineIsReadWholeAndNoNameIsSplit) {
    Sink sink;
    TempDir dir;
    // A host whose name is 100 characters long: split at 79 it would be two unknown names.
    const std::string name(100, 'h');
    const std::string conf = dir.write("c", "host " + name + " mac 00:11:22:33:44:09\n");
    RunSpec spec;
    spec.input = name + "\n";
    const Outcome run = run_tesk({"-f", conf, "-a", "127.0.0.1", "-p", sink.port_text()}, spec);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const auto got = sink.collect();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, magic_packet("00:11:22:33:44:09"));
}

TEST(StandardInput, TheEndOfOptionsLeavesNoNames) {
    Sink sink;
    RunSpec spec;
    spec.input = std::string(kMac) + "\n";
    const Outcome run = run_tesk({"-a", "127.0.0.1", "-p", sink.port_text(), "--"}, spec);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(sink.collect().size(), 1u);
}

TEST(StandardInput, PromptsOnlyOnATerminal) {
    RunSpec terminal;
    terminal.terminal_input = true;
    const Outcome prompted = run_tesk({"-n"}, terminal);
    EXPECT_EQ(prompted.status, 0);
    EXPECT_EQ(prompted.err, "[Enter hosts or groups to send WoL packet to, end with EOF]\n");

    RunSpec piped;
    piped.input = "";
    const Outcome quiet = run_tesk({"-n"}, piped);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
}

// The configuration files that start-up reads by itself.
TEST(DefaultFiles, HomeFileIsReadAndAMissingHomeIsPassedOver) {
    TempDir home;
    home.write(".teskrc", "host pc1 mac 00:11:22:33:44:0a\n");
    RunSpec with_home;
    with_home.home = home.path;
    EXPECT_NE(run_tesk({"-e"}, with_home).out.find("host pc1 mac 00:11:22:33:44:0a\n"),
              std::string::npos);

    RunSpec without_home;
    without_home.home = "";
    const Outcome run = run_tesk({"-e"}, without_home);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

TEST(DefaultFiles, SystemFileFirstThenHomeThenMinusF) {
    if (!isolated()) GTEST_SKIP() << "needs root for a private system configuration directory";
    TempDir home, dir;
    FILE* system = std::fopen(system_config_path().c_str(), "w");
    ASSERT_NE(system, nullptr);
    std::fputs("gateway lab address 127.0.0.1 port 9\nhost pc1 mac 00:11:22:33:44:01\n", system);
    std::fclose(system);
    home.write(".teskrc", "host pc1 copies 3\nport 1234\n");
    const std::string extra = dir.write("extra", "host pc2 mac 00:11:22:33:44:02 via lab\n");
    RunSpec spec;
    spec.home = home.path;
    const Outcome run = run_tesk({"-f", extra, "-e"}, spec);
    EXPECT_EQ(run.status, 0);
    // The home file's port for "default" was reset when the -f file was read.
    EXPECT_EQ(run.out,
              "; tesk configuration\n\n; Gateways:\n"
              "gateway default address 255.255.255.255\n"
              "gateway lab address 127.0.0.1 port 9\n\n"
              "; Hosts:\n"
              "host pc1 mac 00:11:22:33:44:01 copies 3\n"
              "host pc2 mac 00:11:22:33:44:02\n\n"
              "; Groups:\n"
              "[lab]\nhost pc2\n");
    std::remove(system_config_path().c_str());
}

TEST(DefaultFiles, ASyntaxErrorInADefaultFileStopsEvenHelp) {
    TempDir home;
    home.write(".teskrc", "\nbogus 1\n");
    RunSpec spec;
    spec.home = home.path;
    const Outcome run = run_tesk({"-h"}, spec);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "tesk: " + home.path + "/.teskrc#2: bogus: Invalid option\n");
}

TEST(DefaultFiles, MinusFLoadsAtItsPlaceSoOnlyAnEarlierDebugTracesIt) {
    TempDir dir;
    const std::string conf = dir.write("c", "[g] x\nhost pc1 mac 00:11:22:33:44:01\n");
    const Outcome before = run_tesk({"-ddd", "-f", conf, "-e"});
    EXPECT_EQ(before.status, 0);
    EXPECT_EQ(before.err, "[Parsing config: " + conf +
                              "]\nGot: [g] x\n[Switching hostgroup to g]\n"
                              "Got: host pc1\nGot: mac 00:11:22:33:44:01\n");
    const Outcome two = run_tesk({"-dd", "-f", conf, "-e"});
    EXPECT_EQ(two.err, "[Parsing config: " + conf +
                           "]\nGot: [g] x\nGot: host pc1\nGot: mac 00:11:22:33:44:01\n");
    const Outcome after = run_tesk({"-f", conf, "-ddd", "-e"});
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(after.err, "");
    // A file that cannot be opened is passed over without a word.
    const Outcome missing = run_tesk({"-f", dir.path + "/none", "-f", dir.path, "-e"});
    EXPECT_EQ(missing.status, 0);
    EXPECT_EQ(missing.err, "");
    EXPECT_EQ(missing.out, run_tesk({"-e"}).out);
}

TEST(DefaultDestination, TheLimitedBroadcastOnPort7) {
    if (!isolated()) GTEST_SKIP() << "needs a network namespace of its own to broadcast";
    Sink sink("0.0.0.0", 7);
    int on = 1;
    setsockopt(sink.fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const Outcome run = run_tesk({"-d", kMac});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, std::string("[") + kMac + " (" + kMac +
                           ")]\nSending packet 1/1 via 255.255.255.255:7\n");
    const auto got = sink.collect();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, magic_packet(kMac));
}

}  // namespace
