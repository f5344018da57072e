#pragma once

#include <string>
#include <vector>

#include "platform/Clock.h"

namespace larkspire::fake {

// What fakes of the desktop were asked to do, in order, with the (virtual) time of each
// request, so a test can check sequencing and delays across several services.
class ActionLog {
  public:
    struct Entry {
        double seconds;  // since the log was created
        std::string action;
    };

    explicit ActionLog(const platform::Clock& clock) : clock_(clock), start_(clock.now()) {}

    void add(std::string action) {
        entries_.push_back({platform::secondsBetween(start_, clock_.now()), std::move(action)});
    }
    const std::vector<Entry>& entries() const { return entries_; }
    // The actions alone, in order.
    std::vector<std::string> actions() const {
        std::vector<std::string> out;
        for (const auto& e : entries_) {
            out.push_back(e.action);
        }
        return out;
    }
    void clear() { entries_.clear(); }

  private:
    const platform::Clock& clock_;
    platform::TimePoint start_;
    std::vector<Entry> entries_;
};

}  // namespace larkspire::fake
