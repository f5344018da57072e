#include "platform/Menu.h"

namespace larkspire::platform {

std::shared_ptr<MenuItem> MenuItem::make(std::string title, std::function<void()> action) {
    auto item = std::make_shared<MenuItem>();
    item->title_ = std::move(title);
    item->action_ = std::move(action);
    return item;
}

std::shared_ptr<MenuItem> MenuItem::separator() {
    auto item = std::make_shared<MenuItem>();
    item->role_ = Role::separator;
    return item;
}

void MenuItem::changed() {
    for (auto& owner : owners_) {
        if (auto g = owner.lock()) {
            ++*g;
        }
    }
}

void MenuItem::setTitle(std::string title) {
    title_ = std::move(title);
    changed();
}

void MenuItem::setEnabled(bool enabled) {
    enabled_ = enabled;
    changed();
}

void MenuItem::setChecked(bool checked) {
    checked_ = checked;
    changed();
}

void MenuItem::setCheckable(bool checkable) {
    checkable_ = checkable;
    changed();
}

void MenuItem::setSubmenu(std::shared_ptr<Menu> submenu) {
    submenu_ = std::move(submenu);
    changed();
}

void MenuItem::trigger() const {
    if (action_) {
        // Copy first: an action may replace itself.
        auto action = action_;
        action();
    }
}

void Menu::append(std::shared_ptr<MenuItem> item) {
    insert(std::move(item), items_.size());
}

void Menu::insert(std::shared_ptr<MenuItem> item, size_t index) {
    item->owners_.push_back(generation_);
    if (index > items_.size()) {
        index = items_.size();
    }
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), std::move(item));
    ++*generation_;
}

void Menu::removeAll() {
    items_.clear();
    ++*generation_;
}

std::shared_ptr<MenuItem> Menu::find(const std::string& title) const {
    for (const auto& item : items_) {
        if (!item->isSeparator() && item->title() == title) {
            return item;
        }
        if (item->submenu()) {
            if (auto found = item->submenu()->find(title)) {
                return found;
            }
        }
    }
    return nullptr;
}

std::vector<std::string> Menu::titles() const {
    std::vector<std::string> out;
    for (const auto& item : items_) {
        out.push_back(item->isSeparator() ? "-" : item->title());
    }
    return out;
}

}  // namespace larkspire::platform
