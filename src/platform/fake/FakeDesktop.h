#pragma once

#include <string>
#include <vector>

#include "platform/Desktop.h"

namespace larkspire::fake {

// Records what was opened.
class FakeDesktop : public platform::Desktop {
  public:
    void openUrl(const std::string& url, const std::string& fallbackUrl) override {
        openedUrls.push_back(url);
        fallbacks.push_back(fallbackUrl);
    }
    void openFolder(const std::string& path) override { openedFolders.push_back(path); }
    std::vector<std::string> openedUrls, fallbacks, openedFolders;
};

}  // namespace larkspire::fake
