#include "platform/linux/qt/QtModalAlert.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

#include <vector>

namespace larkspire::desktop {

std::size_t QtModalAlert::run(const platform::AlertContent& content) {
    QMessageBox box;
    box.setWindowTitle("Larkspire");
    box.setIcon(QMessageBox::Question);
    box.setText(QString::fromStdString(content.message));
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
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
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

}  // namespace larkspire::desktop
