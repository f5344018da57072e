#pragma once

#include <map>
#include <optional>
#include <vector>

#include "platform/WindowCapture.h"

namespace larkspire::fake {

// A window list and the images of its windows, as a test sets them; counts how often
// the list was read and which images were asked for.
class FakeWindowCapture : public platform::WindowCapture {
  public:
    bool canCaptureWindows() const override { return canCapture; }
    std::string unavailableReason() const override { return canCapture ? std::string() : reason; }
    std::optional<std::vector<platform::WindowDescription>> onScreenWindows() override {
        ++listReads;
        return windows;
    }
    std::optional<platform::Image> imageOf(platform::WindowId window) override {
        imageRequests.push_back(window);
        auto it = images.find(window);
        if (it == images.end()) {
            return std::nullopt;
        }
        return it->second;
    }

    bool canCapture = true;
    // What the session says when it cannot (an X server under Wayland, say).
    std::string reason =
        "Window images need an X11 session: this session cannot capture other windows";
    // Absent: the list cannot be read.
    std::optional<std::vector<platform::WindowDescription>> windows =
        std::vector<platform::WindowDescription>{};
    std::map<platform::WindowId, platform::Image> images;
    int listReads = 0;
    std::vector<platform::WindowId> imageRequests;
};

}  // namespace larkspire::fake
