#include "server/http/Faults.h"

#include <algorithm>

namespace larkspire::server {
namespace {

// Splits "PATH=NUMBER[xCOUNT]".
bool splitOption(const std::string& option, std::string& path, long& number, int& count) {
    auto eq = option.rfind('=');
    if (eq == std::string::npos || eq == 0 || option[0] != '/') {
        return false;
    }
    path = option.substr(0, eq);
    std::string rest = option.substr(eq + 1);
    count = -1;
    try {
        size_t used = 0;
        number = std::stol(rest, &used);
        if (used < rest.size()) {
            if (rest[used] != 'x') {
                return false;
            }
            size_t countUsed = 0;
            count = std::stoi(rest.substr(used + 1), &countUsed);
            if (used + 1 + countUsed != rest.size() || count <= 0) {
                return false;
            }
        }
    } catch (const std::exception&) {
        return false;
    }
    return number >= 0;
}

}  // namespace

void Faults::add(FaultRule rule) {
    std::lock_guard lock(mutex_);
    rules_.push_back(std::move(rule));
}

void Faults::clear() {
    std::lock_guard lock(mutex_);
    rules_.clear();
}

std::vector<FaultRule> Faults::rules() const {
    std::lock_guard lock(mutex_);
    return rules_;
}

std::optional<FaultAction> Faults::take(const std::string& path) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(rules_.begin(), rules_.end(),
                           [&](const FaultRule& r) { return r.path == path; });
    if (it == rules_.end()) {
        return std::nullopt;
    }
    FaultAction action;
    action.status = it->status;
    action.delay = it->delay;
    if (it->malformed) {
        action.status = action.status == 0 ? 200 : action.status;
        action.body = R"({"row": {"text": "trunc)";
        action.contentType = "application/json";
    } else if (it->body) {
        action.body = *it->body;
        action.contentType = action.body.rfind('{', 0) == 0 ? "application/json" : "text/plain";
    } else {
        action.body = R"({"error":"Injected failure"})";
        action.contentType = "application/json";
    }
    if (it->remaining > 0 && --it->remaining == 0) {
        rules_.erase(it);
    }
    return action;
}

std::optional<FaultRule> Faults::parseFailOption(const std::string& option) {
    FaultRule rule;
    long status = 0;
    if (!splitOption(option, rule.path, status, rule.remaining) || status < 100 || status > 599) {
        return std::nullopt;
    }
    rule.status = static_cast<int>(status);
    return rule;
}

std::optional<FaultRule> Faults::parseDelayOption(const std::string& option) {
    FaultRule rule;
    long millis = 0;
    if (!splitOption(option, rule.path, millis, rule.remaining)) {
        return std::nullopt;
    }
    rule.delay = std::chrono::milliseconds(millis);
    return rule;
}

}  // namespace larkspire::server
