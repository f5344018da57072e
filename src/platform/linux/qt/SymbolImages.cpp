#include "platform/linux/qt/SymbolImages.h"

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <mutex>
#include <optional>

#include "platform/StatusSymbols.h"

// Resources of a static library must be registered by hand.
static void registerIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace larkspire::linux_desktop {
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
    const double scale = px / platform::symbols::idleSize;
    for (const auto& bar : platform::symbols::idleBars) {
        const QRectF r(bar.x * scale, (platform::symbols::idleSize - bar.y - bar.height) * scale,
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
        if (icon.name == platform::symbols::idle) {
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

}  // namespace larkspire::linux_desktop
