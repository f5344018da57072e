#include "account/ProjectMenu.h"

#include "util/Preferences.h"

namespace larkspire {

using platform::MenuItem;

ProjectMenu::ProjectMenu(platform::Scheduler& scheduler, platform::UserDefaults& defaults,
                         std::function<std::shared_ptr<APIClient>()> api)
    : scheduler_(scheduler),
      defaults_(defaults),
      api_(std::move(api)),
      projectMenu_(std::make_shared<platform::Menu>()) {}

void ProjectMenu::refreshProjects() {
    projectMenu_->removeAll();
    auto loading = MenuItem::make("Loading…");
    loading->setEnabled(false);
    projectMenu_->append(loading);

    using Result = std::optional<std::vector<ProjectChoice>>;
    auto done = lifetime_.guard([this](const Result& projects) {
        if (projects) {
            populateProjectMenu(*projects);
            return;
        }
        // No refresh item here: the next signed-in setup loads the list again.
        projectMenu_->removeAll();
        auto unavailable = MenuItem::make("Projects unavailable");
        unavailable->setEnabled(false);
        projectMenu_->append(unavailable);
    });
    scheduler_.runInBackground(platform::Priority::utility,
                               [api = api_(), done, &scheduler = scheduler_]() mutable {
                                   Result projects;
                                   try {
                                       if (api) {
                                           projects = api->fetchProjects();
                                       }
                                   } catch (const std::exception&) {
                                       // The menu says the list is unavailable; the reason is not
                                       // shown.
                                   }
                                   scheduler.post([done, projects]() mutable { done(projects); });
                               });
}

std::shared_ptr<MenuItem> ProjectMenu::selectionItem(std::string title,
                                                     std::optional<std::string> id) {
    auto item = MenuItem::make(std::move(title));
    // The item's action refers to the item weakly: the item owns the action.
    item->setAction(lifetime_.guard([this, weak = std::weak_ptr<MenuItem>(item), id] {
        if (auto sender = weak.lock()) {
            selectProject(*sender, id);
        }
    }));
    return item;
}

void ProjectMenu::populateProjectMenu(const std::vector<ProjectChoice>& projects) {
    projectMenu_->removeAll();
    const std::optional<std::string> active = defaults_.stringValue(defaults::activeProjectId);
    auto none = selectionItem("No project memory", std::nullopt);
    none->setChecked(!active);
    projectMenu_->append(none);
    if (!projects.empty()) {
        projectMenu_->append(MenuItem::separator());
        for (const ProjectChoice& project : projects) {
            auto item = selectionItem(project.name, project.id);
            item->setChecked(active && *active == project.id);
            projectMenu_->append(item);
        }
    }
    projectMenu_->append(MenuItem::separator());
    auto refresh =
        MenuItem::make("Refresh projects", lifetime_.guard([this] { refreshProjectMenu(); }));
    projectMenu_->append(refresh);
}

void ProjectMenu::selectProject(const MenuItem& sender, const std::optional<std::string>& id) {
    if (id) {
        defaults_.setString(defaults::activeProjectId, *id);
    } else {
        defaults_.remove(defaults::activeProjectId);
    }
    for (const auto& item : projectMenu_->items()) {
        item->setChecked(item.get() == &sender);
    }
}

}  // namespace larkspire
