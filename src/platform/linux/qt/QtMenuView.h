#pragma once

#include <QMenu>
#include <memory>
#include <vector>

#include "platform/Menu.h"

namespace larkspire::linux_desktop {

// A QMenu drawn from a menu model. It is rebuilt whenever the model (or a submenu)
// changed since the last time it was shown, so titles, check marks and enabled flags
// are always current when the user opens it.
class QtMenuView {
  public:
    explicit QtMenuView(std::shared_ptr<platform::Menu> model);
    QMenu* menu() { return &menu_; }
    // Brings the QMenu up to date with the model now.
    void sync();
    // Another model drawn after this one, below a separator: the application's main
    // menu, which a tray agent on Linux has no menu bar for. Only its items that do
    // something here are drawn, in one list: hiding and window items belong to the
    // desktop, and the status menu has its own Quit.
    void setAppendix(std::shared_ptr<platform::Menu> appendix);

  private:
    unsigned long fingerprint() const;
    void build(QMenu& target, const platform::Menu& model);
    void addItem(QMenu& target, const std::shared_ptr<platform::MenuItem>& item);
    void buildActionable(QMenu& target, const platform::Menu& model);

    std::shared_ptr<platform::Menu> model_;
    std::shared_ptr<platform::Menu> appendix_;
    QMenu menu_;
    std::vector<std::unique_ptr<QMenu>> submenus_;
    unsigned long builtFingerprint_ = ~0ul;
};

}  // namespace larkspire::linux_desktop
