#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace larkspire::testing {

// A program a test runs, its standard output read line by line. Ended (SIGTERM) and
// reaped when the object goes, unless it has already been waited for.
class ChildProcess {
  public:
    // `args` starts with the program, found on PATH. Throws when it cannot start.
    explicit ChildProcess(std::vector<std::string> args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // The whole lines written so far; never blocks.
    std::vector<std::string> lines();
    bool seen(const std::string& line);
    // Blocks at most `seconds` for `line`.
    bool waitForLine(const std::string& line, double seconds);
    // Blocks at most `seconds` for the exit: the exit status, 128 + the signal that ended
    // it, or -1 when it had to be killed.
    int wait(double seconds);
    void signal(int number);

  private:
    void read(int timeoutMs);

    pid_t pid_ = -1;
    int fd_ = -1;
    bool reaped_ = false;
    std::string partial_;
    std::vector<std::string> lines_;
};

}  // namespace larkspire::testing
