#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Menu.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "service/APIClient.h"
#include "util/Lifetime.h"

namespace larkspire {

// The "Active project" submenu: the user's projects from the service, one of which (or
// none) is chosen as active. The choice lives in the user default "activeProjectId",
// which only this menu reads and writes. Main thread; the list is fetched on a background
// queue.
class ProjectMenu {
  public:
    ProjectMenu(platform::Scheduler& scheduler, platform::UserDefaults& defaults,
                std::function<std::shared_ptr<APIClient>()> api);

    const std::shared_ptr<platform::Menu>& menu() const { return projectMenu_; }

    // Shows "Loading…" and reloads the list.
    void refreshProjects();
    // "Refresh projects".
    void refreshProjectMenu() { refreshProjects(); }
    void populateProjectMenu(const std::vector<ProjectChoice>& projects);
    // The action of a project item (its id) and of "No project memory" (no id).
    void selectProject(const platform::MenuItem& sender, const std::optional<std::string>& id);

  private:
    std::shared_ptr<platform::MenuItem> selectionItem(std::string title,
                                                      std::optional<std::string> id);

    platform::Scheduler& scheduler_;
    platform::UserDefaults& defaults_;
    std::function<std::shared_ptr<APIClient>()> api_;
    std::shared_ptr<platform::Menu> projectMenu_;
    Lifetime lifetime_;
};

}  // namespace larkspire
