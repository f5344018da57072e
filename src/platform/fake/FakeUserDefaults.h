#pragma once

#include <map>
#include <string>

#include "platform/UserDefaults.h"

namespace larkspire::fake {

// An in-memory defaults store that keeps every value as text, as the real store's file
// does ("true", "42"), and reads it back by the same rules.
class FakeUserDefaults : public platform::UserDefaults {
  public:
    bool boolValue(const std::string& key) const override;
    std::optional<long long> integerValue(const std::string& key) const override;
    std::optional<std::string> stringValue(const std::string& key) const override;
    bool contains(const std::string& key) const override { return values_.contains(key); }
    void setBool(const std::string& key, bool value) override {
        values_[key] = value ? "true" : "false";
    }
    void setInteger(const std::string& key, long long value) override {
        values_[key] = std::to_string(value);
    }
    void setString(const std::string& key, const std::string& value) override {
        values_[key] = value;
    }
    void remove(const std::string& key) override { values_.erase(key); }

  private:
    std::map<std::string, std::string> values_;
};

}  // namespace larkspire::fake
