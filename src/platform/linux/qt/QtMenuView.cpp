#include "platform/linux/qt/QtMenuView.h"

#include <QAction>

namespace larkspire::linux_desktop {
namespace {

unsigned long fingerprintOf(const platform::Menu& menu) {
    unsigned long sum = menu.generation();
    for (const auto& item : menu.items()) {
        if (item->submenu()) {
            sum = sum * 31 + fingerprintOf(*item->submenu());
        }
    }
    return sum;
}

}  // namespace

QtMenuView::QtMenuView(std::shared_ptr<platform::Menu> model) : model_(std::move(model)) {
    QObject::connect(&menu_, &QMenu::aboutToShow, &menu_, [this] { sync(); });
    sync();
}

unsigned long QtMenuView::fingerprint() const {
    return fingerprintOf(*model_) * 31 + (appendix_ ? fingerprintOf(*appendix_) : 0);
}

void QtMenuView::setAppendix(std::shared_ptr<platform::Menu> appendix) {
    appendix_ = std::move(appendix);
    builtFingerprint_ = ~0ul;
    sync();
}

void QtMenuView::sync() {
    const unsigned long now = fingerprint();
    if (now == builtFingerprint_) {
        return;
    }
    menu_.clear();
    submenus_.clear();
    build(menu_, *model_);
    if (appendix_) {
        QAction* separator = menu_.addSeparator();
        const int before = int(menu_.actions().size());
        buildActionable(menu_, *appendix_);
        if (menu_.actions().size() == before) {
            menu_.removeAction(separator);
        }
    }
    builtFingerprint_ = now;
}

void QtMenuView::build(QMenu& target, const platform::Menu& model) {
    for (const auto& item : model.items()) {
        if (item->isSeparator()) {
            target.addSeparator();
        } else if (item->submenu()) {
            // Qt reads "&" as the mark of a mnemonic; doubled, it is shown as it is.
            auto sub =
                std::make_unique<QMenu>(QString::fromStdString(item->title()).replace('&', "&&"));
            build(*sub, *item->submenu());
            target.addMenu(sub.get());
            submenus_.push_back(std::move(sub));
        } else {
            addItem(target, item);
        }
    }
}

void QtMenuView::buildActionable(QMenu& target, const platform::Menu& model) {
    for (const auto& item : model.items()) {
        if (item->submenu()) {
            buildActionable(target, *item->submenu());
        } else if (item->hasAction() && item->role() != platform::MenuItem::Role::quit) {
            addItem(target, item);
        }
    }
}

void QtMenuView::addItem(QMenu& target, const std::shared_ptr<platform::MenuItem>& item) {
    // Qt reads "&" as the mark of a mnemonic: "Settings & permissions…" showed as
    // "Settings _permissions…". Doubled, it is shown as it is.
    QAction* action = target.addAction(QString::fromStdString(item->title()).replace('&', "&&"));
    action->setEnabled(item->enabled());
    action->setCheckable(item->checkable());
    action->setChecked(item->checked());
    if (item->role() == platform::MenuItem::Role::quit) {
        action->setShortcut(QKeySequence(QKeySequence::Quit));
        action->setMenuRole(QAction::QuitRole);
    }
    std::weak_ptr<platform::MenuItem> weak = item;
    QObject::connect(action, &QAction::triggered, action, [weak] {
        if (auto strong = weak.lock()) {
            strong->trigger();
        }
    });
}

}  // namespace larkspire::linux_desktop
