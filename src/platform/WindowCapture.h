#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/FrontmostApp.h"

namespace larkspire::platform {

// One on-screen window of the window list.
struct WindowDescription {
    WindowId window = 0;
    ProcessId owner = 0;  // 0 when the window names no process
    // 0 for ordinary application windows (dialogs included); docks, panels, menus,
    // notifications and windows kept above others have higher layers.
    int layer = 0;
    // The client area, without the window manager's frame, in pixels.
    double width = 0;
    double height = 0;

    bool operator==(const WindowDescription&) const = default;
};

// Pixels of a window, rows top to bottom, one 0xffRRGGBB word per pixel.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// The windows on screen and their images. Images stay in memory; nothing is written to
// disk. Main thread.
class WindowCapture {
  public:
    virtual ~WindowCapture() = default;
    // Whether this session lets the agent take images of other applications' windows.
    virtual bool canCaptureWindows() const = 0;
    // Why it cannot, as a sentence for the user; empty when it can.
    virtual std::string unavailableReason() const = 0;
    // The mapped windows, front to back; absent when the list cannot be read.
    virtual std::optional<std::vector<WindowDescription>> onScreenWindows() = 0;
    // The window's own contents without the frame, covered parts included where the
    // desktop keeps them; absent when the window is gone or no image can be taken.
    virtual std::optional<Image> imageOf(WindowId window) = 0;
};

}  // namespace larkspire::platform
