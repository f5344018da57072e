#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace larkspire::linux_desktop {

// The windows sway shows, from its window tree over its IPC socket ($SWAYSOCK): Wayland
// tells no client where other clients' windows are, and sway's tree does.
class SwayWindowList {
  public:
    struct Window {
        std::uint64_t id = 0;  // sway's node id
        std::int32_t pid = 0;
        bool focused = false;
        std::string output;  // the output's name ("HEADLESS-1")
        // The window's content, in the output's logical coordinates.
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };

    // Whether sway's socket is named in the environment.
    static bool available();
    // The visible windows, the focused one first; absent when sway does not answer.
    static std::optional<std::vector<Window>> visibleWindows();
    // The same, read from the text of a GET_TREE reply.
    static std::vector<Window> windowsOfTree(const std::string& json);
};

}  // namespace larkspire::linux_desktop
