#pragma once

#include <functional>
#include <memory>
#include <string>

#include "service/APIClient.h"

namespace larkspire {

// What a feature's flow asks of the shell around it: the service client, the status icon,
// failures, and the title of the recording item.
struct FlowShell {
    // The service client; null while there is none.
    std::function<std::shared_ptr<APIClient>()> api;
    std::function<void(const std::string& symbol, const std::string& accessibility)> setIcon;
    std::function<void()> resetIcon;
    std::function<void(const std::string& symbol)> flash;
    std::function<void(const std::string& message)> fail;
    // The title of the recording item ("Start recording", "Stop & transcribe").
    std::function<void(const std::string& title)> setToggleTitle;
};

}  // namespace larkspire
