#pragma once

#include <string>

#include "platform/Autostart.h"

namespace larkspire::fake {

// Holds the setting in memory; `failure`, when set, is returned by every change.
class FakeAutostart : public platform::Autostart {
  public:
    bool enabled() const override { return on; }
    std::string setEnabled(bool enabled) override {
        if (failure.empty()) {
            on = enabled;
        }
        return failure;
    }
    bool on = false;
    std::string failure;
};

}  // namespace larkspire::fake
