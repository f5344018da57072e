#pragma once

#include <string>
#include <utility>

#include "platform/KeyListener.h"

namespace larkspire::linux_desktop {

// A session that lets the agent hear no key: start() fails with the reason found.
class NoKeyListener : public platform::KeyListener {
  public:
    explicit NoKeyListener(std::string reason) : reason_(std::move(reason)) {}
    bool start(Handler) override { return false; }
    void stop() override {}
    std::string unavailableReason() const override { return reason_; }

  private:
    std::string reason_;
};

}  // namespace larkspire::linux_desktop
