#pragma once

#include <string>

namespace larkspire::platform {

// The desktop's "workspace": opening URLs and folders in the user's applications.
class Desktop {
  public:
    virtual ~Desktop() = default;
    // Opens a URL. Privacy-pane URLs of the agent are mapped by the implementation to
    // the desktop's own settings panel, or to `fallbackUrl` where it has none.
    virtual void openUrl(const std::string& url, const std::string& fallbackUrl) = 0;
    virtual void openFolder(const std::string& path) = 0;
};

}  // namespace larkspire::platform
