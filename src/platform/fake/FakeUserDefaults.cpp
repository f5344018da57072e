#include "platform/fake/FakeUserDefaults.h"

namespace larkspire::fake {

bool FakeUserDefaults::boolValue(const std::string& key) const {
    auto it = values_.find(key);
    if (it == values_.end()) {
        return false;
    }
    if (auto b = std::get_if<bool>(&it->second)) {
        return *b;
    }
    if (auto i = std::get_if<long long>(&it->second)) {
        return *i != 0;
    }
    return false;
}

std::optional<long long> FakeUserDefaults::integerValue(const std::string& key) const {
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    if (auto i = std::get_if<long long>(&it->second)) {
        return *i;
    }
    if (auto b = std::get_if<bool>(&it->second)) {
        return *b ? 1 : 0;
    }
    return std::nullopt;
}

std::optional<std::string> FakeUserDefaults::stringValue(const std::string& key) const {
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    if (auto s = std::get_if<std::string>(&it->second)) {
        return *s;
    }
    return std::nullopt;
}

}  // namespace larkspire::fake
