#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace larkspire::platform {

class Menu;

// One entry of a menu model. Views render it; the logic changes it. Every change
// bumps the generation of the menus that hold it, so a view knows when to redraw.
class MenuItem {
  public:
    enum class Role { normal, separator, quit, about };

    static std::shared_ptr<MenuItem> make(std::string title, std::function<void()> action = {});
    static std::shared_ptr<MenuItem> separator();

    const std::string& title() const { return title_; }
    bool enabled() const { return enabled_; }
    bool checked() const { return checked_; }
    // A check-mark item shows its box when unchecked too (a setting that is off).
    bool checkable() const { return checkable_ || checked_; }
    bool isSeparator() const { return role_ == Role::separator; }
    Role role() const { return role_; }
    const std::string& keyEquivalent() const { return keyEquivalent_; }
    const std::shared_ptr<Menu>& submenu() const { return submenu_; }
    bool hasAction() const { return static_cast<bool>(action_); }

    void setTitle(std::string title);
    void setEnabled(bool enabled);
    void setChecked(bool checked);
    void setCheckable(bool checkable);
    void setSubmenu(std::shared_ptr<Menu> submenu);
    void setKeyEquivalent(std::string key) { keyEquivalent_ = std::move(key); }
    void setRole(Role role) { role_ = role; }
    void setAction(std::function<void()> action) { action_ = std::move(action); }

    // Runs the item's action (what a click does). Disabled items still run: each action
    // checks its own preconditions.
    void trigger() const;

  private:
    friend class Menu;
    void changed();

    std::string title_;
    std::function<void()> action_;
    bool enabled_ = true;
    bool checked_ = false;
    bool checkable_ = false;
    Role role_ = Role::normal;
    std::string keyEquivalent_;
    std::shared_ptr<Menu> submenu_;
    std::vector<std::weak_ptr<unsigned long>> owners_;  // generations of containing menus
};

class Menu {
  public:
    Menu() : generation_(std::make_shared<unsigned long>(0)) {}

    void append(std::shared_ptr<MenuItem> item);
    void insert(std::shared_ptr<MenuItem> item, size_t index);
    void removeAll();

    const std::vector<std::shared_ptr<MenuItem>>& items() const { return items_; }
    size_t size() const { return items_.size(); }
    const std::shared_ptr<MenuItem>& at(size_t index) const { return items_.at(index); }
    // The item with this title at any depth, or null.
    std::shared_ptr<MenuItem> find(const std::string& title) const;
    // Titles in order; a separator reads as "-".
    std::vector<std::string> titles() const;

    // Grows with every change of this menu or of any item in it.
    unsigned long generation() const { return *generation_; }

  private:
    std::vector<std::shared_ptr<MenuItem>> items_;
    std::shared_ptr<unsigned long> generation_;
};

}  // namespace larkspire::platform
