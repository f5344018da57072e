#pragma once

#include <atomic>
#include <set>
#include <thread>

#include "platform/KeyListener.h"
#include "platform/SystemLog.h"
#include "platform/linux/x11/XHandles.h"

namespace larkspire::linux_desktop {

// XInput2 raw key events of every keyboard, selected on the root window of a display
// connection of its own and read on a thread of its own: listen-only, no grab.
class XInputKeyListener : public platform::KeyListener {
  public:
    explicit XInputKeyListener(platform::SystemLog& log);
    ~XInputKeyListener() override;

    bool start(Handler handler) override;
    std::string unavailableReason() const override { return reason_; }
    void stop() override;

  private:
    void run();

    platform::SystemLog& log_;
    DisplayPtr display_;
    int xiOpcode_ = 0;
    std::set<int> syntheticDevices_;
    std::string reason_;
    Handler handler_;
    int wakeFd_ = -1;
    std::thread thread_;
};

}  // namespace larkspire::linux_desktop
