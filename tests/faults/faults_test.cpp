// The whole program under injected system-call failures: the interposer (interpose.c)
// is preloaded into the real binary, and each test compares what the program writes,
// sends and returns with what it must do when a sleep, a send, a wait or a receive is
// interrupted or refused, when a configuration path cannot be read, and when its
// standard streams are full or closed.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using harness::Bytes;
using harness::Launch;
using harness::Result;
using harness::Stream;
using namespace std::chrono_literals;

constexpr std::uint8_t kPc1[6] = {0x02, 0, 0, 0, 0, 0x01};
constexpr std::uint8_t kPc2[6] = {0x02, 0, 0, 0, 0, 0x02};
constexpr const char* kWaiting = "(Waiting for messages on 1 FDs)\n";

using Faults = std::map<std::string, std::string>;

// The debug dump of a datagram: a tab, then 16 bytes a line as "%02X" joined by ':'.
std::string dump(const Bytes& bytes) {
    std::string text = "\t";
    char hex[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) text += i % 16 == 0 ? "\n\t" : ":";
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        text += hex;
    }
    return text + "\n";
}

std::uint64_t fnv1a(const Bytes& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (std::uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3u;
    }
    return hash;
}

std::string hash_text(const Bytes& bytes) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(fnv1a(bytes)));
    return text;
}

std::vector<std::string> repeat(const std::string& line, int times) {
    return std::vector<std::string>(static_cast<std::size_t>(times), line);
}

std::vector<std::string> join(std::vector<std::string> first,
                              const std::vector<std::string>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

// Whether the preloaded interposer reaches the program at all: a statically linked C
// library, for one, would let every call past it.
bool interposer_works() {
    static const bool works = [] {
        harness::TempDir dir;
        const std::string log = dir.path() + "/probe.log";
        Launch probe;
        probe.program = TESK_BINARY;
        probe.args = {"-f", dir.path() + "/none.conf", "-h"};
        probe.env = {"HOME=" + dir.path(), std::string("LD_PRELOAD=") + TESK_INTERPOSER,
                     "TESK_FAULT_LOG=" + log};
        const Result result = harness::run(probe);
        return result.exited && harness::read_file(log).find("fopen ") != std::string::npos;
    }();
    return works;
}

class FaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
#if defined(TESK_FAULTS_SANITIZED)
        GTEST_SKIP() << "skipped: this build runs under AddressSanitizer, whose runtime must "
                        "come first in the preload list; run the fault tests in a plain build";
#endif
        if (!interposer_works()) {
            GTEST_SKIP() << "skipped: the preloaded interposer does not reach the program "
                            "(a statically linked C library?)";
        }
        harness::become_subreaper();
        log_ = dir_.path() + "/faults.log";
        syslog_ = dir_.path() + "/syslog";
        std::string config = "; every gateway ends at the test's sink\n";
        config += "address 127.0.0.1\nport " + std::to_string(sink_.port()) + "\n";
        config += "host pc1 mac 02:00:00:00:00:01\nhost pc2 mac 02:00:00:00:00:02\n";
        config += "[office]\ndelay 200ms\nhost pc1\nhost pc2\n";
        config_ = dir_.write("hosts.conf", config);
    }

    // The program with the configuration, the sink as every destination, and `faults`.
    Launch sender(const std::vector<std::string>& args, const Faults& faults = {}) const {
        Launch launch = plain(faults);
        launch.args = {"-f", config_, "-a", "127.0.0.1", "-p", std::to_string(sink_.port())};
        launch.args.insert(launch.args.end(), args.begin(), args.end());
        return launch;
    }

    Launch plain(const Faults& faults = {}) const {
        Launch launch;
        launch.program = TESK_BINARY;
        // The system log is caught in a file, never written.
        launch.env = {"HOME=" + dir_.path(), std::string("LD_PRELOAD=") + TESK_INTERPOSER,
                      "TESK_FAULT_LOG=" + log_, "TESK_FAULT_SYSLOG=" + syslog_};
        // The machine's own system-wide file, if it has one, is kept out of every run.
        Faults all = faults;
        std::string& refused = all["FOPEN_EACCES"];
        refused += (refused.empty() ? "" : ":") + std::string(TESK_SYSTEM_CONFIG);
        for (const auto& [name, value] : all)
            launch.env.push_back("TESK_FAULT_" + name + "=" + value);
        return launch;
    }

    std::string sink_text() const {
        return "127.0.0.1:" + std::to_string(sink_.port());
    }

    // The interposer's lines for one call, such as "sendto".
    std::vector<std::string> log_lines(const std::string& call) const {
        std::vector<std::string> lines;
        std::istringstream log(harness::read_file(log_));
        for (std::string line; std::getline(log, line);) {
            if (line.rfind(call + " ", 0) == 0) lines.push_back(line);
        }
        return lines;
    }

    std::string banner() const {
        Launch launch = plain();
        launch.args = {"-V"};
        return harness::run(launch).out;
    }

    // The sink gets exactly `expected`, and nothing after it for a moment.
    void expect_datagrams(const std::vector<Bytes>& expected) {
        std::vector<Bytes> got = sink_.receive(expected.size(), 5000ms);
        for (Bytes& more : sink_.drain(200ms))
            got.push_back(std::move(more));
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i], expected[i]) << "datagram " << i;
    }

    harness::TempDir dir_;
    harness::UdpSink sink_;
    std::string log_;
    std::string syslog_;
    std::string config_;
};

void expect_exit(const Result& result, int status) {
    EXPECT_FALSE(result.timed_out) << "the program did not end by itself";
    EXPECT_TRUE(result.exited) << "ended by signal " << result.signal;
    EXPECT_EQ(result.status, status);
}

TEST_F(FaultTest, InterruptedSleepGoesOnWithTheTimeLeft) {
    const Bytes pc1 = harness::magic_packet(kPc1);
    const Bytes pc2 = harness::magic_packet(kPc2);
    const std::string via = "via " + sink_text() + "\n";
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int interruptions;
        std::string err;
        std::vector<std::string> sleeps;
        std::vector<Bytes> sent;
    };
    const Case cases[] = {
        {"between copies",
         {"-d", "-c", "2", "-t", "200ms", "pc1"},
         1,
         "[pc1 (02:00:00:00:00:01)]\nSending packet 1/2 " + via +
             "(Sleeping 200ms)\n(Sleeping 100ms more)\nSending packet 2/2 " + via,
         {"nanosleep 0.200000000 -> EINTR rem 0.100000000", "nanosleep 0.100000000 -> 0"},
         {pc1, pc1}},
        {"between copies, again and again",
         {"-d", "-c", "2", "-t", "200ms", "pc1"},
         3,
         "[pc1 (02:00:00:00:00:01)]\nSending packet 1/2 " + via +
             "(Sleeping 200ms)\n(Sleeping 100ms more)\n(Sleeping 50ms more)\n"
             "(Sleeping 25ms more)\nSending packet 2/2 " +
             via,
         {"nanosleep 0.200000000 -> EINTR rem 0.100000000",
          "nanosleep 0.100000000 -> EINTR rem 0.050000000",
          "nanosleep 0.050000000 -> EINTR rem 0.025000000", "nanosleep 0.025000000 -> 0"},
         {pc1, pc1}},
        {"between the members of a group",
         {"-d", "office"},
         1,
         "[pc1 (02:00:00:00:00:01)]\nSending packet 1/1 " + via +
             "(Sleeping 200ms)\n(Sleeping 100ms more)\n[pc2 (02:00:00:00:00:02)]\n"
             "Sending packet 1/1 " +
             via,
         {"nanosleep 0.200000000 -> EINTR rem 0.100000000", "nanosleep 0.100000000 -> 0"},
         {pc1, pc2}},
        {"without debug output",
         {"-c", "2", "-t", "200ms", "pc1"},
         1,
         "",
         {"nanosleep 0.200000000 -> EINTR rem 0.100000000", "nanosleep 0.100000000 -> 0"},
         {pc1, pc1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(log_.c_str());
        const Result result =
            harness::run(sender(c.args, {{"NANOSLEEP_EINTR", std::to_string(c.interruptions)}}));
        expect_exit(result, 0);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(log_lines("nanosleep"), c.sleeps);
        expect_datagrams(c.sent);
    }
}

TEST_F(FaultTest, FailedSleepEndsTheName) {
    const Bytes pc1 = harness::magic_packet(kPc1);
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {"between copies",
         {"-c", "2", "-t", "200ms", "pc1", "pc2"},
         "tesk: pc1: Sending WoL packet failed: Invalid argument\n"},
        {"between the members of a group",
         {"office", "pc2"},
         "tesk: office: Sending WoL packet failed: Invalid argument\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Result result = harness::run(sender(c.args, {{"NANOSLEEP_ERRNO", "EINVAL"}}));
        expect_exit(result, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.err);
        // The first copy, or the first member, went out before the sleep; nothing after it.
        expect_datagrams({pc1});
    }
}

TEST_F(FaultTest, InterruptedSendIsRepeated) {
    const Bytes pc1 = harness::magic_packet(kPc1);
    const std::string hash = hash_text(pc1);
    const std::string via = "via " + sink_text() + "\n";
    struct Case {
        int interruptions;
        const char* option;
        std::string out, err;
    };
    const Case cases[] = {
        {1, "-d", "",
         "[pc1 (02:00:00:00:00:01)]\nSending packet 1/2 " + via + "Sending packet 2/2 " + via},
        {3, "-d", "",
         "[pc1 (02:00:00:00:00:01)]\nSending packet 1/2 " + via + "Sending packet 2/2 " + via},
        {3, "-v", banner() + "pc1 (02:00:00:00:00:01).. Done\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + std::to_string(c.interruptions));
        std::remove(log_.c_str());
        const Result result = harness::run(sender(
            {c.option, "-c", "2", "pc1"}, {{"SENDTO_EINTR", std::to_string(c.interruptions)}}));
        expect_exit(result, 0);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
        // The interrupted datagram is offered again, byte for byte, until it goes.
        EXPECT_EQ(log_lines("sendto"),
                  join(repeat("sendto 102 " + hash + " -> EINTR", c.interruptions),
                       repeat("sendto 102 " + hash + " -> 102", 2)));
        expect_datagrams({pc1, pc1});
    }
}

TEST_F(FaultTest, RefusedSendIsReported) {
    const Bytes pc1 = harness::magic_packet(kPc1);
    const std::string shown = banner() + "pc1 (02:00:00:00:00:01)";
    struct Refusal {
        const char* name;
        const char* text;
    };
    const Refusal refusals[] = {{"ENETUNREACH", "Network is unreachable"},
                                {"EACCES", "Permission denied"}};
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string input;  // names on standard input when not empty
        Faults more;
        int status;
        bool verbose;  // the host's line on standard output
        const char* dots;
        int errors;         // failure lines: pc1, then pc2
        std::size_t tries;  // datagrams offered
        std::size_t sent;
    };
    // clang-format off
    const Case cases[] = {
        {"names on the command line", {"pc1", "pc2"}, "", {}, 1, false, "", 1, 1, 0},
        {"with progress", {"-v", "pc1", "pc2"}, "", {}, 1, true, "", 1, 1, 0},
        {"ignoring errors", {"-i", "pc1", "pc2"}, "", {}, 0, false, "", 0, 2, 0},
        {"names on standard input", {}, "pc1 pc2\n", {}, 1, false, "", 1, 1, 0},
        {"names on standard input, ignoring errors", {"-i"}, "pc1 pc2\n", {}, 0, false, "", 2, 2, 0},
        {"after the first copy", {"-v", "-c", "3", "pc1"}, "", {{"SENDTO_AFTER", "1"}}, 1, true, ".", 1, 2, 1},
    };
    // clang-format on
    for (const Refusal& refusal : refusals) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(refusal.name) + ", " + c.what);
            std::remove(log_.c_str());
            Faults faults = c.more;
            faults["SENDTO_ERRNO"] = refusal.name;
            Launch launch = sender(c.args, faults);
            if (!c.input.empty()) {
                launch.in = Stream::capture;
                launch.input = c.input;
            }
            const Result result = harness::run(launch);
            expect_exit(result, c.status);
            EXPECT_EQ(result.out, c.verbose ? shown + c.dots : "");
            std::string err;
            for (int i = 0; i < c.errors; ++i)
                err += std::string("tesk: pc") + std::to_string(i + 1) +
                       ": Sending WoL packet failed: " + refusal.text + "\n";
            EXPECT_EQ(result.err, err);
            EXPECT_EQ(log_lines("sendto").size(), c.tries);
            expect_datagrams(std::vector<Bytes>(c.sent, pc1));
        }
    }
}

// A daemon run in the foreground on a loopback port, its output in files.
struct Daemon {
    pid_t pid = -1;
    std::uint16_t port = 0;
    int fd = -1;  // its listening descriptor
    std::string out, err;
};

class DaemonFaultTest : public FaultTest {
  protected:
    void TearDown() override {
        if (daemon_.pid > 0) harness::stop(daemon_.pid);
    }

    // Starts `tesk -D -F -A 127.0.0.1 -P PORT -f CONFIG` and waits until it listens.
    // With `ends` it is only started, for a daemon that is to fail at once.
    void start(const std::vector<std::string>& args, const Faults& faults, bool ends = false,
               Stream out = Stream::file) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            daemon_.port = harness::free_udp_port();
            Launch launch = plain(faults);
            launch.args = {"-D", "-F",   "-A", "127.0.0.1", "-P", std::to_string(daemon_.port),
                           "-f", config_};
            launch.args.insert(launch.args.end(), args.begin(), args.end());
            daemon_.out = launch.out_file = dir_.path() + "/daemon.out";
            daemon_.err = launch.err_file = dir_.path() + "/daemon.err";
            launch.out = out;
            launch.err = Stream::file;
            daemon_.pid = daemon_pid_ = harness::start(launch);
            if (ends) return;
            std::optional<harness::Result> ended;
            const bool listening = harness::eventually([&] {
                if ((ended = harness::wait_for(daemon_.pid, 0ms))) return true;
                const auto socket = harness::udp_socket(daemon_.port);
                if (!socket) return false;
                daemon_.fd = harness::descriptor_of(daemon_.pid, socket->inode);
                return daemon_.fd >= 0;
            });
            if (listening && !ended) return;
            if (!ended) harness::stop(daemon_.pid);
            daemon_.pid = -1;  // the port was taken meanwhile: another one
        }
        FAIL() << "the daemon did not start listening";
    }

    // Ends the daemon, which must still be running.
    void stop() {
        const Result result = harness::stop(daemon_.pid);
        daemon_.pid = -1;
        EXPECT_FALSE(result.exited) << "the daemon had ended with status " << result.status;
        EXPECT_EQ(result.signal, SIGTERM);
    }

    std::string err() const { return harness::read_file(daemon_.err); }
    std::string system_log() const { return harness::read_file(syslog_); }
    // A line of the system log from the last daemon started.
    std::string logged(const char* level, const std::string& text) const {
        return std::string("daemon.") + level + " tesk[" + std::to_string(daemon_pid_) +
               "]: " + text + "\n";
    }
    std::string out() const { return harness::read_file(daemon_.out); }

    bool err_is(const std::string& text) const {
        return harness::eventually([&] { return err() == text; }, 3000ms);
    }

    // The debug lines for one received datagram and its relay to pc1.
    std::string relay(std::uint16_t source, const Bytes& datagram) const {
        const std::string fd = std::to_string(daemon_.fd);
        return "[Data available on FD #" + fd + "]\n[Message on FD #" + fd +
               " received from 127.0.0.1:" + std::to_string(source) + "]\n" + dump(datagram) +
               "[pc1 (02:00:00:00:00:01)]\nSending packet 1/1 via " + sink_text() + "\n";
    }

    static constexpr const char* kHead =
        "[Creating and binding daemon sockets]\n[Entering daemon main loop]\n";
    Daemon daemon_;
    pid_t daemon_pid_ = -1;
};

TEST_F(DaemonFaultTest, InterruptedWaitAndReceiveAreRetried) {
    const Bytes pc1 = harness::magic_packet(kPc1);
    struct Case {
        int polls, receives;
    };
    const Case cases[] = {{1, 0}, {0, 1}, {2, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE("poll " + std::to_string(c.polls) + ", recvfrom " +
                     std::to_string(c.receives));
        std::remove(log_.c_str());
        start({"-d"}, {{"POLL_EINTR", std::to_string(c.polls)},
                       {"RECVFROM_EINTR", std::to_string(c.receives)}});
        if (HasFatalFailure()) return;
        // The wait is repeated with its message; the receive is repeated silently.
        const std::string waited = kHead + std::string(kWaiting) +
                                   (c.polls > 0 ? std::string(kWaiting) : "") +
                                   (c.polls > 1 ? std::string(kWaiting) : "");
        ASSERT_TRUE(err_is(waited)) << err();
        const std::uint16_t source = harness::send_datagram(daemon_.port, pc1);
        EXPECT_TRUE(err_is(waited + relay(source, pc1) + kWaiting)) << err();
        expect_datagrams({pc1});
        EXPECT_EQ(out(), "Got WoL for host: pc1 (02:00:00:00:00:01)\n");
        EXPECT_EQ(log_lines("recvfrom"),
                  join(repeat("recvfrom -> EINTR", c.receives), {"recvfrom -> 102"}));
        EXPECT_EQ(system_log(), logged("info", "Got WoL for host: pc1 (02:00:00:00:00:01)"));
        stop();
        std::remove(syslog_.c_str());
    }
}

TEST_F(DaemonFaultTest, FailedRelayIsReportedAndTheDaemonGoesOn) {
    const Bytes pc1 = harness::magic_packet(kPc1);
    start({"-d"}, {{"SENDTO_ERRNO", "ENETUNREACH"}, {"SENDTO_TIMES", "1"}});
    if (HasFatalFailure()) return;
    const std::string first = kHead + std::string(kWaiting) +
                              relay(harness::send_datagram(daemon_.port, pc1), pc1) +
                              "*** Error send WoL message to pc1 (02:00:00:00:00:01)\n" + kWaiting;
    ASSERT_TRUE(err_is(first)) << err();
    const std::uint16_t source = harness::send_datagram(daemon_.port, pc1);
    EXPECT_TRUE(err_is(first + relay(source, pc1) + kWaiting)) << err();
    expect_datagrams({pc1});
    EXPECT_EQ(out(),
              "Got WoL for host: pc1 (02:00:00:00:00:01)\n"
              "Got WoL for host: pc1 (02:00:00:00:00:01)\n");
    // Every relay is logged as well, and a failed one with its cause.
    EXPECT_EQ(system_log(),
              logged("info", "Got WoL for host: pc1 (02:00:00:00:00:01)") +
                  logged("warning",
                         "Error send WoL message to pc1 (02:00:00:00:00:01): Network is "
                         "unreachable") +
                  logged("info", "Got WoL for host: pc1 (02:00:00:00:00:01)"));
    stop();
}

TEST_F(DaemonFaultTest, FailedWaitOrReceiveEndsTheDaemon) {
    const Bytes pc1 = harness::magic_packet(kPc1);
    {
        SCOPED_TRACE("poll");
        start({"-d"}, {{"POLL_ERRNO", "ENOMEM"}}, true);
        const auto result = harness::wait_for(daemon_.pid, 10000ms);
        daemon_.pid = -1;
        ASSERT_TRUE(result) << "the daemon did not end";
        EXPECT_TRUE(result->exited);
        EXPECT_EQ(result->status, 1);
        EXPECT_EQ(err(),
                  kHead + std::string(kWaiting) + "tesk: daemon_run: Cannot allocate memory\n");
        EXPECT_EQ(out(), "");
        EXPECT_EQ(system_log(), logged("err", "daemon_run: Cannot allocate memory"));
        std::remove(syslog_.c_str());
    }
    {
        SCOPED_TRACE("recvfrom");
        start({"-d"}, {{"RECVFROM_ERRNO", "EIO"}});
        if (HasFatalFailure()) return;
        harness::send_datagram(daemon_.port, pc1);
        const auto result = harness::wait_for(daemon_.pid, 10000ms);
        ASSERT_TRUE(result) << "the daemon did not end";
        const std::string fd = std::to_string(daemon_.fd);
        daemon_.pid = -1;
        EXPECT_TRUE(result->exited);
        EXPECT_EQ(result->status, 1);
        EXPECT_EQ(err(), kHead + std::string(kWaiting) + "[Data available on FD #" + fd + "]\n" +
                             "tesk: daemon_run: Input/output error\n");
        EXPECT_EQ(out(), "");
        EXPECT_EQ(system_log(), logged("err", "daemon_run: Input/output error"));
        expect_datagrams({});
    }
}

TEST_F(FaultTest, UnusableConfigurationFileIsPassedOver) {
    // What the file would add if it were read.
    const std::string ghost = "host ghost mac 02:00:00:00:00:99\n";
    const std::string folder = dir_.path() + "/folder.conf";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    dir_.write("folder.conf/inside", ghost);
    const std::string locked = dir_.write("locked.conf", ghost);
    const std::string missing = dir_.path() + "/missing.conf";

    Launch reference = plain();
    reference.args = {"-f", config_, "-e"};
    const Result expected = harness::run(reference);
    expect_exit(expected, 0);
    ASSERT_NE(expected.out.find("host pc1"), std::string::npos) << expected.out;
    // Read, the file would show in the export.
    Launch readable = plain();
    readable.args = {"-f", locked, "-f", config_, "-e"};
    ASSERT_NE(harness::run(readable).out.find("host ghost"), std::string::npos);

    struct Case {
        const char* what;
        std::string path;
        Faults faults;
    };
    const Case cases[] = {
        {"a folder", folder, {}},
        {"a file that cannot be opened", locked, {{"FOPEN_EACCES", locked}}},
        {"a missing file", missing, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Launch given = plain(c.faults);
        given.args = {"-f", c.path, "-f", config_, "-e"};
        const Result result = harness::run(given);
        expect_exit(result, 0);
        EXPECT_EQ(result.out, expected.out);
        EXPECT_EQ(result.err, "");

        Launch traced = plain(c.faults);
        traced.args = {"-dd", "-f", c.path, "-e"};
        const Result trace = harness::run(traced);
        expect_exit(trace, 0);
        EXPECT_EQ(trace.err, "[Parsing config: " + c.path + "]\n");
    }

    // The per-user file, in the home folder.
    harness::TempDir home_of_folder, home_of_locked;
    ASSERT_EQ(mkdir((home_of_folder.path() + "/.teskrc").c_str(), 0755), 0);
    const std::string locked_rc = home_of_locked.write(".teskrc", ghost);
    const struct {
        const char* what;
        std::string home;
        Faults faults;
    } homes[] = {
        {".teskrc a folder", home_of_folder.path(), {}},
        {".teskrc that cannot be opened", home_of_locked.path(), {{"FOPEN_EACCES", locked_rc}}}};
    for (const auto& h : homes) {
        SCOPED_TRACE(h.what);
        Launch given = plain(h.faults);
        given.env[0] = "HOME=" + h.home;
        given.args = {"-f", config_, "-e"};
        const Result result = harness::run(given);
        expect_exit(result, 0);
        EXPECT_EQ(result.out, expected.out);
        EXPECT_EQ(result.err, "");
    }
}

// Standard output that takes nothing: progress is lost and sending goes on, but an export
// cut short by a full disk is an error. A closed standard output is the null device.
TEST_F(FaultTest, FullOrClosedStandardOutput) {
    const Bytes pc1 = harness::magic_packet(kPc1);
    const Bytes pc2 = harness::magic_packet(kPc2);
    const struct {
        const char* what;
        Stream out;
    } outs[] = {{"/dev/full", Stream::dev_full}, {"closed", Stream::closed}};
    for (const auto& o : outs) {
        SCOPED_TRACE(o.what);
        {
            SCOPED_TRACE("export");
            Launch launch = plain();
            launch.args = {"-f", config_, "-e"};
            launch.out = o.out;
            const Result result = harness::run(launch);
            if (o.out == Stream::dev_full) {
                expect_exit(result, 1);
                EXPECT_EQ(result.err, "tesk: stdout: No space left on device\n");
            } else {
                expect_exit(result, 0);
                EXPECT_EQ(result.err, "");
            }
        }
        {
            SCOPED_TRACE("sending with progress");
            Launch launch = sender({"-v", "pc1", "pc2"});
            launch.out = o.out;
            const Result result = harness::run(launch);
            expect_exit(result, 0);
            EXPECT_EQ(result.err, "");
            expect_datagrams({pc1, pc2});
        }
    }
}

TEST_F(DaemonFaultTest, FullOrClosedStandardOutput) {
    const Bytes pc1 = harness::magic_packet(kPc1);
    for (const Stream out : {Stream::dev_full, Stream::closed}) {
        SCOPED_TRACE(out == Stream::closed ? "closed" : "/dev/full");
        start({}, {}, false, out);
        if (HasFatalFailure()) return;
        harness::send_datagram(daemon_.port, pc1);
        harness::send_datagram(daemon_.port, pc1);
        expect_datagrams({pc1, pc1});
        EXPECT_EQ(err(), "");
        stop();
    }
}

// Started with standard input closed and no names, the program reads its names from a
// descriptor that is not open: that is a read error, which ends it with status 0.
TEST_F(FaultTest, ClosedStandardInputEndsTheNames) {
    Launch launch = sender({});
    launch.in = Stream::closed;
    const Result result = harness::run(launch, 5000ms);
    EXPECT_FALSE(result.timed_out)
        << "still reading after 5 s: descriptor 0 was reused for a socket, so the program "
           "waits for datagrams where it should see the end of its input";
    expect_exit(result, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    expect_datagrams({});
}

// A daemon started with some of its standard streams closed (from a boot script, say)
// detaches all the same: its standard streams are the null device afterwards, and it
// relays through its own sockets.
TEST_F(DaemonFaultTest, DetachedWithClosedStandardStreams) {
    if (!harness::become_subreaper()) GTEST_SKIP() << "skipped: no way to reap a detached daemon";
    const Bytes pc1 = harness::magic_packet(kPc1);
    char binary[PATH_MAX];
    ASSERT_NE(realpath(TESK_BINARY, binary), nullptr);
    const struct {
        const char* what;
        Stream in, out, err;
    } cases[] = {
        {"standard input closed", Stream::closed, Stream::dev_null, Stream::dev_null},
        {"standard output closed", Stream::dev_null, Stream::closed, Stream::dev_null},
        {"standard error closed", Stream::dev_null, Stream::dev_null, Stream::closed},
        {"all three closed", Stream::closed, Stream::closed, Stream::closed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The detached process is found by the port it listens on, and must be this
        // program; a port that someone else took meanwhile means another try.
        for (int attempt = 0; attempt < 5 && daemon_.pid < 0; ++attempt) {
            daemon_.port = harness::free_udp_port();
            Launch launch = plain();
            launch.args = {"-D", "-A",   "127.0.0.1", "-P", std::to_string(daemon_.port),
                           "-f", config_};
            launch.in = c.in;
            launch.out = c.out;
            launch.err = c.err;
            const auto parent = harness::wait_for(harness::start(launch), 10000ms);
            ASSERT_TRUE(parent && parent->exited && parent->status == 0)
                << "the starting process did not end with status 0";
            harness::eventually([&] {
                const auto socket = harness::udp_socket(daemon_.port);
                const auto owner = socket ? harness::owner_of(socket->inode) : std::nullopt;
                if (!owner) return false;
                char exe[PATH_MAX] = {};
                const std::string link = "/proc/" + std::to_string(*owner) + "/exe";
                if (readlink(link.c_str(), exe, sizeof exe - 1) > 0 &&
                    std::strcmp(exe, binary) == 0) {
                    daemon_.pid = *owner;
                }
                return true;
            });
        }
        ASSERT_GT(daemon_.pid, 0) << "the detached daemon does not listen on its port";

        for (int fd = 0; fd <= 2; ++fd)
            EXPECT_EQ(harness::descriptor_target(daemon_.pid, fd), "/dev/null")
                << "descriptor " << fd;
        harness::send_datagram(daemon_.port, pc1);
        expect_datagrams({pc1});
        stop();
    }
}

}  // namespace
