#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace larkspire::linux_desktop {

// Folders that hold desktop entries, most personal first ($XDG_DATA_HOME, then
// $XDG_DATA_DIRS, each with "applications").
std::vector<std::filesystem::path> applicationDirs();

// The readable name (Name=) of the application a window belongs to, from its installed
// desktop entry: the entry named after the window class or instance, also as the last part
// of a reverse-DNS id ("org.xfce.mousepad.desktop" for "Mousepad"), else the entry whose
// StartupWMClass is the class.
std::optional<std::string> applicationNameOf(const std::string& windowClass,
                                             const std::string& windowInstance,
                                             const std::vector<std::filesystem::path>& dirs);

}  // namespace larkspire::linux_desktop
