#pragma once

#include <map>
#include <optional>
#include <vector>

#include "platform/FrontmostApp.h"
#include "platform/fake/ActionLog.h"

namespace larkspire::fake {

// A desktop of windows in a stacking order; activation raises a window and brings it to
// the front ("activate 42").
class FakeFrontmostApp : public platform::FrontmostApp {
  public:
    explicit FakeFrontmostApp(ActionLog& log, platform::ProcessId own = 1000)
        : log_(log), own_(own) {}

    std::optional<platform::FrontWindow> frontmost() override;
    bool activate(platform::WindowId window) override;
    std::optional<platform::WindowId> windowOf(platform::ProcessId pid) override;
    std::optional<platform::FrontWindow> lastWindowNotOf(platform::ProcessId pid) override;
    platform::ProcessId ownProcess() const override { return own_; }
    bool isAgentProcess(platform::ProcessId pid) const override { return pid == own_; }

    // Opens a window (in front when `front`).
    void open(const platform::FrontWindow& window, bool front = true);
    // Closes a window (its process quits when it was the last one).
    void close(platform::WindowId window);
    void clearFront() { front_.reset(); }

  private:
    ActionLog& log_;
    platform::ProcessId own_;
    std::map<platform::WindowId, platform::FrontWindow> windows_;
    std::optional<platform::WindowId> front_;
    // Bottom to top; activation raises.
    std::vector<platform::WindowId> stacking_;
};

}  // namespace larkspire::fake
