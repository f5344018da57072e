#include "support/ScopedEnv.h"

#include <cstdlib>
#include <utility>

namespace larkspire::testing {
namespace {

void set(const std::string& name, const std::optional<std::string>& value) {
    value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
}

}  // namespace

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const char* v = std::getenv(name_.c_str())) {
        saved_ = v;
    }
    set(name_, value);
}

ScopedEnv::~ScopedEnv() {
    set(name_, saved_);
}

}  // namespace larkspire::testing
