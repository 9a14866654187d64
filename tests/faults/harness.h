// Running the built program whole on loopback: temporary folders, a UDP sink, child
// processes with chosen standard streams and environment, and what /proc tells about
// a process's sockets, descriptors and memory.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace harness {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// A folder under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Writes `contents` to the file `name` in the folder and returns its path.
    std::string write(const std::string& name, const std::string& contents) const;

  private:
    std::string path_;
};

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string& path);

// A UDP socket bound to 127.0.0.1 on a port of the system's choosing.
class UdpSink {
  public:
    explicit UdpSink(int receive_buffer = 0);
    ~UdpSink();
    UdpSink(const UdpSink&) = delete;
    UdpSink& operator=(const UdpSink&) = delete;

    int fd() const { return fd_; }
    std::uint16_t port() const { return port_; }
    // Datagrams until `count` have come or `wait` has passed without one.
    std::vector<Bytes> receive(std::size_t count, std::chrono::milliseconds wait = 2000ms);
    // Whatever arrives within `quiet` of the previous datagram.
    std::vector<Bytes> drain(std::chrono::milliseconds quiet = 300ms);

  private:
    int fd_;
    std::uint16_t port_;
};

// Sends one datagram from a fresh socket to 127.0.0.1:port; returns the source port.
std::uint16_t send_datagram(std::uint16_t port, const Bytes& bytes);

// A loopback port that was free a moment ago.
std::uint16_t free_udp_port();

// The magic packet for `mac` (six bytes) followed by `trailer`.
Bytes magic_packet(const std::uint8_t (&mac)[6], const std::string& trailer = "");

// How a child's standard stream is set up.
enum class Stream {
    capture,   // a pipe read by the parent (standard input: the text given)
    closed,    // not open at all
    dev_null,  // /dev/null
    dev_full,  // /dev/full
    file,      // a file in the run's folder (output streams only; see Child)
};

struct Launch {
    std::vector<std::string> args;  // argv[1] on; argv[0] is `program_word`
    std::vector<std::string> env;   // NAME=VALUE entries; nothing else is inherited
    std::string program = "";       // the executable run
    std::string program_word = "tesk";
    std::vector<std::string> prefix;  // a wrapper run in front of the program (valgrind ...)
    Stream in = Stream::dev_null;
    Stream out = Stream::capture;
    Stream err = Stream::capture;
    std::string input;               // for in == capture
    std::string out_file, err_file;  // for Stream::file
};

struct Result {
    bool exited = false;     // ended through exit, with `status`
    int status = -1;         // exit status, when exited
    int signal = 0;          // the signal that ended it, otherwise
    bool timed_out = false;  // killed by the harness after the time limit
    std::string out, err;
};

// Runs the program to its end and collects what it wrote.
Result run(const Launch& launch, std::chrono::milliseconds limit = 10000ms);

// Starts the program and returns its process id; the caller ends and reaps it. A
// standard output to capture is handed over as the read end of a pipe in `out_pipe`;
// every other stream to capture goes to the null device.
pid_t start(const Launch& launch, int* out_pipe = nullptr);

// Waits for `pid` (a child, or one reparented to this process) to end, up to `limit`;
// nothing when it is still running then.
std::optional<Result> wait_for(pid_t pid, std::chrono::milliseconds limit);

// Ends a process that this harness started: SIGTERM, then SIGKILL after `grace`.
Result stop(pid_t pid, std::chrono::milliseconds grace = 5000ms);

// Makes this process the reaper of its orphaned descendants, so that a daemon that
// detaches from a child can be waited for. False where the system has no such thing.
bool become_subreaper();

// The socket bound to 127.0.0.1:port, from /proc/net/udp.
struct UdpSocketState {
    unsigned long inode = 0;
    std::uint64_t rx_queue = 0;
    std::uint64_t drops = 0;
};
std::optional<UdpSocketState> udp_socket(std::uint16_t port);

// The descriptor by which `pid` holds the socket `inode`; -1 when it holds none.
int descriptor_of(pid_t pid, unsigned long inode);

// The process that holds the socket `inode`, if any.
std::optional<pid_t> owner_of(unsigned long inode);

// What /proc/PID/fd/N refers to.
std::string descriptor_target(pid_t pid, int fd);

// Open descriptors of `pid`; resident memory (VmRSS) of `pid` in KiB.
int descriptor_count(pid_t pid);
long resident_kib(pid_t pid);

// The system-wide UDP RcvbufErrors counter.
std::uint64_t udp_receive_buffer_errors();

// Waits until `ready()` holds, or `limit` has passed; returns the last answer.
template <typename Ready>
bool eventually(Ready ready, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (ready()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        struct timespec pause = {0, 5000000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace harness
