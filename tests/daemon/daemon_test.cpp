// The proxy daemon, run whole on loopback: what it accepts, what it refuses and why,
// what it relays to a sink, and how it detaches.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "config/registry.h"
#include "daemon/daemon.h"
#include "support/program.h"
#include "support/sink.h"

namespace {

constexpr const char* kWaiting = "(Waiting for messages on 1 FDs)\n";

// A port that was free a moment ago.
std::string free_port(int family = AF_INET) {
    Sink probe(family == AF_INET ? "127.0.0.1" : "::1");
    return probe.port_text();
}

void send_to(const std::string& address, const std::string& port,
             const std::vector<std::uint8_t>& bytes) {
    const bool six = address.find(':') != std::string::npos;
    const int fd = socket(six ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
    sockaddr_storage to{};
    socklen_t length;
    if (six) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&to);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(static_cast<std::uint16_t>(std::stoi(port)));
        inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr);
        length = sizeof *in6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&to);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(static_cast<std::uint16_t>(std::stoi(port)));
        inet_pton(AF_INET, address.c_str(), &in4->sin_addr);
        length = sizeof *in4;
    }
    // A fixed source port would clash between tests; the daemon's line shows whatever it is.
    ASSERT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), length),
              static_cast<ssize_t>(bytes.size()));
    close(fd);
}

std::string hex_lines(const std::vector<std::uint8_t>& bytes) {
    std::string text = "\t";
    char piece[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) text += i % 16 == 0 ? "\n\t" : ":";
        std::snprintf(piece, sizeof piece, "%02X", bytes[i]);
        text += piece;
    }
    return text + "\n";
}

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a, const std::string& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The daemon with a sink behind its hosts' gateway and its trace read up to each wait.
struct DaemonFixture : ::testing::Test {
    Sink sink;
    TempDir dir;
    std::string port = free_port();
    std::unique_ptr<Background> daemon;
    std::size_t seen = 0;  // how much of its trace the test has looked at

    void start(const std::string& hosts, std::vector<std::string> extra = {}) {
        const std::string conf = dir.write("c", gateway_to(sink) + "\n" + hosts);
        std::vector<std::string> args = {"-D", "-F", "-d", "-A", "127.0.0.1",
                                         "-P", port, "-f", conf};
        args.insert(args.end(), extra.begin(), extra.end());
        daemon = std::make_unique<Background>(args);
        ASSERT_TRUE(daemon->wait_for_err(kWaiting)) << daemon->err;
        seen = daemon->err.size();
    }

    // Sends one datagram and returns the trace it caused, up to the daemon's next wait.
    std::string serve(const std::vector<std::uint8_t>& bytes) {
        send_to("127.0.0.1", port, bytes);
        const std::size_t from = seen;
        for (int tries = 0; tries < 100; ++tries) {
            daemon->settle(0.05);
            const std::size_t at = daemon->err.find(kWaiting, from);
            if (at != std::string::npos) {
                seen = at + std::strlen(kWaiting);
                return daemon->err.substr(from, at - from);
            }
        }
        return "(no answer) " + daemon->err.substr(from);
    }

    // The trace of one datagram up to and including the checks, with the FD and the
    // source as the daemon saw them.
    std::string received(const std::string& trace, const std::vector<std::uint8_t>& bytes) {
        const std::size_t hash = trace.find('#');
        const std::size_t close = trace.find(']');
        if (hash == std::string::npos || close == std::string::npos) return "(unparsed)";
        const std::string fd = trace.substr(hash + 1, close - hash - 1);
        const std::size_t from = trace.find("from 127.0.0.1:");
        const std::string source = from == std::string::npos
                                       ? "?"
                                       : trace.substr(from + 5, trace.find(']', from) - from - 5);
        return "[Data available on FD #" + fd + "]\n[Message on FD #" + fd + " received from " +
               source + "]\n" + hex_lines(bytes);
    }
};

constexpr const char* kPc1 = "00:11:22:33:44:01";

TEST_F(DaemonFixture, ChecksInOrderWithTheirReasons) {
    start(std::string("host pc1 mac ") + kPc1 + " via lan\nhost twin mac " + kPc1 + "\n",
          {"-S", "s3cret"});
    auto valid = magic_packet(kPc1);
    auto bad_header = valid;
    bad_header[5] = 0xFE;
    auto bad_copy = valid;
    bad_copy[101] ^= 1;
    const std::string relayed = std::string("[pc1 (") + kPc1 +
                                ")]\nSending packet 1/1 via 127.0.0.1:" + sink.port_text() + "\n";
    const std::string unknown_mac = "00:11:22:33:44:99";
    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::string lines;  // after the hex dump
        bool relays;
    } cases[] = {
        {"valid with the secret", valid + "s3cret",
         "*** Received secret: 73:33:63:72:65:74 (s3cret)\n" + relayed, true},
        {"too short", std::vector<std::uint8_t>(valid.begin(), valid.begin() + 101),
         "*** Invalid WoL message (too short: 101 bytes)\n", false},
        {"bad header", bad_header, "*** Invalid WoL message (invalid header)\n", false},
        {"bad copy", bad_copy, "*** Invalid WoL message (invalid MAC content copies)\n", false},
        {"missing secret", valid, "*** Missing received secret\n", false},
        {"secret one shorter", valid + "s3cre",
         "*** Received secret: 73:33:63:72:65 (s3cre)\n*** Invalid received secret: 73:33:63:72:65 "
         "(s3cre)\n",
         false},
        {"secret one longer", valid + "s3cret!",
         "*** Received secret: 73:33:63:72:65:74:21 (s3cret!)\n"
         "*** Invalid received secret: 73:33:63:72:65:74:21 (s3cret!)\n",
         false},
        {"secret one byte off", valid + "s3creT",
         "*** Received secret: 73:33:63:72:65:54 (s3creT)\n*** Invalid received secret: "
         "73:33:63:72:65:54 (s3creT)\n",
         false},
        {"unknown mac", magic_packet(unknown_mac) + "s3cret",
         "*** Received secret: 73:33:63:72:65:74 (s3cret)\n*** Unknown MAC (no such host): " +
             unknown_mac + "\n",
         false},
    };
    std::size_t relays = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string trace = serve(c.bytes);
        EXPECT_EQ(trace, received(trace, c.bytes) + c.lines);
        const auto got = sink.collect(std::chrono::milliseconds(c.relays ? 300 : 50));
        ASSERT_EQ(got.size(), c.relays ? 1u : 0u);
        // The relay is a fresh packet: the received trailer is not passed on.
        if (c.relays) {
            EXPECT_EQ(got[0].bytes, magic_packet(kPc1));
        }
        relays += c.relays;
    }
    // One relay line, whatever the debug level; the twin with the same MAC is never woken.
    daemon->settle(0.1);
    EXPECT_EQ(relays, 1u);
    EXPECT_EQ(daemon->out, std::string("Got WoL for host: pc1 (") + kPc1 + ")\n");
}

TEST_F(DaemonFixture, WithoutASecretAnyTrailerIsRefused) {
    start(std::string("host pc1 mac ") + kPc1 + " via lan\n");
    const auto valid = magic_packet(kPc1);
    const std::string long_trailer(65, 'x');
    const std::string shown_64 = [&] {
        std::string text;
        for (int i = 0; i < 64; ++i)
            text += i == 0 ? "78" : ":78";
        return text + " (" + std::string(64, 'x') + ")";
    }();
    // The trace of a refused trailer, longer than any secret: shown by its first 64 bytes.
    const std::string trace = serve(valid + long_trailer);
    EXPECT_EQ(trace, received(trace, valid + long_trailer) + "*** Received secret: " + shown_64 +
                         "\n*** Invalid received secret: " + shown_64 + "\n");
    // Only the first 2048 bytes of a larger datagram are seen: its trailer is refused.
    std::vector<std::uint8_t> huge = valid;
    huge.resize(5000, 'y');
    const std::string cut = serve(huge);
    EXPECT_NE(cut.find("*** Invalid received secret: "), std::string::npos) << cut;
    EXPECT_NE(cut.find(hex_lines(std::vector<std::uint8_t>(huge.begin(), huge.begin() + 2048))),
              std::string::npos);
    EXPECT_TRUE(sink.collect(std::chrono::milliseconds(50)).empty());
    // A bare packet is relayed.
    const std::string bare = serve(valid);
    EXPECT_NE(bare.find("Sending packet 1/1"), std::string::npos) << bare;
    EXPECT_EQ(sink.collect().size(), 1u);
}

TEST_F(DaemonFixture, TwoHostsWithOneMacWakeTheFirstAndZeroMatchesAnUnsetOne) {
    start(std::string("host first mac ") + kPc1 + " via lan\nhost second mac " + kPc1 +
          " via lan\nhost blank\n");
    const std::string trace = serve(magic_packet(kPc1));
    EXPECT_NE(trace.find(std::string("[first (") + kPc1 + ")]\n"), std::string::npos) << trace;
    EXPECT_EQ(sink.collect().size(), 1u);
    const auto zero = magic_packet("00:00:00:00:00:00");
    const std::string failed = serve(zero);
    EXPECT_EQ(failed,
              received(failed, zero) + "*** Error send WoL message to blank (00:00:00:00:00:00)\n");
    daemon->settle(0.1);
    EXPECT_EQ(daemon->out, std::string("Got WoL for host: first (") + kPc1 +
                               ")\nGot WoL for host: blank (00:00:00:00:00:00)\n");
}

TEST(Daemon, ABindFailureEndsItWithTheSystemsReason) {
    Sink holder;  // keeps the port busy
    TempDir dir;
    const Outcome run = run_tesk({"-D", "-F", "-d", "-A", "127.0.0.1", "-P", holder.port_text()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "[Creating and binding daemon sockets]\ntesk: daemon_run: Address already in use\n");
}

TEST(Daemon, ListenerWithoutTargetsFailsBeforeAnySocket) {
    Gateway listener;
    errno = 0;
    EXPECT_EQ(daemon_run(listener), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(Daemon, TwoListeningSocketsAreServedOncePerPassInOrder) {
    if (!isolated()) GTEST_SKIP() << "needs a hosts file of its own";
    const EtcOverlay etc(EtcFiles{{"hosts", "127.0.0.1 both\n::1 both\n"}});
    Sink sink;
    TempDir dir;
    const std::string port = free_port();
    const std::string conf =
        dir.write("c", gateway_to(sink) +
                           "\nhost slow mac 00:00:00:00:00:01 via lan copies 2 delay 400ms\n"
                           "host fast mac 00:00:00:00:00:02 via lan\n");
    Background daemon({"-D", "-F", "-d", "-A", "both", "-P", port, "-f", conf});
    ASSERT_TRUE(daemon.wait_for_err("(Waiting for messages on 2 FDs)\n")) << daemon.err;
    // While the first relay sleeps, a datagram waits on each socket.
    send_to("127.0.0.1", port, magic_packet("00:00:00:00:00:01"));
    ASSERT_TRUE(daemon.wait_for_err("(Sleeping 400ms)\n"));
    send_to("::1", port, magic_packet("00:00:00:00:00:09"));
    send_to("127.0.0.1", port, magic_packet("00:00:00:00:00:02"));
    ASSERT_TRUE(daemon.wait_for_err("[fast (00:00:00:00:00:02)]")) << daemon.err;
    daemon.settle(0.2);
    // The pass after the slow relay serves both sockets, in order, before poll is called again.
    const std::size_t sleep = daemon.err.find("(Sleeping 400ms)\n");
    const std::string rest = daemon.err.substr(daemon.err.find("[Data available", sleep));
    const std::size_t next_wait = rest.find("(Waiting for messages on 2 FDs)\n");
    const std::size_t unknown = rest.find("*** Unknown MAC (no such host): 00:00:00:00:00:09\n");
    const std::size_t fast = rest.find("[fast (00:00:00:00:00:02)]\n");
    ASSERT_NE(next_wait, std::string::npos) << rest;
    EXPECT_LT(fast, unknown) << rest;
    EXPECT_LT(unknown, next_wait) << rest;
    EXPECT_EQ(sink.collect().size(), 3u);
}

// The PID of the process in this network namespace with a UDP socket on `port`.
pid_t udp_owner(const std::string& port) {
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", std::stoi(port));
    std::ifstream table("/proc/net/udp");
    std::string line, inode;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        if (local.size() > 5 && local.substr(local.size() - 5) == wanted) break;
        inode.clear();
    }
    if (inode.empty()) return -1;
    const std::string socket_link = "socket:[" + inode + "]";
    for (const auto& process : std::filesystem::directory_iterator("/proc")) {
        const std::string name = process.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code ignored;
        for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", ignored)) {
            if (std::filesystem::read_symlink(fd.path(), ignored) == socket_link) {
                return std::stoi(name);
            }
        }
    }
    return -1;
}

TEST(Detach, TheStarterEndsAtOnceWhileTheDaemonServes) {
    if (!isolated())
        GTEST_SKIP() << "finds the detached daemon by its socket in a namespace of its own";
    Sink sink;
    TempDir dir;
    const std::string port = free_port();
    const std::string conf =
        dir.write("c", gateway_to(sink) + "\nhost pc1 mac 00:11:22:33:44:01 via lan\n");
    Background starter({"-D", "-v", "-d", "-A", "127.0.0.1", "-P", port, "-f", conf});
    EXPECT_EQ(starter.wait(5), 0);
    // The banner was buffered before the fork and is written once.
    EXPECT_EQ(starter.out.find("[tesk"), 0u);
    EXPECT_EQ(starter.out.find("[tesk", 1), std::string::npos);
    pid_t daemon = -1;
    for (int tries = 0; tries < 50 && daemon < 0; ++tries) {
        daemon = udp_owner(port);
        if (daemon < 0) usleep(20000);
    }
    ASSERT_GT(daemon, 0);
    // The daemon is ended by its PID whatever the checks below find.
    const std::unique_ptr<pid_t, void (*)(pid_t*)> stopper(&daemon,
                                                           [](pid_t* pid) { kill(*pid, SIGTERM); });
    const std::string proc = "/proc/" + std::to_string(daemon);
    EXPECT_EQ(std::filesystem::read_symlink(proc + "/cwd"), "/");
    for (const char* stream : {"/fd/0", "/fd/1", "/fd/2"}) {
        EXPECT_EQ(std::filesystem::read_symlink(proc + stream), "/dev/null");
    }
    std::ifstream status(proc + "/status");
    std::string line;
    std::string umask;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) umask = line;
    }
    EXPECT_EQ(umask, "Umask:\t0000");

    send_to("127.0.0.1", port, magic_packet("00:11:22:33:44:01"));
    EXPECT_EQ(sink.collect().size(), 1u);
}

// A private /dev with a log socket of the test's own, in the test's mount namespace.
struct PrivateLog {
    TempDir dir;
    int fd = -1;

    PrivateLog() {
        const std::string dev = dir.path + "/dev";
        std::filesystem::create_directory(dev);
        for (const char* node : {"null", "zero", "urandom"}) {
            dir.write(std::string("dev/") + node, "");
            std::system(
                ("mount --bind /dev/" + std::string(node) + " " + dev + "/" + node).c_str());
        }
        fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s/log", dev.c_str());
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        std::system(("mount --bind " + dev + " /dev").c_str());
    }
    ~PrivateLog() {
        std::system("umount /dev");
        close(fd);
    }

    std::vector<std::string> messages(double seconds) {
        std::vector<std::string> got;
        timeval wait{0, static_cast<long>(seconds * 1e6)};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char buffer[2048];
        for (ssize_t size; (size = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            got.emplace_back(buffer, size);
        return got;
    }
};

TEST(SystemLog, RelaysAndTheirFailuresAreLoggedAsTheDaemon) {
    if (!isolated()) GTEST_SKIP() << "needs a mount namespace of its own for /dev/log";
    PrivateLog log;
    Sink sink;
    TempDir dir;
    const std::string port = free_port();
    const std::string conf =
        dir.write("c", gateway_to(sink) + "\nhost pc1 mac 00:11:22:33:44:01 via lan\nhost blank\n");
    Background daemon({"-D", "-F", "-d", "-A", "127.0.0.1", "-P", port, "-f", conf});
    ASSERT_TRUE(daemon.wait_for_err(kWaiting));
    send_to("127.0.0.1", port, magic_packet("00:11:22:33:44:01"));
    send_to("127.0.0.1", port, magic_packet("00:00:00:00:00:00"));
    const auto got = log.messages(0.5);
    ASSERT_EQ(got.size(), 3u);
    const std::string pid = "tesk[" + std::to_string(daemon.pid) + "]: ";
    // <30>: facility LOG_DAEMON, priority LOG_INFO; <28>: LOG_WARNING.
    EXPECT_EQ(got[0].rfind("<30>", 0), 0u) << got[0];
    EXPECT_NE(got[0].find(pid + "Got WoL for host: pc1 (00:11:22:33:44:01)"), std::string::npos)
        << got[0];
    EXPECT_NE(got[1].find(pid + "Got WoL for host: blank (00:00:00:00:00:00)"), std::string::npos)
        << got[1];
    EXPECT_EQ(got[2].rfind("<28>", 0), 0u) << got[2];
    EXPECT_NE(
        got[2].find(pid + "Error send WoL message to blank (00:00:00:00:00:00): Invalid argument"),
        std::string::npos)
        << got[2];
}

TEST(SystemLog, TheDaemonRunFailureIsLogged) {
    if (!isolated()) GTEST_SKIP() << "needs a mount namespace of its own for /dev/log";
    PrivateLog log;
    Sink holder;
    const Outcome run = run_tesk({"-D", "-F", "-A", "127.0.0.1", "-P", holder.port_text()});
    EXPECT_EQ(run.status, 1);
    const auto got = log.messages(0.3);
    ASSERT_EQ(got.size(), 1u);
    // <27>: facility LOG_DAEMON, priority LOG_ERR.
    EXPECT_EQ(got[0].rfind("<27>", 0), 0u) << got[0];
    EXPECT_NE(got[0].find("daemon_run: Address already in use"), std::string::npos) << got[0];
}

}  // namespace
