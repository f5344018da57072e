#pragma once

#include <map>
#include <string>
#include <variant>

#include "platform/UserDefaults.h"

namespace larkspire::fake {

// An in-memory defaults store with the same typing rules as the real one.
class FakeUserDefaults : public platform::UserDefaults {
  public:
    bool boolValue(const std::string& key) const override;
    std::optional<long long> integerValue(const std::string& key) const override;
    std::optional<std::string> stringValue(const std::string& key) const override;
    bool contains(const std::string& key) const override { return values_.count(key) > 0; }
    void setBool(const std::string& key, bool value) override { values_[key] = value; }
    void setInteger(const std::string& key, long long value) override { values_[key] = value; }
    void setString(const std::string& key, const std::string& value) override {
        values_[key] = value;
    }
    void remove(const std::string& key) override { values_.erase(key); }

  private:
    std::map<std::string, std::variant<bool, long long, std::string>> values_;
};

}  // namespace larkspire::fake
