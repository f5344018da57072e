#pragma once

#include <filesystem>
#include <string>

#include "platform/Autostart.h"

namespace larkspire::linux_desktop {

// The XDG autostart entry, "larkspire.desktop" in $XDG_CONFIG_HOME/autostart (by default
// ~/.config/autostart), which every desktop that follows the XDG rules reads at login.
// The state is read from the file each time, so an entry the user edits or removes by hand
// (or through the desktop's own settings) is what the menu shows.
class XdgAutostart : public platform::Autostart {
  public:
    // `configHome`: the user's configuration folder; `program`: what the entry runs.
    XdgAutostart(std::filesystem::path configHome, std::string program);
    // From the environment: $XDG_CONFIG_HOME or ~/.config, and this process's executable.
    static XdgAutostart forCurrentUser();

    bool enabled() const override;
    std::string setEnabled(bool enabled) override;
    const std::filesystem::path& entryPath() const { return entry_; }

  private:
    std::filesystem::path entry_;
    std::string program_;
};

}  // namespace larkspire::linux_desktop
