#pragma once

#include <string>
#include <vector>

#include "platform/Desktop.h"

namespace larkspire::fake {

// Records what was opened; settings pages exist unless the test says otherwise.
class FakeDesktop : public platform::Desktop {
  public:
    void openUrl(const std::string& url) override { openedUrls.push_back(url); }
    bool openSettingsPane(const std::string& paneUrl) override {
        if (!hasSettingsPages) {
            return false;
        }
        openedUrls.push_back(paneUrl);
        return true;
    }
    void openFolder(const std::string& path) override { openedFolders.push_back(path); }
    std::vector<std::string> openedUrls, openedFolders;
    bool hasSettingsPages = true;
};

}  // namespace larkspire::fake
