#include "platform/linux/qt/QtModalAlert.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

#include <vector>

namespace larkspire::linux_desktop {

std::size_t QtModalAlert::run(const platform::AlertContent& content) {
    QMessageBox box;
    box.setWindowTitle("Larkspire");
    switch (content.style) {
        case platform::AlertStyle::information:
            box.setIcon(QMessageBox::Information);
            break;
        case platform::AlertStyle::warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case platform::AlertStyle::question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    // A dialog: only a close button in its title bar, no minimize or maximize.
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    // The heading in bold, as desktop dialogs set their main text apart from the details.
    box.setTextFormat(Qt::RichText);
    box.setText("<b>" + QString::fromStdString(content.message).toHtmlEscaped() + "</b>");
    box.setInformativeText(QString::fromStdString(content.informativeText));
    std::vector<QAbstractButton*> buttons;
    for (const auto& title : content.buttons) {
        // ActionRole keeps the order given instead of the platform's button order.
        buttons.push_back(box.addButton(QString::fromStdString(title), QMessageBox::ActionRole));
    }
    if (buttons.empty()) {
        box.exec();
        return 0;
    }
    box.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
    box.setEscapeButton(buttons.back());
    box.raise();
    box.activateWindow();
    box.exec();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i]) {
            return i;
        }
    }
    return buttons.size() - 1;
}

}  // namespace larkspire::linux_desktop
