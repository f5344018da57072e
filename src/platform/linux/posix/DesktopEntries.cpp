#include "platform/linux/posix/DesktopEntries.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace larkspire::linux_desktop {
namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The Name= and StartupWMClass= of the [Desktop Entry] group of a desktop file.
struct Entry {
    std::optional<std::string> name;
    std::string startupWMClass;
};

Entry readEntry(const std::filesystem::path& file) {
    std::ifstream in(file);
    Entry entry;
    bool inEntry = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '[') {
            inEntry = line == "[Desktop Entry]";
        } else if (inEntry && line.rfind("Name=", 0) == 0) {
            entry.name = line.substr(5);
        } else if (inEntry && line.rfind("StartupWMClass=", 0) == 0) {
            entry.startupWMClass = line.substr(15);
        }
    }
    return entry;
}

}  // namespace

std::vector<std::filesystem::path> applicationDirs() {
    std::vector<std::filesystem::path> dirs;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome) {
        dirs.emplace_back(std::filesystem::path(dataHome) / "applications");
    } else if (home && *home) {
        dirs.emplace_back(std::filesystem::path(home) / ".local/share/applications");
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::stringstream list(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
    for (std::string dir; std::getline(list, dir, ':');) {
        if (!dir.empty()) {
            dirs.emplace_back(std::filesystem::path(dir) / "applications");
        }
    }
    return dirs;
}

std::optional<std::string> applicationNameOf(const std::string& windowClass,
                                             const std::string& windowInstance,
                                             const std::vector<std::filesystem::path>& dirs) {
    const std::string ids[] = {lower(windowClass), lower(windowInstance)};
    std::optional<std::string> byWMClass;
    for (const auto& dir : dirs) {
        std::error_code ec;
        for (auto it = std::filesystem::directory_iterator(dir, ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            const auto& path = it->path();
            if (path.extension() != ".desktop") {
                continue;
            }
            const std::string stem = lower(path.stem().string());
            const std::string last = stem.substr(stem.rfind('.') + 1);  // whole when no dot
            const bool named = std::any_of(std::begin(ids), std::end(ids), [&](const auto& id) {
                return !id.empty() && (stem == id || last == id);
            });
            if (!named && byWMClass) {
                continue;
            }
            const Entry entry = readEntry(path);
            if (named && entry.name) {
                return entry.name;
            }
            if (!byWMClass && !windowClass.empty() && entry.startupWMClass == windowClass) {
                byWMClass = entry.name;
            }
        }
    }
    return byWMClass;
}

}  // namespace larkspire::linux_desktop
