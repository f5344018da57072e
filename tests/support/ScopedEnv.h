#pragma once

#include <optional>
#include <string>

namespace larkspire::testing {

// Sets (or, with nullopt, unsets) an environment variable and restores it when the object
// goes.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> saved_;
};

}  // namespace larkspire::testing
