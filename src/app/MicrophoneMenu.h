#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioInput.h"
#include "platform/Menu.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "util/Lifetime.h"

namespace larkspire {

// The "Microphone" submenu: "System default", then each input device the sound server
// offers, the one recorded from checked. The choice is kept by the device's name in the
// user default "microphoneSource"; the list is asked for off the main thread at start and
// every 10 s, so a device plugged in later appears without a restart. Main thread.
class MicrophoneMenu {
  public:
    struct Services {
        platform::Scheduler& scheduler;
        platform::UserDefaults& defaults;
        platform::AudioInput& input;
    };
    explicit MicrophoneMenu(Services services);

    const std::shared_ptr<platform::Menu>& menu() const { return menu_; }
    // Lists the devices now and every 10 s after.
    void start();
    // Before a recording: the input is pointed at the chosen device, or at the default
    // when that device is gone; then the text to show instead of "Listening", once until
    // it comes back or another is chosen.
    std::optional<std::string> applyChoice();

    static constexpr double kRefreshSeconds = 10;

  private:
    void list();
    void listed(std::vector<platform::AudioSource> sources);
    void rebuild();
    void choose(const std::string& name);
    std::string chosen() const;
    bool offers(const std::string& name) const;  // the device is listed now

    Services s_;
    std::shared_ptr<platform::Menu> menu_;
    std::vector<platform::AudioSource> sources_;
    bool listedOnce_ = false;
    std::string goneNoticeFor_;  // the device whose absence was said
    std::unique_ptr<platform::RepeatingTimer> timer_;
    Lifetime lifetime_;
};

}  // namespace larkspire
