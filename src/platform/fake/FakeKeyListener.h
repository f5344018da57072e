#pragma once

#include <mutex>
#include <string>

#include "platform/KeyListener.h"

namespace larkspire::fake {

// A key listener a test drives: it delivers the events the test sends, synchronously on
// the calling thread, as the real listener does from its own thread.
class FakeKeyListener : public platform::KeyListener {
  public:
    bool start(Handler handler) override;
    void stop() override;

    // Make start() fail, as a session without system-wide key events does.
    void setAvailable(bool available) { available_ = hears_ = available; }
    // What unavailableReason() says while the listener is unavailable.
    void setUnavailableReason(std::string reason) { reason_ = std::move(reason); }
    std::string unavailableReason() const override { return available_ ? std::string() : reason_; }
    bool hearsKeys() const override { return hears_; }
    void onChange(std::function<void()> handler) override { changed_ = std::move(handler); }
    std::string assignedKey() const override { return assigned_; }
    // The desktop answers after start(): with the key it assigned, or a refusal (`reason`).
    void answer(std::string assigned, std::string reason = "") {
        assigned_ = std::move(assigned);
        reason_ = std::move(reason);
        available_ = hears_ = reason_.empty();
        if (changed_) {
            changed_();
        }
    }
    bool running() const;
    int startCount() const { return startCount_; }

    // Delivers one event (dropped when not running).
    void send(const platform::RawKeyEvent& event);
    void press(int keycode, bool synthetic = false) { send({keycode, true, synthetic}); }
    void release(int keycode, bool synthetic = false) { send({keycode, false, synthetic}); }

  private:
    std::string reason_;
    std::string assigned_;
    std::function<void()> changed_;
    mutable std::mutex mutex_;
    Handler handler_;
    bool available_ = true;
    bool hears_ = true;
    int startCount_ = 0;
};

}  // namespace larkspire::fake
