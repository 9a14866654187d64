#include "support/program.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void drain(int fd, std::string& into, bool& open) {
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
        into.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
        open = false;
    }
}

}  // namespace

namespace {

struct Launched {
    pid_t pid;
    int out_fd;
    int err_fd;
    int terminal;  // the pseudo-terminal's master side, or -1
};

// Starts the program with its output on pipes; the input as `spec` says.
Launched launch(const std::vector<std::string>& args, const RunSpec& spec,
                const std::string& home) {
    int out_pipe[2], err_pipe[2], in_pipe[2];
    if (pipe(out_pipe) < 0 || pipe(err_pipe) < 0 || pipe(in_pipe) < 0)
        throw std::runtime_error("pipe");
    int terminal = -1;
    std::string terminal_name;
    if (spec.terminal_input) {
        terminal = posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal < 0 || grantpt(terminal) < 0 || unlockpt(terminal) < 0) {
            throw std::runtime_error("pty");
        }
        terminal_name = ptsname(terminal);
    }
    const pid_t child = fork();
    if (child == 0) {
        if (spec.terminal_input) {
            dup2(open(terminal_name.c_str(), O_RDWR | O_NOCTTY), 0);
        } else if (spec.input) {
            dup2(in_pipe[0], 0);
        } else {
            dup2(open("/dev/null", O_RDONLY), 0);
        }
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd = 3; fd < 256; ++fd)
            close(fd);
        const std::string home_dir = spec.home.value_or(home);
        if (home_dir.empty()) {
            unsetenv("HOME");
        } else {
            setenv("HOME", home_dir.c_str(), 1);
        }
        for (const auto& [name, value] : spec.env)
            setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>("tesk"));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(TESK_BINARY, argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    close(in_pipe[0]);
    if (spec.input && !spec.terminal_input) {
        // Small inputs fit the pipe; the tests give no more than that.
        (void)!write(in_pipe[1], spec.input->data(), spec.input->size());
    }
    close(in_pipe[1]);
    return {child, out_pipe[0], err_pipe[0], terminal};
}

int exit_status(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

Outcome run_tesk(const std::vector<std::string>& args, const RunSpec& spec) {
    TempDir home;
    const Launched child = launch(args, spec, home.path);
    int terminal = child.terminal;
    Outcome outcome;
    bool out_open = true, err_open = true;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline =
        start + std::chrono::milliseconds(static_cast<long>(spec.timeout_seconds * 1000));
    bool eof_sent = false;
    while (out_open || err_open) {
        // End of input on the terminal once the program has prompted (or had the time to).
        if (terminal >= 0 && !eof_sent &&
            (!outcome.err.empty() ||
             std::chrono::steady_clock::now() - start > std::chrono::seconds(2))) {
            (void)!write(terminal, "\x04", 1);
            eof_sent = true;
        }
        pollfd fds[2] = {{out_open ? child.out_fd : -1, POLLIN, 0},
                         {err_open ? child.err_fd : -1, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(child.pid, SIGKILL);
            break;
        }
        const int wait_ms = terminal >= 0 && !eof_sent ? 100 : static_cast<int>(left.count());
        if (poll(fds, 2, wait_ms) <= 0) continue;
        if (fds[0].revents != 0) drain(child.out_fd, outcome.out, out_open);
        if (fds[1].revents != 0) drain(child.err_fd, outcome.err, err_open);
    }
    close(child.out_fd);
    close(child.err_fd);
    int status = 0;
    waitpid(child.pid, &status, 0);
    if (terminal >= 0) close(terminal);
    outcome.status = exit_status(status);
    return outcome;
}

Background::Background(const std::vector<std::string>& args, const RunSpec& spec) {
    static const TempDir home;
    const Launched child = launch(args, spec, home.path);
    pid = child.pid;
    out_fd = child.out_fd;
    err_fd = child.err_fd;
}

Background::~Background() {
    if (pid > 0) stop();
    if (out_fd >= 0) close(out_fd);
    if (err_fd >= 0) close(err_fd);
}

bool Background::read_until(const std::string* text, const std::string* in, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    bool out_open = out_fd >= 0, err_open = err_fd >= 0;
    while (text == nullptr || in->find(*text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || (!out_open && !err_open)) break;
        pollfd fds[2] = {{out_open ? out_fd : -1, POLLIN, 0}, {err_open ? err_fd : -1, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
        if (fds[0].revents != 0) drain(out_fd, out, out_open);
        if (fds[1].revents != 0) drain(err_fd, err, err_open);
    }
    return text != nullptr && in->find(*text) != std::string::npos;
}

bool Background::wait_for_err(const std::string& text, double seconds) {
    return read_until(&text, &err, seconds);
}

bool Background::wait_for_out(const std::string& text, double seconds) {
    return read_until(&text, &out, seconds);
}

void Background::settle(double seconds) {
    read_until(nullptr, nullptr, seconds);
}

int Background::stop() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int raw = 0;
        waitpid(pid, &raw, 0);
        status = exit_status(raw);
        pid = -1;
        settle(0.05);
    }
    return status;
}

int Background::wait(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    while (pid > 0 && std::chrono::steady_clock::now() < deadline) {
        int raw = 0;
        if (waitpid(pid, &raw, WNOHANG) == pid) {
            status = exit_status(raw);
            pid = -1;
            break;
        }
        settle(0.02);
    }
    if (pid <= 0) settle(0.05);
    return pid > 0 ? -1 : status;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tesk-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& text) const {
    const std::string file = path + "/" + name;
    FILE* out = std::fopen(file.c_str(), "w");
    if (out == nullptr) throw std::runtime_error("cannot write " + file);
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    return file;
}

EtcOverlay::EtcOverlay(const EtcFiles& files) {
    if (!isolated()) throw std::runtime_error("EtcOverlay outside an isolated test");
    const std::string etc = copy.path + "/etc";
    if (std::system(("cp -a /etc " + etc + " 2>/dev/null; test -d " + etc).c_str()) != 0) {
        throw std::runtime_error("cannot copy /etc");
    }
    for (const auto& [name, text] : files)
        copy.write("etc/" + name, text);
    if (std::system(("mount --bind " + etc + " /etc").c_str()) != 0) {
        throw std::runtime_error("cannot bind " + etc);
    }
}

EtcOverlay::~EtcOverlay() {
    (void)std::system("umount /etc");
}

bool isolated() {
    const char* flag = std::getenv("TESK_TEST_ISOLATED");
    return flag != nullptr && std::strcmp(flag, "1") == 0;
}

std::string system_config_path() {
    return TESK_SYSTEM_CONFIG;
}
