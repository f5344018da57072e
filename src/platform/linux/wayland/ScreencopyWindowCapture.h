#pragma once

#include <map>

#include "platform/WindowCapture.h"
#include "platform/linux/wayland/SwayWindowList.h"
#include "platform/linux/wayland/WaylandConnection.h"

namespace larkspire::linux_desktop {

// Window images on wlroots compositors: the window's place from sway's window tree, its
// pixels through screencopy (zwlr_screencopy_manager_v1) of that region of its output,
// into shared memory. What covers the window is in the image, as on screen; tiled
// windows are not covered. Without sway's tree the windows' places are unknown and no
// image is taken. Main thread.
class ScreencopyWindowCapture : public platform::WindowCapture {
  public:
    explicit ScreencopyWindowCapture(WaylandConnection& connection);

    bool canCaptureWindows() const override;
    std::string unavailableReason() const override;
    std::optional<std::vector<platform::WindowDescription>> onScreenWindows() override;
    std::optional<platform::Image> imageOf(platform::WindowId window) override;

  private:
    WaylandConnection& connection_;
    // The places of the windows the last list showed.
    std::map<platform::WindowId, SwayWindowList::Window> listed_;
};

}  // namespace larkspire::linux_desktop
