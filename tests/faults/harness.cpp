#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace harness {

namespace {

[[noreturn]] void broken(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void remove_tree(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR* dir = opendir(path.c_str())) {
            while (const dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") remove_tree(path + "/" + name);
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

std::uint16_t bound_port(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        broken("getsockname");
    }
    return ntohs(address.sin_port);
}

int open_stream(Stream stream, const std::string& file, int flags) {
    switch (stream) {
        case Stream::dev_null:
            return open("/dev/null", flags);
        case Stream::dev_full:
            return open("/dev/full", flags);
        case Stream::file:
            return open(file.c_str(), flags | O_CREAT | O_TRUNC, 0644);
        default:
            return -1;
    }
}

// In the child: puts `fd` at `target`, or leaves `target` closed for -1.
void place(int fd, int target) {
    if (fd < 0) {
        close(target);
    } else if (fd != target) {
        dup2(fd, target);
    }
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

struct Pipes {
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
};

pid_t spawn(const Launch& launch, Pipes& pipes) {
    if (launch.in == Stream::capture && pipe2(pipes.in, O_CLOEXEC) != 0) broken("pipe");
    if (launch.out == Stream::capture && pipe2(pipes.out, O_CLOEXEC) != 0) broken("pipe");
    if (launch.err == Stream::capture && pipe2(pipes.err, O_CLOEXEC) != 0) broken("pipe");

    std::vector<std::string> argv = launch.prefix;
    argv.push_back(launch.prefix.empty() ? launch.program_word : launch.program);
    argv.insert(argv.end(), launch.args.begin(), launch.args.end());
    std::vector<std::string> env = launch.env;
    const std::string program = launch.prefix.empty() ? launch.program : launch.prefix.front();
    std::vector<char*> argv_pointers = pointers(argv);
    std::vector<char*> env_pointers = pointers(env);

    const pid_t pid = fork();
    if (pid < 0) broken("fork");
    if (pid == 0) {
        // Each stream is opened first and then moved into place, so that opening one
        // never lands on a number that another is still to take.
        int in = launch.in == Stream::capture ? pipes.in[0] : open_stream(launch.in, "", O_RDONLY);
        int out = launch.out == Stream::capture
                      ? pipes.out[1]
                      : open_stream(launch.out, launch.out_file, O_WRONLY);
        int err = launch.err == Stream::capture
                      ? pipes.err[1]
                      : open_stream(launch.err, launch.err_file, O_WRONLY);
        // Lift them above 2 before placing any of them.
        for (int* fd : {&in, &out, &err}) {
            if (*fd >= 0 && *fd <= 2) *fd = fcntl(*fd, F_DUPFD_CLOEXEC, 3);
        }
        place(in, 0);
        place(out, 1);
        place(err, 2);
        // Nothing else of the parent's reaches the program.
        for (int fd = 3; fd < 1024; ++fd)
            close(fd);
        execve(program.c_str(), argv_pointers.data(), env_pointers.data());
        _exit(127);
    }
    for (int* end : {&pipes.in[0], &pipes.out[1], &pipes.err[1]}) {
        if (*end >= 0) close(*end);
        *end = -1;
    }
    return pid;
}

Result decode(int status) {
    Result result;
    if (WIFEXITED(status)) {
        result.exited = true;
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tesk-hard-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) broken("mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    remove_tree(path_);
}

std::string TempDir::write(const std::string& name, const std::string& contents) const {
    const std::string file = path_ + "/" + name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) broken("writing " + file);
    return file;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

UdpSink::UdpSink(int receive_buffer) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) broken("socket");
    if (receive_buffer > 0) {
#if defined(SO_RCVBUFFORCE)
        if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &receive_buffer, sizeof receive_buffer) !=
            0)
#endif
            (void)setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    }
    const sockaddr_in address = loopback(0);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        broken("bind");
    }
    port_ = bound_port(fd_);
}

UdpSink::~UdpSink() {
    close(fd_);
}

std::vector<Bytes> UdpSink::receive(std::size_t count, std::chrono::milliseconds wait) {
    std::vector<Bytes> datagrams;
    Bytes buffer(65536);
    while (datagrams.size() < count) {
        pollfd ready{.fd = fd_, .events = POLLIN, .revents = 0};
        if (poll(&ready, 1, static_cast<int>(wait.count())) <= 0) break;
        const ssize_t length = recv(fd_, buffer.data(), buffer.size(), 0);
        if (length < 0) break;
        datagrams.emplace_back(buffer.begin(), buffer.begin() + length);
    }
    return datagrams;
}

std::vector<Bytes> UdpSink::drain(std::chrono::milliseconds quiet) {
    return receive(static_cast<std::size_t>(-1), quiet);
}

std::uint16_t send_datagram(std::uint16_t port, const Bytes& bytes) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) broken("socket");
    const sockaddr_in to = loopback(port);
    if (sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to) < 0) {
        close(fd);
        broken("sendto");
    }
    const std::uint16_t source = bound_port(fd);
    close(fd);
    return source;
}

std::uint16_t free_udp_port() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(0);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        broken("bind");
    }
    const std::uint16_t port = bound_port(fd);
    close(fd);
    return port;
}

Bytes magic_packet(const std::uint8_t (&mac)[6], const std::string& trailer) {
    Bytes packet(6, 0xFF);
    for (int copy = 0; copy < 16; ++copy)
        packet.insert(packet.end(), mac, mac + 6);
    packet.insert(packet.end(), trailer.begin(), trailer.end());
    return packet;
}

Result run(const Launch& launch, std::chrono::milliseconds limit) {
    Pipes pipes;
    const pid_t pid = spawn(launch, pipes);
    if (pipes.in[1] >= 0) {
        // Small inputs only: the whole text fits the pipe.
        const ssize_t unused = write(pipes.in[1], launch.input.data(), launch.input.size());
        (void)unused;
        close(pipes.in[1]);
    }
    std::string out, err;
    const auto end = std::chrono::steady_clock::now() + limit;
    bool timed_out = false;
    char buffer[65536];
    while (pipes.out[0] >= 0 || pipes.err[0] >= 0) {
        pollfd ends[2];
        nfds_t count = 0;
        for (int fd : {pipes.out[0], pipes.err[0]}) {
            if (fd >= 0) ends[count++] = {.fd = fd, .events = POLLIN, .revents = 0};
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timed_out = true;
            break;
        }
        if (poll(ends, count, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        for (nfds_t i = 0; i < count; ++i) {
            if (ends[i].revents == 0) continue;
            const ssize_t length = read(ends[i].fd, buffer, sizeof buffer);
            int& fd = ends[i].fd == pipes.out[0] ? pipes.out[0] : pipes.err[0];
            std::string& text = ends[i].fd == pipes.out[0] ? out : err;
            if (length > 0) {
                text.append(buffer, static_cast<std::size_t>(length));
            } else {
                close(fd);
                fd = -1;
            }
        }
    }
    std::optional<Result> result;
    if (!timed_out) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        result = wait_for(pid, std::max(left, std::chrono::milliseconds(0)));
    }
    if (!result) {
        kill(pid, SIGKILL);
        result = wait_for(pid, 5000ms);
        if (!result) result = Result{};
        result->timed_out = true;
    }
    for (int fd : {pipes.out[0], pipes.err[0]}) {
        if (fd >= 0) close(fd);
    }
    result->out = std::move(out);
    result->err = std::move(err);
    return *result;
}

pid_t start(const Launch& launch, int* out_pipe) {
    Launch quiet = launch;
    // A long-running child has nobody to read its pipes but the one handed over.
    if (quiet.in == Stream::capture) quiet.in = Stream::dev_null;
    if (quiet.out == Stream::capture && out_pipe == nullptr) quiet.out = Stream::dev_null;
    if (quiet.err == Stream::capture) quiet.err = Stream::dev_null;
    Pipes pipes;
    const pid_t pid = spawn(quiet, pipes);
    if (out_pipe != nullptr) *out_pipe = pipes.out[0];
    return pid;
}

std::optional<Result> wait_for(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (true) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return decode(status);
        if (done < 0 && errno != EINTR) return Result{};
        if (std::chrono::steady_clock::now() >= end) return std::nullopt;
        struct timespec pause = {0, 2000000};
        nanosleep(&pause, nullptr);
    }
}

Result stop(pid_t pid, std::chrono::milliseconds grace) {
    kill(pid, SIGTERM);
    if (auto result = wait_for(pid, grace)) return *result;
    kill(pid, SIGKILL);
    auto result = wait_for(pid, 5000ms);
    Result killed = result.value_or(Result{});
    killed.timed_out = true;
    return killed;
}

bool become_subreaper() {
#if defined(__linux__)
    return prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
#else
    return false;
#endif
}

std::optional<UdpSocketState> udp_socket(std::uint16_t port) {
    std::FILE* table = std::fopen("/proc/net/udp", "r");
    if (table == nullptr) return std::nullopt;
    char line[512];
    std::optional<UdpSocketState> found;
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    (void)std::fgets(line, sizeof line, table);  // the heading
    while (std::fgets(line, sizeof line, table) != nullptr) {
        char local[64], remote[64], queues[64], timer[64];
        unsigned slot, state, retransmits, uid, timeout, refs;
        unsigned long inode;
        unsigned long long pointer, drops;
        if (std::sscanf(line, " %u: %63s %63s %x %63s %63s %x %u %u %lu %u %llx %llu", &slot, local,
                        remote, &state, queues, timer, &retransmits, &uid, &timeout, &inode, &refs,
                        &pointer, &drops) != 13) {
            continue;
        }
        if (std::strcmp(local, wanted) != 0) continue;
        unsigned long long tx = 0, rx = 0;
        std::sscanf(queues, "%llx:%llx", &tx, &rx);
        found = UdpSocketState{.inode = inode, .rx_queue = rx, .drops = drops};
        break;
    }
    std::fclose(table);
    return found;
}

std::string descriptor_target(pid_t pid, int fd) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/fd/%d", static_cast<int>(pid), fd);
    char target[256];
    const ssize_t length = readlink(path, target, sizeof target - 1);
    if (length < 0) return "";
    return std::string(target, static_cast<std::size_t>(length));
}

int descriptor_of(pid_t pid, unsigned long inode) {
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return -1;
    int found = -1;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const int fd = std::atoi(entry->d_name);
        if (descriptor_target(pid, fd) == wanted) {
            found = fd;
            break;
        }
    }
    closedir(dir);
    return found;
}

std::optional<pid_t> owner_of(unsigned long inode) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return std::nullopt;
    std::optional<pid_t> owner;
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') continue;
        if (descriptor_of(static_cast<pid_t>(pid), inode) >= 0) {
            owner = static_cast<pid_t>(pid);
            break;
        }
    }
    closedir(proc);
    return owner;
}

int descriptor_count(pid_t pid) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count;
}

long resident_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

std::uint64_t udp_receive_buffer_errors() {
    std::ifstream snmp("/proc/net/snmp");
    std::string names, values;
    while (std::getline(snmp, names) && std::getline(snmp, values)) {
        if (names.rfind("Udp:", 0) != 0) continue;
        std::istringstream n(names), v(values);
        std::string name, value;
        while (n >> name && v >> value) {
            if (name == "RcvbufErrors") return std::strtoull(value.c_str(), nullptr, 10);
        }
    }
    return 0;
}

}  // namespace harness
