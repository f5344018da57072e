#pragma once

#include <string>

namespace larkspire::platform {

// The desktop's "workspace": opening URLs, settings pages and folders in the user's
// applications. Main thread; nothing waits for the application to start.
class Desktop {
  public:
    virtual ~Desktop() = default;
    // Opens a URL with the user's applications: the browser, or the handler of its scheme.
    virtual void openUrl(const std::string& url) = 0;
    // Opens the desktop's own settings page for one of the agent's privacy-pane URLs.
    // False, with nothing opened, where this desktop has no such page.
    virtual bool openSettingsPane(const std::string& paneUrl) = 0;
    virtual void openFolder(const std::string& path) = 0;
};

}  // namespace larkspire::platform
