#include "platform/linux/common/KeyHandOver.h"

#include "platform/linux/common/KeyCommand.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace larkspire::linux_desktop {
namespace {

void putBigEndian32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xff));
    }
}

}  // namespace

std::string agentSocketPath() {
    std::string dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        dir = runtime;
    } else if (const std::string own = "/run/user/" + std::to_string(getuid());
               std::filesystem::is_directory(own)) {
        dir = own;
    } else {
        const passwd* user = getpwuid(getuid());
        dir = std::string("/tmp/runtime-") + (user ? user->pw_name : std::to_string(getuid()));
    }
    return dir + "/larkspire.socket";
}

std::string encodeArguments(const std::vector<std::string>& arguments) {
    std::string out;
    putBigEndian32(out, static_cast<std::uint32_t>(arguments.size()));
    for (const std::string& argument : arguments) {
        putBigEndian32(out, static_cast<std::uint32_t>(argument.size() * 2));
        for (const char c : argument) {
            if (static_cast<unsigned char>(c) > 0x7f) {
                return "";
            }
            out.push_back('\0');
            out.push_back(c);
        }
    }
    return out;
}

int runKeyCommand(const std::string& program, const std::vector<std::string>& arguments) {
    if (!KeyCommand::parse(arguments)) {
        std::fprintf(stderr, "%s: usage: %s press|release [--control]\n",
                     program.substr(0, program.find(' ')).c_str(), program.c_str());
        return 2;
    }
    if (!handToAgent(arguments)) {
        std::fprintf(stderr, "%s: no running agent took the key: start larkspire first\n",
                     program.substr(0, program.find(' ')).c_str());
        return 1;
    }
    return 0;
}

bool handToAgent(const std::vector<std::string>& arguments) {
    const std::string message = encodeArguments(arguments);
    const std::string path = agentSocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (message.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    bool sent = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    for (std::size_t done = 0; sent && done < message.size();) {
        const ssize_t n = send(fd, message.data() + done, message.size() - done, MSG_NOSIGNAL);
        sent = n > 0;
        done += sent ? static_cast<std::size_t>(n) : 0;
    }
    // The agent reads the message once the connection ends.
    close(fd);
    return sent;
}

}  // namespace larkspire::linux_desktop
