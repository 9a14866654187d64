// Running the built program whole, as a user would, and capturing what it does.
#pragma once

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

// True when the test runs inside namespaces of its own (root, see tests/support/isolate): then the
// program may use its default broadcast destination and the system configuration file.
bool isolated();

// The system configuration file that the program reads first.
std::string system_config_path();
