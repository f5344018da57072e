#include "platform/fake/FakeKeyListener.h"

namespace larkspire::fake {

bool FakeKeyListener::start(Handler handler) {
    std::lock_guard lock(mutex_);
    ++startCount_;
    if (!available_) {
        return false;
    }
    handler_ = std::move(handler);
    return true;
}

void FakeKeyListener::stop() {
    std::lock_guard lock(mutex_);
    handler_ = nullptr;
}

bool FakeKeyListener::running() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(handler_);
}

void FakeKeyListener::send(const platform::RawKeyEvent& event) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        handler = handler_;
    }
    if (handler) {
        handler(event);
    }
}

}  // namespace larkspire::fake
