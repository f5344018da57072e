#pragma once

#include <optional>
#include <string>

namespace larkspire::platform {

// The per-user preferences store. An absent bool reads as false.
class UserDefaults {
  public:
    virtual ~UserDefaults() = default;
    virtual bool boolValue(const std::string& key) const = 0;
    virtual std::optional<long long> integerValue(const std::string& key) const = 0;
    virtual std::optional<std::string> stringValue(const std::string& key) const = 0;
    virtual bool contains(const std::string& key) const = 0;
    virtual void setBool(const std::string& key, bool value) = 0;
    virtual void setInteger(const std::string& key, long long value) = 0;
    virtual void setString(const std::string& key, const std::string& value) = 0;
    virtual void remove(const std::string& key) = 0;
};

}  // namespace larkspire::platform
