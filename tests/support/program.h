// Running the built program whole, as a user would, and capturing what it does.
#pragma once

#include <sys/types.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct Outcome {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

struct RunSpec {
    std::optional<std::string> input;  // standard input; absent: /dev/null
    bool terminal_input = false;       // standard input is a pseudo-terminal (then closed at once)
    std::optional<std::string> home;   // HOME; absent: a fresh empty directory; "" unsets it
    std::vector<std::pair<std::string, std::string>> env;  // further variables
    double timeout_seconds = 20;                           // the program is killed after this
};

// Runs the tesk binary with `args` (argv[0] is "tesk") and waits for it to end.
Outcome run_tesk(const std::vector<std::string>& args, const RunSpec& spec = {});

// The program running in the background (the daemon), with its output read as it comes.
struct Background {
    Background(const std::vector<std::string>& args, const RunSpec& spec = {});
    ~Background();  // kills it if it still runs
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    // Reads output until standard error (or output) holds `text`, or `seconds` pass.
    bool wait_for_err(const std::string& text, double seconds = 10);
    bool wait_for_out(const std::string& text, double seconds = 10);
    // Reads whatever arrives within `seconds`.
    void settle(double seconds = 0.3);
    // Ends it with SIGTERM and reaps it; the exit status, or 128 + signal.
    int stop();
    // Waits for it to end by itself; the exit status, or -1 after `seconds`.
    int wait(double seconds = 10);

    pid_t pid = -1;
    std::string out;
    std::string err;

  private:
    bool read_until(const std::string* text, const std::string* in, double seconds);
    int out_fd = -1;
    int err_fd = -1;
    int status = -1;
};

// A fresh directory under the system's temporary directory, removed with its files on destruction.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes `text` to the file `name` in the directory and returns its path.
    std::string write(const std::string& name, const std::string& text) const;

    std::string path;
};

// Within an isolated test only: a copy of /etc with `files` (name, text) written into it,
// bound over /etc in the test's private mount namespace until destruction.
using EtcFiles = std::vector<std::pair<std::string, std::string>>;
struct EtcOverlay {
    explicit EtcOverlay(const EtcFiles& files);
    ~EtcOverlay();
    EtcOverlay(const EtcOverlay&) = delete;
    EtcOverlay& operator=(const EtcOverlay&) = delete;

    TempDir copy;
};

// True when the test runs inside namespaces of its own (root, see tests/support/isolate): then the
// program may use its default broadcast destination and the system configuration file.
bool isolated();

// The system configuration file that the program reads first.
std::string system_config_path();
