#include "platform/linux/TrayStatusArea.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPushButton>
#include <QSvgRenderer>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>
#include <mutex>

#include "app/StatusIcons.h"
#include "platform/linux/MenuView.h"

// Resources of a static library must be registered by hand.
static void registerIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace larkspire::desktop {
namespace {

QString symbolPath(const std::string& name) {
    static std::once_flag once;
    std::call_once(once, registerIconResources);
    return QStringLiteral(":/icons/%1.svg").arg(QString::fromStdString(name));
}

// Draws at `px` device pixels per side; the model is in points of an 18 x 18 canvas
// whose y axis points up.
QPixmap drawIdle(int px, const QColor& color) {
    QPixmap pm(px, px);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    const double scale = px / icons::idleSize;
    for (const auto& bar : icons::idleBars) {
        const QRectF r(bar.x * scale, (icons::idleSize - bar.y - bar.height) * scale,
                       bar.width * scale, bar.height * scale);
        p.drawRoundedRect(r, bar.radius * scale, bar.radius * scale);
    }
    return pm;
}

QPixmap drawSymbol(const std::string& name, int px, const std::optional<QColor>& color) {
    QPixmap pm(px, px);
    pm.fill(Qt::transparent);
    QSvgRenderer svg(symbolPath(name));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    svg.render(&p);
    if (color) {
        // Dark strokes take the colour; the white cut-outs of filled symbols turn
        // transparent, so they show the panel behind them as the symbol intends.
        QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < img.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x) {
                const QRgb c = line[x];
                const int alpha = qAlpha(c) * (255 - qGray(c)) / 255;
                line[x] = qRgba(color->red(), color->green(), color->blue(), alpha);
            }
        }
        return QPixmap::fromImage(img);
    }
    return pm;
}

}  // namespace

bool hasBundledSymbol(const std::string& name) {
    return QFile::exists(symbolPath(name));
}

QPixmap tintedSymbol(const std::string& name, int px, const QColor& color) {
    return hasBundledSymbol(name) ? drawSymbol(name, px, color) : QPixmap();
}

QIcon renderStatusIcon(const platform::StatusIcon& icon, bool darkPanel) {
    if (!icon.hasImage) {
        return QIcon();
    }
    const QColor foreground = darkPanel ? QColor(0xf2, 0xf2, 0xf2) : QColor(Qt::black);
    const QColor red(0xff, 0x3b, 0x30);
    QIcon out;
    for (int px : {16, 22, 24, 32, 44, 48}) {
        if (icon.name == icons::idle) {
            out.addPixmap(drawIdle(px, foreground));
        } else {
            std::optional<QColor> color;
            if (icon.redTint) {
                color = red;
            } else if (icon.templateImage) {
                color = foreground;
            }
            out.addPixmap(drawSymbol(icon.name, px, color));
        }
    }
    return out;
}

TrayStatusArea::TrayStatusArea() = default;
TrayStatusArea::~TrayStatusArea() = default;

bool TrayStatusArea::hasSymbol(const std::string& name) const {
    return hasBundledSymbol(name);
}

void TrayStatusArea::setIcon(const platform::StatusIcon& icon) {
    icon_ = icon;
    // An XEmbed tray does not tell its colour; the desktop's palette is the best guess.
    const bool darkPanel = QApplication::palette().color(QPalette::Window).lightness() < 128;
    const QIcon rendered = renderStatusIcon(icon, darkPanel);
    const QString text = QString::fromStdString(icon.accessibility);
    if (tray_) {
        tray_->setIcon(rendered);
        tray_->setToolTip(text);
    }
    if (fallback_) {
        fallback_->setWindowIcon(rendered);
        if (auto* label = fallback_->findChild<QLabel*>("status")) {
            label->setText(text);
        }
    }
}

void TrayStatusArea::setMenu(std::shared_ptr<Menu> menu) {
    statusView_ = std::make_unique<MenuView>(std::move(menu));
    if (tray_) {
        tray_->setContextMenu(statusView_->menu());
    }
}

void TrayStatusArea::setMainMenu(std::shared_ptr<Menu> menu) {
    // Linux desktops have no global menu bar for tray agents; the fallback window shows it.
    mainView_ = std::make_unique<MenuView>(std::move(menu));
}

QMenu* TrayStatusArea::statusQMenu() const {
    return statusView_ ? statusView_->menu() : nullptr;
}

void TrayStatusArea::show() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        usingTray_ = true;
        tray_ = std::make_unique<QSystemTrayIcon>();
        if (statusView_) {
            tray_->setContextMenu(statusView_->menu());
        }
        // A left click opens the menu too, as users of tray agents expect.
        QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger && statusView_) {
                                 statusView_->menu()->popup(QCursor::pos());
                             }
                         });
        setIcon(icon_);
        tray_->show();
        return;
    }
    showFallbackWindow();
}

void TrayStatusArea::raise() {
    if (fallback_) {
        fallback_->show();
        fallback_->raise();
        fallback_->activateWindow();
    }
}

void TrayStatusArea::showFallbackWindow() {
    fallback_ = std::make_unique<QWidget>();
    fallback_->setObjectName("larkspire-no-tray");
    fallback_->setWindowTitle("Larkspire");
    auto* layout = new QVBoxLayout(fallback_.get());  // owned by the window
    auto* note = new QLabel(
        "This desktop has no system tray, so Larkspire shows its menu here.\n"
        "Closing this window keeps Larkspire running: start Larkspire again to bring it "
        "back, or choose Quit in the menu to end it.");
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* status = new QLabel();
    status->setObjectName("status");
    layout->addWidget(status);
    auto* button = new QPushButton("Larkspire menu");
    button->setObjectName("menu");
    if (statusView_) {
        button->setMenu(statusView_->menu());
    }
    layout->addWidget(button);
    fallback_->resize(380, 140);
    setIcon(icon_);
    fallback_->show();
}

}  // namespace larkspire::desktop
