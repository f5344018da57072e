#include "platform/linux/posix/XdgAutostart.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

namespace larkspire::linux_desktop {

namespace {

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// An Exec argument as the desktop entry rules want it: "%" doubled, and quoted when it
// holds a reserved character; inside quotes '"', '`', '$' and the backslash take a backslash, and
// every backslash is doubled again because the value is itself an escaped string.
std::string execArgument(const std::string& program) {
    std::string text;
    for (char c : program) {
        text += c == '%' ? std::string("%%") : std::string(1, c);
    }
    if (text.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) {
        return text;
    }
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\\\\\";
            continue;
        }
        if (c == '"' || c == '`' || c == '$') {
            out += "\\\\";
        }
        out += c;
    }
    return out + "\"";
}

}  // namespace

XdgAutostart::XdgAutostart(std::filesystem::path configHome, std::string program)
    : entry_(std::move(configHome) / "autostart" / "larkspire.desktop"),
      program_(std::move(program)) {}

XdgAutostart XdgAutostart::forCurrentUser() {
    std::filesystem::path config;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && *xdg == '/') {
        config = xdg;
    } else {
        const char* home = std::getenv("HOME");
        config = std::filesystem::path(home != nullptr ? home : "/") / ".config";
    }
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return XdgAutostart(config, ec ? "larkspire" : self.string());
}

bool XdgAutostart::enabled() const {
    std::ifstream in(entry_);
    if (!in) {
        return false;
    }
    // Desktops switch an entry off without removing it: "Hidden=true" (the XDG rule) or
    // GNOME's "X-GNOME-Autostart-enabled=false".
    bool inEntry = false;
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const auto eq = line.find('=');
        if (!inEntry || eq == std::string::npos) {
            continue;
        }
        const std::string key = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return false;
        }
    }
    return true;
}

std::string XdgAutostart::setEnabled(bool enabled) {
    std::error_code ec;
    if (!enabled) {
        if (!std::filesystem::remove(entry_, ec) && ec) {
            return "cannot remove " + entry_.string() + ": " + ec.message();
        }
        return "";
    }
    std::filesystem::create_directories(entry_.parent_path(), ec);
    if (ec) {
        return "cannot create " + entry_.parent_path().string() + ": " + ec.message();
    }
    // Written beside the entry and renamed over it, so the session never reads half a file.
    const auto temporary =
        entry_.parent_path() / (".larkspire.desktop." + std::to_string(getpid()));
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Larkspire\n"
               "Comment=Hold a key, speak, and the text is pasted at your cursor\n"
               "Exec="
            << execArgument(program_)
            << "\n"
               "Icon=larkspire\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n";
        out.close();
        if (!out) {
            std::filesystem::remove(temporary, ec);
            return "cannot write " + entry_.string() + ": " + std::strerror(errno);
        }
    }
    std::filesystem::rename(temporary, entry_, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return "cannot write " + entry_.string() + ": " + ec.message();
    }
    return "";
}

}  // namespace larkspire::linux_desktop
