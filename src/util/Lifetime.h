#pragma once

#include <memory>
#include <utility>

namespace larkspire {

// Wraps a callback so that it does nothing once its owner is gone. `weakly` suits
// owners held by std::shared_ptr; `Lifetime` suits plain members of main-thread
// objects: destroy the Lifetime (a member) and every guarded callback goes quiet.
template <class T, class F>
auto weakly(const std::shared_ptr<T>& owner, F f) {
    return [weak = std::weak_ptr<T>(owner), f = std::move(f)](auto&&... args) {
        if (auto strong = weak.lock()) {
            f(*strong, std::forward<decltype(args)>(args)...);
        }
    };
}

class Lifetime {
  public:
    Lifetime() : alive_(std::make_shared<char>(0)) {}
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    // The returned callable runs `f` only while this Lifetime exists. Main thread only.
    template <class F>
    auto guard(F f) const {
        return [token = std::weak_ptr<char>(alive_), f = std::move(f)](auto&&... args) {
            if (!token.expired()) {
                f(std::forward<decltype(args)>(args)...);
            }
        };
    }

    // Like guard, but returns `fallback` when the owner is gone.
    template <class R, class F>
    auto guardReturning(R fallback, F f) const {
        return
            [token = std::weak_ptr<char>(alive_), f = std::move(f), fallback](auto&&... args) -> R {
                if (token.expired()) {
                    return fallback;
                }
                return f(std::forward<decltype(args)>(args)...);
            };
    }

  private:
    std::shared_ptr<char> alive_;
};

}  // namespace larkspire
