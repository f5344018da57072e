#include "platform/linux/wayland/SwayWindowList.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

namespace larkspire::linux_desktop {
namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::uint32_t kGetTree = 4;
constexpr int kTimeoutMs = 500;

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool receiveAll(int fd, char* data, std::size_t size) {
    while (size > 0) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kTimeoutMs) <= 0) {
            return false;
        }
        const ssize_t n = recv(fd, data, size, 0);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// One request and its reply in sway's IPC framing: magic, payload length, type.
std::optional<std::string> ask(const char* socketPath, std::uint32_t type) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(socketPath) >= sizeof(address.sun_path)) {
        return std::nullopt;
    }
    std::strcpy(address.sun_path, socketPath);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> reply;
    char header[sizeof(kMagic) + 8];
    std::memcpy(header, kMagic, sizeof(kMagic));
    const std::uint32_t empty = 0;
    std::memcpy(header + sizeof(kMagic), &empty, 4);
    std::memcpy(header + sizeof(kMagic) + 4, &type, 4);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        sendAll(fd, header, sizeof(header)) && receiveAll(fd, header, sizeof(header)) &&
        std::memcmp(header, kMagic, sizeof(kMagic)) == 0) {
        std::uint32_t length = 0;
        std::memcpy(&length, header + sizeof(kMagic), 4);
        std::string payload(length, '\0');
        if (receiveAll(fd, payload.data(), length)) {
            reply = std::move(payload);
        }
    }
    close(fd);
    return reply;
}

void collect(const nlohmann::json& node, const std::string& output, int outputX, int outputY,
             std::vector<SwayWindowList::Window>& windows) {
    std::string here = output;
    if (node.value("type", "") == "output") {
        here = node.value("name", "");
        const auto rect = node.value("rect", nlohmann::json::object());
        outputX = rect.value("x", 0);
        outputY = rect.value("y", 0);
    }
    // A view: it has a process; "visible" is false on hidden workspaces and tabs.
    if (node.contains("pid") && node["pid"].is_number() && node.value("visible", false)) {
        const auto rect = node.value("rect", nlohmann::json::object());
        const auto content = node.value("window_rect", nlohmann::json::object());
        SwayWindowList::Window w;
        w.id = node.value("id", std::uint64_t{0});
        w.pid = node.value("pid", 0);
        w.focused = node.value("focused", false);
        w.output = here;
        // window_rect is relative to the container's rect (its border and title).
        w.x = rect.value("x", 0) + content.value("x", 0) - outputX;
        w.y = rect.value("y", 0) + content.value("y", 0) - outputY;
        w.width = content.value("width", 0);
        w.height = content.value("height", 0);
        windows.push_back(w);
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        if (const auto it = node.find(children); it != node.end() && it->is_array()) {
            for (const auto& child : *it) {
                collect(child, here, outputX, outputY, windows);
            }
        }
    }
}

}  // namespace

bool SwayWindowList::available() {
    const char* socket = std::getenv("SWAYSOCK");
    return socket && *socket;
}

std::optional<std::vector<SwayWindowList::Window>> SwayWindowList::visibleWindows() {
    if (!available()) {
        return std::nullopt;
    }
    const auto tree = ask(std::getenv("SWAYSOCK"), kGetTree);
    if (!tree) {
        return std::nullopt;
    }
    return windowsOfTree(*tree);
}

std::vector<SwayWindowList::Window> SwayWindowList::windowsOfTree(const std::string& json) {
    std::vector<Window> windows;
    const auto tree = nlohmann::json::parse(json, nullptr, false);
    if (tree.is_discarded() || !tree.is_object()) {
        return windows;
    }
    collect(tree, "", 0, 0, windows);
    // Floating windows come last in the tree and lie above the tiled ones; the focused
    // one is in front of all.
    std::vector<Window> ordered;
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if (it->focused) {
            ordered.insert(ordered.begin(), *it);
        } else {
            ordered.push_back(*it);
        }
    }
    return ordered;
}

}  // namespace larkspire::linux_desktop
