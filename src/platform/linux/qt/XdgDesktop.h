#pragma once

#include "platform/Desktop.h"

namespace larkspire::linux_desktop {

// Opens URLs and folders with the user's applications (xdg-open through Qt). The
// agent's privacy-pane URLs go to the desktop's own settings panel where one exists.
class XdgDesktop : public platform::Desktop {
  public:
    void openUrl(const std::string& url) override;
    bool openSettingsPane(const std::string& paneUrl) override;
    void openFolder(const std::string& path) override;
};

}  // namespace larkspire::linux_desktop
