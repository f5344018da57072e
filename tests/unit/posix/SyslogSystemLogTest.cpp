#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/linux/posix/SyslogSystemLog.h"

namespace larkspire {
namespace {

// What the log writes to standard error while `write` runs.
template <class Write>
std::string stderrOf(Write write) {
    std::fflush(stderr);
    int pipes[2];
    EXPECT_EQ(::pipe(pipes), 0);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(pipes[1], STDERR_FILENO);
    write();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(pipes[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipes[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipes[0]);
    return out;
}

TEST(SyslogSystemLog, EveryLineGoesOutAsOneLineWhatEverItHolds) {
    linux_desktop::SyslogSystemLog log;
    const struct {
        std::string line;
        std::string written;
    } cases[] = {
        {"Pasted with Ctrl+V into Mail", "larkspire: Pasted with Ctrl+V into Mail\n"},
        // A window class that tries to start a line of its own.
        {"Front: Gtk\nlarkspire: Signed out", "larkspire: Front: Gtk larkspire: Signed out\n"},
        // Paragraph separator, a right-to-left override, a carriage return.
        {"a\u2029b\u202Ec\rd", "larkspire: a b c d\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(stderrOf([&] { log.log(c.line); }), c.written);
    }
    const std::string written = stderrOf([&] { log.log(std::string(10000, 'x')); });
    EXPECT_EQ(written.size(), std::string("larkspire: ").size() +
                                  linux_desktop::SyslogSystemLog::kMaxCharacters +
                                  std::string("…\n").size());
}

}  // namespace
}  // namespace larkspire
