#include "platform/linux/qt/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace larkspire::linux_desktop {

void QtClipboard::setText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text), QClipboard::Clipboard);
}

void QtClipboard::setPrimaryText(const std::string& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection()) {
        clipboard->setText(QString::fromStdString(text), QClipboard::Selection);
    }
}

std::optional<std::string> QtClipboard::text() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText()) {
        return std::nullopt;
    }
    return data->text().toStdString();
}

}  // namespace larkspire::linux_desktop
