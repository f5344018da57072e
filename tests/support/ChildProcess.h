#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace larkspire::testing {

// A program a test runs, its standard output read line by line. Ended (SIGTERM) and
// reaped when the object goes, unless it has already been waited for.
class ChildProcess {
  public:
    // `args` starts with the program, found on PATH; its standard error goes to
    // `stderrFile` when one is given. Throws when it cannot start.
    explicit ChildProcess(std::vector<std::string> args, const std::string& stderrFile = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // The whole lines written so far; never blocks.
    std::vector<std::string> lines();
    bool seen(const std::string& line);
    // Blocks at most `seconds` for `line`.
    bool waitForLine(const std::string& line, double seconds);
    // Blocks at most `seconds` for a line that starts with `prefix`; the rest of it.
    std::optional<std::string> waitForLineStartingWith(const std::string& prefix, double seconds);
    // Blocks at most `seconds` for the exit: the exit status, 128 + the signal that ended
    // it, or -1 when it had to be killed.
    int wait(double seconds);
    void signal(int number);
    // For output that is not text: the bytes that arrive within `timeoutMs` (none at the
    // end of the output). Not to be mixed with the line readers.
    std::string readBytes(int timeoutMs);

  private:
    void read(int timeoutMs);
    std::optional<std::string> waitFor(const std::string& prefix, bool whole, double seconds);

    pid_t pid_ = -1;
    int fd_ = -1;
    bool reaped_ = false;
    std::string partial_;
    std::vector<std::string> lines_;
};

}  // namespace larkspire::testing
