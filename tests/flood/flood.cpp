// Load and memory checks of the whole program on loopback, with figures.
//
//   flood daemon COUNT [--valgrind PATH [--end-by-fault]] [--sanitized]
//     Runs `tesk -D -F -A 127.0.0.1 -P PORT -S SECRET -f CONF` and sends it COUNT
//     datagrams from two senders, interleaved: valid ones for known hosts, unknown MACs,
//     truncated, oversized up to 65,507 bytes, wrong, overlong and missing secrets, bad
//     headers and MAC copies, and random bytes. The senders keep the daemon's receive
//     queue below its buffer, and the kernel's drop counter of the daemon's socket says
//     whether they did. Then: the daemon is still up; its descriptors and resident memory
//     are what they were after the warm-up; every valid datagram was relayed, in the order
//     of the daemon's "Got WoL" lines, with the host's own copies and secret; nothing else
//     reached the sink.
//     With --valgrind the daemon runs under memcheck and is ended by SIGTERM, or with
//     --end-by-fault by a receive that the interposer fails, so that it leaves through
//     its normal exit path; the memcheck report must show no error and no definite or
//     indirect loss.
//   flood bulk HOSTS [--valgrind PATH]
//     Wakes a configuration of HOSTS hosts with `tesk -a 127.0.0.1 -p SINK all` and checks
//     that the sink got every host's packet, in order.
//
// Exit status 0 when every check holds, 1 otherwise, 77 when the check cannot run here.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "harness.h"

namespace {

using harness::Bytes;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kSkip = 77;
constexpr const char* kDaemonSecret = "FloodSecret0123";
constexpr std::size_t kKnownHosts = 48;
constexpr std::size_t kMaxDatagram = 65507;

int failures = 0;

void check(bool holds, const char* format, ...) __attribute__((format(printf, 2, 3)));
void check(bool holds, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::printf(holds ? "  ok    " : "  FAIL  ");
    std::vprintf(format, args);
    std::printf("\n");
    va_end(args);
    if (!holds) ++failures;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// xorshift64*: the same datagrams on every run for one seed.
struct Random {
    std::uint64_t state;
    std::uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1DULL;
    }
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next() >> 56); }
};

struct Host {
    std::string name;
    std::uint8_t mac[6];
    std::string secret;  // its own, put into its relayed packets
    unsigned copies = 1;
    bool via_sink = false;  // else through the gateway "default", which ends at the sink too
};

std::string mac_text(const std::uint8_t (&mac)[6]) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string key(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// What the daemon knows, and what it must answer to each host's packet.
struct World {
    std::vector<Host> hosts;  // the known hosts, then the marker; a duplicate is not listed
    std::size_t marker = 0;
    std::unordered_map<std::string, std::size_t> by_packet;  // relayed packet -> host
    std::unordered_map<std::string, std::size_t> by_line;    // "Got WoL" line -> host
    std::vector<std::string> lines;                          // host -> its "Got WoL" line

    std::string config(std::uint16_t sink) const {
        const std::string port = std::to_string(sink);
        std::string text =
            "; the gateway \"default\" and the gateway sink both end at the sink\n"
            "address 127.0.0.1\nport " +
            port + "\ngateway sink address 127.0.0.1 port " + port + "\n";
        for (const Host& host : hosts) {
            text += "host " + host.name + " mac " + mac_text(host.mac);
            if (host.via_sink) text += " via sink";
            if (host.copies != 1) text += " copies " + std::to_string(host.copies);
            if (!host.secret.empty()) text += " secret " + host.secret;
            text += "\n";
            if (&host == &hosts[3]) {
                // A second host with the same address: never the one woken.
                text += "host duplicate mac " + mac_text(host.mac) + " via sink\n";
            }
        }
        return text;
    }
};

World make_world() {
    World world;
    for (std::size_t i = 0; i < kKnownHosts; ++i) {
        Host host;
        char name[16];
        std::snprintf(name, sizeof name, "h%02zu", i);
        host.name = name;
        const std::uint8_t mac[6] = {
            0x02, 0xf1, 0, 0, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        std::memcpy(host.mac, mac, 6);
        host.via_sink = i % 2 == 0;
        if (i % 8 == 5) host.copies = 2;
        if (i % 5 == 2) host.secret = "hostpw" + std::string(name);
        world.hosts.push_back(host);
    }
    Host marker;
    marker.name = "marker";
    const std::uint8_t marker_mac[6] = {0x02, 0xf1, 0xff, 0xff, 0xff, 0x01};
    std::memcpy(marker.mac, marker_mac, 6);
    marker.via_sink = true;
    world.marker = world.hosts.size();
    world.hosts.push_back(marker);
    for (std::size_t i = 0; i < world.hosts.size(); ++i) {
        const Host& host = world.hosts[i];
        world.by_packet[key(harness::magic_packet(host.mac, host.secret))] = i;
        world.lines.push_back("Got WoL for host: " + host.name + " (" + mac_text(host.mac) + ")");
        world.by_line[world.lines.back()] = i;
    }
    return world;
}

enum Kind {
    kValid,
    kUnknownMac,
    kTruncated,
    kOversized,
    kWrongSecret,
    kOverlongSecret,
    kMissingSecret,
    kBadHeader,
    kBadCopies,
    kRandom,
    kEmpty,
    kKinds
};

constexpr const char* kKindNames[kKinds] = {
    "valid",          "unknown MAC", "truncated",  "oversized", "wrong secret", "overlong secret",
    "missing secret", "bad header",  "bad copies", "random",    "empty"};

// Shares per thousand.
constexpr int kKindWeights[kKinds] = {330, 80, 100, 15, 120, 60, 80, 60, 60, 85, 10};

// Makes one datagram of `kind` into `out`; returns the host it wakes, or -1.
int make_datagram(Kind kind, const World& world, Random& random, Bytes& out) {
    const std::string secret = kDaemonSecret;
    const std::size_t host = random.below(kKnownHosts);
    const auto& mac = world.hosts[host].mac;
    out = harness::magic_packet(mac, secret);
    switch (kind) {
        case kValid:
            return static_cast<int>(host);
        case kUnknownMac: {
            std::uint8_t other[6] = {0x02,          0xe0,          random.byte(),
                                     random.byte(), random.byte(), random.byte()};
            out = harness::magic_packet(other, secret);
            break;
        }
        case kTruncated:
            out.resize(1 + random.below(101));  // 1 to 101 bytes
            break;
        case kOversized: {
            const std::size_t length =
                random.below(8) == 0 ? kMaxDatagram : 2049 + random.below(kMaxDatagram - 2048);
            while (out.size() < length)
                out.push_back(random.byte());
            break;
        }
        case kWrongSecret: {
            Bytes trailer(secret.begin(), secret.end());
            switch (random.below(4)) {
                case 0:  // one byte different
                    trailer[random.below(trailer.size())] ^=
                        static_cast<std::uint8_t>(1 + random.below(255));
                    break;
                case 1:  // one byte short
                    trailer.pop_back();
                    break;
                case 2:  // one byte more
                    trailer.push_back('x');
                    break;
                default:  // 64 bytes of anything
                    trailer.resize(64);
                    for (std::uint8_t& b : trailer)
                        b = random.byte();
            }
            out.resize(102);
            out.insert(out.end(), trailer.begin(), trailer.end());
            break;
        }
        case kOverlongSecret: {
            // The secret, then more: any trailer of 65 bytes or more.
            const std::size_t length = 102 + 65 + random.below(2048 - 102 - 65 + 1);
            while (out.size() < length)
                out.push_back(random.byte());
            break;
        }
        case kMissingSecret:
            out.resize(102);
            break;
        case kBadHeader:
            out[random.below(6)] = static_cast<std::uint8_t>(random.below(255));  // not 0xFF
            break;
        case kBadCopies: {
            const std::size_t copy = 1 + random.below(15);
            out[6 + 6 * copy + random.below(6)] ^= static_cast<std::uint8_t>(1 + random.below(255));
            break;
        }
        case kRandom:
            out.resize(random.below(2049));
            for (std::uint8_t& b : out)
                b = random.byte();
            break;
        case kEmpty:
            out.clear();
            break;
        case kKinds:
            break;
    }
    return -1;
}

Kind pick(Random& random) {
    int roll = static_cast<int>(random.below(1000));
    for (int kind = 0; kind < kKinds; ++kind) {
        if (roll < kKindWeights[kind]) return static_cast<Kind>(kind);
        roll -= kKindWeights[kind];
    }
    return kValid;
}

// The receive memory that the kernel charges for a datagram on loopback, rounded up.
std::uint64_t charge(std::size_t length) {
    return length < 8192 ? 2 * (length + 200) + 900 : length + 1024;
}

std::uint64_t receive_buffer() {
    const std::string text = harness::read_file("/proc/sys/net/core/rmem_default");
    const std::uint64_t value = std::strtoull(text.c_str(), nullptr, 10);
    return value > 0 ? value : 212992;
}

struct Flood {
    std::uint16_t port = 0;  // the daemon's
    std::uint64_t budget = 0;
    Clock::time_point deadline;
    std::atomic<bool> abandon{false};
    std::atomic<std::uint64_t> waits{0};

    std::uint64_t queued() const {
        const auto socket = harness::udp_socket(port);
        return socket ? socket->rx_queue : 0;
    }

    // Waits until the daemon's queue has room for `cost` within the budget.
    void make_room(std::uint64_t cost) {
        while (!abandon) {
            const std::uint64_t queue = queued();
            if (queue == 0 || queue + cost <= budget) return;
            ++waits;
            if (Clock::now() > deadline) {
                abandon = true;
                return;
            }
            std::this_thread::sleep_for(20us);
        }
    }

    // Waits until the daemon has taken everything from its queue.
    bool drained(std::chrono::milliseconds limit) {
        return harness::eventually([&] { return queued() == 0; }, limit);
    }
};

struct Sender {
    int fd = -1;
    Random random;
    std::vector<std::uint64_t> woken;  // valid datagrams sent, per host
    std::array<std::uint64_t, kKinds> kinds{};
    std::uint64_t bytes = 0;
    std::uint64_t since_check = 0;

    Sender(std::uint16_t port, std::uint64_t seed, std::size_t hosts)
        : random{seed}, woken(hosts, 0) {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            std::perror("sender");
            std::exit(1);
        }
        const int big = 1 << 20;
        (void)setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    }
    ~Sender() { close(fd); }

    void send(Flood& flood, const Bytes& datagram) {
        const std::uint64_t cost = charge(datagram.size());
        if (since_check + cost > flood.budget) {
            flood.make_room(cost);
            since_check = 0;
        }
        while (::send(fd, datagram.data(), datagram.size(), 0) < 0) {
            if (errno != EINTR && errno != ENOBUFS && errno != EAGAIN) {
                std::perror("send");
                flood.abandon = true;
                return;
            }
        }
        since_check += cost;
        bytes += datagram.size();
    }

    void run(Flood& flood, const World& world, std::uint64_t count) {
        Bytes datagram;
        for (std::uint64_t i = 0; i < count && !flood.abandon; ++i) {
            const Kind kind = pick(random);
            const int host = make_datagram(kind, world, random, datagram);
            send(flood, datagram);
            ++kinds[kind];
            if (host >= 0) ++woken[static_cast<std::size_t>(host)];
        }
    }
};

// Collects what reaches the sink: the host of every packet, or a count of strangers.
struct SinkReader {
    harness::UdpSink sink{32 << 20};
    std::vector<std::size_t> hosts;
    std::uint64_t strangers = 0;
    std::string first_stranger;
    std::atomic<std::uint64_t> markers{0};
    std::atomic<std::uint64_t> received{0};
    std::atomic<bool> stop{false};
    std::thread thread;

    void start(const World& world) {
        thread = std::thread([this, &world] {
            Bytes buffer(65536);
            while (!stop) {
                pollfd ready{.fd = sink.fd(), .events = POLLIN, .revents = 0};
                if (poll(&ready, 1, 50) <= 0) continue;
                const ssize_t length = recv(sink.fd(), buffer.data(), buffer.size(), 0);
                if (length < 0) continue;
                ++received;
                const auto found =
                    world.by_packet.find(std::string(buffer.begin(), buffer.begin() + length));
                if (found == world.by_packet.end()) {
                    if (strangers++ == 0) first_stranger = std::to_string(length) + " bytes";
                    continue;
                }
                hosts.push_back(found->second);
                if (found->second == world.marker) ++markers;
            }
        });
    }
    void finish() {
        stop = true;
        if (thread.joinable()) thread.join();
    }
};

// Reads the daemon's standard output: the host of every "Got WoL" line.
struct LineReader {
    int fd = -1;
    std::vector<std::size_t> hosts;
    std::uint64_t strangers = 0;
    std::string first_stranger;
    std::thread thread;

    void start(const World& world) {
        thread = std::thread([this, &world] {
            std::string pending;
            char buffer[65536];
            ssize_t length;
            while ((length = read(fd, buffer, sizeof buffer)) != 0) {
                if (length < 0) {
                    if (errno == EINTR) continue;
                    break;
                }
                pending.append(buffer, static_cast<std::size_t>(length));
                std::size_t start = 0, end;
                while ((end = pending.find('\n', start)) != std::string::npos) {
                    const std::string line = pending.substr(start, end - start);
                    const auto found = world.by_line.find(line);
                    if (found != world.by_line.end()) {
                        hosts.push_back(found->second);
                    } else if (strangers++ == 0) {
                        first_stranger = line;
                    }
                    start = end + 1;
                }
                pending.erase(0, start);
            }
            if (!pending.empty() && strangers++ == 0) first_stranger = pending;
        });
    }
    void finish() {
        if (thread.joinable()) thread.join();
        if (fd >= 0) close(fd);
    }
};

struct MemcheckReport {
    bool complete = false;
    long errors = -1;
    long definite = 0, indirect = 0;
    std::string summary;
};

// The number after `label` in the memcheck log, such as "definitely lost: 1,024 bytes";
// -1 when the log has no such line.
long number_after(const std::string& log, const std::string& label) {
    const std::size_t at = log.find(label);
    if (at == std::string::npos) return -1;
    long value = 0;
    for (std::size_t i = at + label.size(); i < log.size(); ++i) {
        const char c = log[i];
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
        } else if (c != ',') {
            break;
        }
    }
    return value;
}

MemcheckReport read_memcheck(const std::string& path) {
    const std::string log = harness::read_file(path);
    MemcheckReport report;
    report.errors = number_after(log, "ERROR SUMMARY: ");
    report.complete = report.errors >= 0;
    // A report without leaks says so instead of listing the kinds.
    report.definite = std::max(0L, number_after(log, "definitely lost: "));
    report.indirect = std::max(0L, number_after(log, "indirectly lost: "));
    std::istringstream lines(log);
    for (std::string text; std::getline(lines, text);) {
        for (const char* wanted :
             {"in use at exit", "definitely lost", "indirectly lost", "possibly lost",
              "still reachable", "ERROR SUMMARY", "All heap blocks", "Process terminating"}) {
            if (text.find(wanted) != std::string::npos) {
                report.summary += "    " + text + "\n";
                break;
            }
        }
    }
    return report;
}

void check_memcheck(const std::string& path) {
    const MemcheckReport report = read_memcheck(path);
    std::printf("  memcheck (%s):\n%s", path.c_str(), report.summary.c_str());
    check(report.complete, "memcheck finished its report");
    check(report.errors == 0, "memcheck errors: %ld", report.errors);
    check(report.definite == 0 && report.indirect == 0,
          "no definite or indirect loss (%ld and %ld bytes)", report.definite, report.indirect);
}

std::vector<std::string> memcheck_prefix(const std::string& valgrind, const std::string& log) {
    return {valgrind,
            "--error-exitcode=1",
            "--leak-check=full",
            "--errors-for-leak-kinds=definite,indirect",
            "--show-leak-kinds=definite,indirect",
            "--log-file=" + log};
}

struct Settings {
    std::string mode;
    std::uint64_t count = 0;
    std::string valgrind;
    bool end_by_fault = false;
    bool sanitized = false;
    std::uint64_t seed = 0x7e5c0ffee;
    double limit = 85;  // seconds for the whole run
};

int flood_daemon(const Settings& settings) {
    const bool memcheck = !settings.valgrind.empty();
    const Clock::time_point began = Clock::now();
    harness::TempDir dir;
    const World world = make_world();
    SinkReader sink;
    const std::string config = dir.write("flood.conf", world.config(sink.sink.port()));
    const std::string memcheck_log = dir.path() + "/memcheck.log";
    const std::string err_file = dir.path() + "/daemon.err";
    const std::string syslog_file = dir.path() + "/syslog";

    std::printf("flood: %" PRIu64 " datagrams to the daemon from two senders%s%s\n", settings.count,
                memcheck ? ", under memcheck" : "",
                settings.end_by_fault ? ", ended through its exit path" : "");

    Flood flood;
    flood.deadline = began + std::chrono::milliseconds(static_cast<long>(settings.limit * 1000));
    flood.budget = receive_buffer() / 4;

    // The number of receives that go through before the one that ends the daemon, when it
    // is to end by a fault: every datagram of the run, the two markers included.
    const std::uint64_t warm_up =
        std::max<std::uint64_t>(100, std::min<std::uint64_t>(5000, settings.count / 20));
    const std::uint64_t main_part = settings.count > warm_up ? settings.count - warm_up : 0;
    const std::uint64_t first_half = main_part / 2, second_half = main_part - first_half;
    const std::uint64_t receives = warm_up + main_part + 2;

    pid_t pid = -1;
    LineReader lines;
    for (int attempt = 0; attempt < 5 && pid < 0; ++attempt) {
        flood.port = harness::free_udp_port();
        harness::Launch launch;
        launch.program = TESK_BINARY;
        launch.args = {"-D", "-F",          "-A", "127.0.0.1", "-P", std::to_string(flood.port),
                       "-S", kDaemonSecret, "-f", config};
        launch.env = {"HOME=" + dir.path()};
        if (!settings.sanitized) {
            // The system log is caught in a file rather than filled with the relays.
            launch.env.push_back(std::string("LD_PRELOAD=") + TESK_INTERPOSER);
            launch.env.push_back("TESK_FAULT_SYSLOG=" + syslog_file);
        }
        if (settings.end_by_fault) {
            launch.env.push_back("TESK_FAULT_RECVFROM_ERRNO=EIO");
            launch.env.push_back("TESK_FAULT_RECVFROM_AFTER=" + std::to_string(receives));
        }
        if (memcheck) launch.prefix = memcheck_prefix(settings.valgrind, memcheck_log);
        launch.out = harness::Stream::capture;
        launch.err = harness::Stream::file;
        launch.err_file = err_file;
        const pid_t started = harness::start(launch, &lines.fd);
        const bool listening = harness::eventually(
            [&] {
                if (harness::wait_for(started, 0ms)) return true;
                const auto socket = harness::udp_socket(flood.port);
                return socket && harness::descriptor_of(started, socket->inode) >= 0;
            },
            60000ms);
        const auto socket = harness::udp_socket(flood.port);
        if (listening && socket && harness::descriptor_of(started, socket->inode) >= 0) {
            pid = started;
        } else {
            harness::stop(started);
            close(lines.fd);
        }
    }
    if (pid < 0) {
        std::printf("  FAIL  the daemon did not start listening\n");
        return 1;
    }
    sink.start(world);
    lines.start(world);
    const std::uint64_t rcvbuf_errors_before = harness::udp_receive_buffer_errors();

    const std::size_t hosts = world.hosts.size();
    Sender first(flood.port, settings.seed, hosts),
        second(flood.port, settings.seed * 31 + 7, hosts);
    Bytes marker = harness::magic_packet(world.hosts[world.marker].mac, kDaemonSecret);
    const auto send_marker = [&](std::uint64_t number) {
        flood.drained(60000ms);
        first.send(flood, marker);
        ++first.woken[world.marker];
        ++first.kinds[kValid];
        return harness::eventually([&] { return sink.markers >= number; }, 60000ms);
    };

    // Warm-up: every kind of datagram once at least, then a sample of the daemon.
    first.run(flood, world, warm_up);
    const bool warmed = send_marker(1);
    check(warmed, "warm-up of %" PRIu64 " datagrams relayed its marker", warm_up);
    const long rss_start = harness::resident_kib(pid);
    const int fds_start = harness::descriptor_count(pid);

    const Clock::time_point flood_began = Clock::now();
    long rss_peak = rss_start;
    std::thread one([&] { first.run(flood, world, first_half); });
    std::thread two([&] { second.run(flood, world, second_half); });
    std::atomic<bool> sending{true};
    std::thread sampler([&] {
        while (sending) {
            rss_peak = std::max(rss_peak, harness::resident_kib(pid));
            std::this_thread::sleep_for(200ms);
        }
    });
    one.join();
    two.join();
    const double flood_seconds = seconds_since(flood_began);
    const bool finished = !flood.abandon && send_marker(2);
    const double drain_seconds = seconds_since(flood_began) - flood_seconds;
    sending = false;
    sampler.join();

    const long rss_end = harness::resident_kib(pid);
    const int fds_end = harness::descriptor_count(pid);
    const auto socket = harness::udp_socket(flood.port);
    const std::uint64_t drops = socket ? socket->drops : ~0ULL;
    const auto sink_socket = harness::udp_socket(sink.sink.port());
    const std::uint64_t sink_drops = sink_socket ? sink_socket->drops : ~0ULL;
    const std::uint64_t rcvbuf_errors = harness::udp_receive_buffer_errors() - rcvbuf_errors_before;
    const bool alive = !harness::wait_for(pid, 0ms);

    // The end: SIGTERM, or the one more datagram whose receive the interposer fails.
    harness::Result ended;
    if (settings.end_by_fault && alive) {
        harness::send_datagram(flood.port, marker);
        const auto result = harness::wait_for(pid, 60000ms);
        ended = result ? *result : harness::stop(pid);
    } else {
        ended = harness::stop(pid, 60000ms);
    }
    lines.finish();
    sink.finish();

    // Figures.
    std::array<std::uint64_t, kKinds> kinds{};
    std::vector<std::uint64_t> woken(hosts, 0);
    for (const Sender* sender : {&first, &second}) {
        for (int k = 0; k < kKinds; ++k)
            kinds[k] += sender->kinds[k];
        for (std::size_t h = 0; h < hosts; ++h)
            woken[h] += sender->woken[h];
    }
    std::uint64_t total = 0, valid = 0;
    std::printf("  sent:");
    for (int k = 0; k < kKinds; ++k) {
        std::printf("%s %s %" PRIu64, k == 0 ? "" : ",", kKindNames[k], kinds[k]);
        total += kinds[k];
    }
    for (std::uint64_t w : woken)
        valid += w;
    std::printf("\n  %" PRIu64 " datagrams (%.1f MB), %" PRIu64
                " valid; flood %.2f s (%.0f/s), "
                "drain %.2f s, %" PRIu64 " pauses for the daemon's queue\n",
                total, static_cast<double>(first.bytes + second.bytes) / 1e6, valid, flood_seconds,
                static_cast<double>(main_part) / flood_seconds, drain_seconds, flood.waits.load());
    std::printf(
        "  daemon: VmRSS %ld kB after warm-up, %ld kB peak, %ld kB at the end; "
        "descriptors %d and %d\n",
        rss_start, rss_peak, rss_end, fds_start, fds_end);
    std::printf("  kernel: %" PRIu64 " drops on the daemon's socket, %" PRIu64
                " on the sink's, RcvbufErrors +%" PRIu64 "\n",
                drops, sink_drops, rcvbuf_errors);
    std::printf("  relayed: %zu \"Got WoL\" lines, %zu packets at the sink\n", lines.hosts.size(),
                sink.hosts.size());

    // Checks.
    check(finished, "all datagrams sent and handled within the time limit");
    check(alive, "the daemon was still running after the flood");
    check(fds_end == fds_start, "descriptors unchanged: %d -> %d", fds_start, fds_end);
    if (memcheck || settings.sanitized) {
        std::printf("  note  resident memory is not judged under memcheck or the sanitizers\n");
    } else {
        check(rss_end - rss_start <= 256, "resident memory did not grow: %+ld kB",
              rss_end - rss_start);
    }
    check(sink_drops == 0, "the sink dropped nothing");
    check(lines.strangers == 0, "every line on the daemon's output is a relay of a known host%s%s",
          lines.strangers ? ": " : "", lines.first_stranger.c_str());
    check(sink.strangers == 0, "nothing but the hosts' packets reached the sink%s%s",
          sink.strangers ? ": " : "", sink.first_stranger.c_str());
    std::vector<std::size_t> expected_packets;
    for (std::size_t host : lines.hosts)
        expected_packets.insert(expected_packets.end(), world.hosts[host].copies, host);
    check(expected_packets == sink.hosts,
          "the sink got each relay's packets, with the host's copies and secret, in the order of "
          "the daemon's lines");
    std::vector<std::uint64_t> relayed(hosts, 0);
    for (std::size_t host : lines.hosts)
        ++relayed[host];
    if (drops == 0) {
        check(relayed == woken,
              "every valid datagram was relayed once to its host, and nothing else");
    } else {
        bool within = true;
        std::uint64_t missing = 0;
        for (std::size_t h = 0; h < hosts; ++h) {
            within = within && relayed[h] <= woken[h];
            missing += woken[h] - std::min(woken[h], relayed[h]);
        }
        check(within && missing <= drops,
              "the kernel dropped %" PRIu64 " datagrams: %" PRIu64
              " valid ones were not relayed, and no host was woken more often than asked",
              drops, missing);
    }
    // The program's name in its messages is its argv[0]: the path that memcheck was given.
    const std::string err = harness::read_file(err_file);
    const std::string last_words =
        settings.end_by_fault
            ? std::string(memcheck ? TESK_BINARY : "tesk") + ": daemon_run: Input/output error\n"
            : "";
    check(err == last_words, "standard error %s%.200s", err.empty() ? "empty" : "holds ",
          err.c_str());
    if (!settings.sanitized) {
        const std::string prefix = "daemon.info tesk[" + std::to_string(pid) + "]: ";
        std::string expected;
        for (std::size_t host : lines.hosts)
            expected += prefix + world.lines[host] + "\n";
        if (settings.end_by_fault) {
            expected +=
                "daemon.err tesk[" + std::to_string(pid) + "]: daemon_run: Input/output error\n";
        }
        const std::string logged = harness::read_file(syslog_file);
        check(logged == expected, "the system log has a line for every relay (%zu bytes)",
              logged.size());
    }
    if (settings.end_by_fault) {
        check(ended.exited && ended.status == 1 && !ended.timed_out,
              "the daemon left through its exit path after the failed receive (status %d)",
              ended.status);
    } else {
        check(!ended.exited && ended.signal == SIGTERM && !ended.timed_out,
              "the daemon ended by SIGTERM");
    }
    if (memcheck) check_memcheck(memcheck_log);
    std::printf("flood: %s in %.1f s\n", failures == 0 ? "passed" : "FAILED", seconds_since(began));
    return failures == 0 ? 0 : 1;
}

int bulk_wake(const Settings& settings) {
    const bool memcheck = !settings.valgrind.empty();
    const Clock::time_point began = Clock::now();
    harness::TempDir dir;
    SinkReader sink;
    World world;
    std::string config = "address 127.0.0.1\nport " + std::to_string(sink.sink.port()) + "\n";
    for (std::uint64_t i = 0; i < settings.count; ++i) {
        Host host;
        char name[32];
        std::snprintf(name, sizeof name, "b%04" PRIu64, i);
        host.name = name;
        const std::uint8_t mac[6] = {
            0x02, 0xb0, 0, 0, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        std::memcpy(host.mac, mac, 6);
        world.by_packet[key(harness::magic_packet(host.mac))] = world.hosts.size();
        world.hosts.push_back(host);
        config += "host " + host.name + " mac " + mac_text(host.mac) + "\n";
    }
    world.marker = world.hosts.size();  // none
    const std::string path = dir.write("bulk.conf", config);
    const std::string memcheck_log = dir.path() + "/memcheck.log";
    std::printf("bulk: waking %" PRIu64 " hosts of the group \"all\"%s\n", settings.count,
                memcheck ? ", under memcheck" : "");
    sink.start(world);

    harness::Launch launch;
    launch.program = TESK_BINARY;
    launch.args = {"-f", path, "-a", "127.0.0.1", "-p", std::to_string(sink.sink.port()), "all"};
    launch.env = {"HOME=" + dir.path()};
    if (memcheck) launch.prefix = memcheck_prefix(settings.valgrind, memcheck_log);
    const harness::Result result =
        harness::run(launch, std::chrono::milliseconds(static_cast<long>(settings.limit * 1000)));
    const double run_seconds = seconds_since(began);
    harness::eventually([&] { return sink.received >= settings.count; }, 5000ms);
    sink.finish();

    std::vector<std::size_t> in_order(settings.count);
    for (std::size_t i = 0; i < in_order.size(); ++i)
        in_order[i] = i;
    std::printf("  %.2f s, %zu packets at the sink\n", run_seconds, sink.hosts.size());
    check(result.exited && result.status == 0 && !result.timed_out, "exit status 0 (%d)",
          result.status);
    check(result.out.empty() && result.err.empty(), "nothing on standard output or error%s%.200s",
          result.err.empty() ? "" : ": ", result.err.c_str());
    check(sink.strangers == 0, "nothing but the hosts' packets reached the sink");
    check(sink.hosts == in_order, "every host's packet, once, in configuration order");
    if (memcheck) check_memcheck(memcheck_log);
    std::printf("bulk: %s\n", failures == 0 ? "passed" : "FAILED");
    return failures == 0 ? 0 : 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: flood daemon COUNT [--valgrind PATH [--end-by-fault]] [--sanitized]\n"
                 "       flood bulk HOSTS [--valgrind PATH]\n"
                 "       [--seed N] [--limit SECONDS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    if (argc < 3) return usage();
    Settings settings;
    settings.mode = argv[1];
    settings.count = std::strtoull(argv[2], nullptr, 10);
    bool wants_valgrind = false;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--valgrind" && i + 1 < argc) {
            wants_valgrind = true;
            settings.valgrind = argv[++i];
        } else if (option == "--end-by-fault") {
            settings.end_by_fault = true;
        } else if (option == "--sanitized") {
            settings.sanitized = true;
        } else if (option == "--seed" && i + 1 < argc) {
            settings.seed = std::strtoull(argv[++i], nullptr, 0);
        } else if (option == "--limit" && i + 1 < argc) {
            settings.limit = std::strtod(argv[++i], nullptr);
        } else {
            return usage();
        }
    }
    if (settings.count == 0) return usage();
    if (wants_valgrind) {
        if (settings.sanitized) {
            std::printf("skipped: memcheck cannot run a program built with the sanitizers\n");
            return kSkip;
        }
        if (settings.valgrind.empty() || access(settings.valgrind.c_str(), X_OK) != 0) {
            std::printf("skipped: valgrind is not installed (Debian package valgrind)\n");
            return kSkip;
        }
    }
    if (settings.end_by_fault && settings.sanitized) {
        std::printf("skipped: the interposer is not preloaded into a sanitizer build\n");
        return kSkip;
    }
    if (access("/proc/net/udp", R_OK) != 0) {
        std::printf("skipped: no /proc/net/udp to watch the daemon's socket with\n");
        return kSkip;
    }
    if (settings.mode == "daemon") return flood_daemon(settings);
    if (settings.mode == "bulk") return bulk_wake(settings);
    return usage();
}
