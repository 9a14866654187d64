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

Outcome run_tesk(const std::vector<std::string>& args, const RunSpec& spec) {
    TempDir home;
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
            const int slave = open(terminal_name.c_str(), O_RDWR | O_NOCTTY);
            dup2(slave, 0);
        } else if (spec.input) {
            dup2(in_pipe[0], 0);
        } else {
            const int null_device = open("/dev/null", O_RDONLY);
            dup2(null_device, 0);
        }
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd = 3; fd < 256; ++fd)
            close(fd);
        const std::string home_dir = spec.home.value_or(home.path);
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

    Outcome outcome;
    bool out_open = true, err_open = true;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long>(spec.timeout_seconds * 1000));
    const auto start = std::chrono::steady_clock::now();
    bool eof_sent = false;
    while (out_open || err_open) {
        // End of input on the terminal once the program has prompted (or had the time to).
        if (terminal >= 0 && !eof_sent &&
            (!outcome.err.empty() ||
             std::chrono::steady_clock::now() - start > std::chrono::seconds(2))) {
            (void)!write(terminal, "\x04", 1);
            eof_sent = true;
        }
        pollfd fds[2] = {{out_open ? out_pipe[0] : -1, POLLIN, 0},
                         {err_open ? err_pipe[0] : -1, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(child, SIGKILL);
            break;
        }
        const int wait_ms = terminal >= 0 && !eof_sent ? 100 : static_cast<int>(left.count());
        if (poll(fds, 2, wait_ms) <= 0) continue;
        if (fds[0].revents != 0) drain(out_pipe[0], outcome.out, out_open);
        if (fds[1].revents != 0) drain(err_pipe[0], outcome.err, err_open);
    }
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (terminal >= 0) close(terminal);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
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

bool isolated() {
    const char* flag = std::getenv("TESK_TEST_ISOLATED");
    return flag != nullptr && std::strcmp(flag, "1") == 0;
}

std::string system_config_path() {
    return TESK_SYSTEM_CONFIG;
}
