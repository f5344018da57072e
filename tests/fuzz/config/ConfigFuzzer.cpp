// The configuration file "~/.vantrel/config.json", whatever the user or a tool wrote.
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "service/Config.h"

using namespace larkspire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto config = Config::decode(text, &error);
    if (!config) {
        if (error.empty()) {
            fuzz::fail("a refused configuration without a reason");
        }
        return 0;
    }
    // The application lists are matched after Unicode normalisation of both sides.
    config->excludesContext(config->api_url);
    config->requiresTextOnlyContext(config->email.value_or(""));
    return 0;
}
