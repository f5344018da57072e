#include "platform/fake/FakeFrontmostApp.h"

#include <algorithm>
#include <string>

namespace larkspire::fake {

std::optional<platform::FrontWindow> FakeFrontmostApp::frontmost() {
    if (!front_) {
        return std::nullopt;
    }
    return windows_.at(*front_);
}

bool FakeFrontmostApp::activate(platform::WindowId window) {
    if (!windows_.contains(window)) {
        return false;
    }
    front_ = window;
    std::erase(stacking_, window);
    stacking_.push_back(window);
    log_.add("activate " + std::to_string(window));
    return true;
}

std::optional<platform::WindowId> FakeFrontmostApp::windowOf(platform::ProcessId pid) {
    for (const auto& [id, w] : windows_) {
        if (w.processIdentifier == pid) {
            return id;
        }
    }
    return std::nullopt;
}

std::optional<platform::FrontWindow> FakeFrontmostApp::lastWindowNotOf(platform::ProcessId pid) {
    for (auto it = stacking_.rbegin(); it != stacking_.rend(); ++it) {
        const auto& w = windows_.at(*it);
        if (w.processIdentifier != pid) {
            return w;
        }
    }
    return std::nullopt;
}

void FakeFrontmostApp::open(const platform::FrontWindow& window, bool front) {
    windows_[window.window] = window;
    std::erase(stacking_, window.window);
    if (front) {
        front_ = window.window;
        stacking_.push_back(window.window);
    } else {
        stacking_.insert(stacking_.begin(), window.window);
    }
}

void FakeFrontmostApp::close(platform::WindowId window) {
    windows_.erase(window);
    std::erase(stacking_, window);
    if (front_ == window) {
        front_.reset();
    }
}

}  // namespace larkspire::fake
