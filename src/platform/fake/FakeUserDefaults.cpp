#include "platform/fake/FakeUserDefaults.h"

#include <strings.h>

#include <charconv>

namespace larkspire::fake {

bool FakeUserDefaults::boolValue(const std::string& key) const {
    const auto text = stringValue(key).value_or("");
    return !(text.empty() || text == "0" || strcasecmp(text.c_str(), "false") == 0);
}

std::optional<long long> FakeUserDefaults::integerValue(const std::string& key) const {
    const auto text = stringValue(key).value_or("");
    const size_t first = text.find_first_not_of(" \t\n");
    const size_t last = text.find_last_not_of(" \t\n");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    long long n = 0;
    const char* end = text.data() + last + 1;
    const auto [stop, error] = std::from_chars(text.data() + first, end, n);
    return error == std::errc() && stop == end ? std::optional<long long>(n) : std::nullopt;
}

std::optional<std::string> FakeUserDefaults::stringValue(const std::string& key) const {
    const auto it = values_.find(key);
    return it == values_.end() ? std::nullopt : std::optional<std::string>(it->second);
}

}  // namespace larkspire::fake
