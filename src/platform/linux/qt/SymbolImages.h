#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <string>

#include "platform/StatusArea.h"

namespace larkspire::linux_desktop {

// The bundled symbol images (SVG resources named as the logic names them), shared by
// the status item and the floating panel.

// Renders an icon model: the drawn idle meter, or a bundled symbol, recoloured for
// template images (the panel's foreground) and the red recording tint.
QIcon renderStatusIcon(const platform::StatusIcon& icon, bool darkPanel);
bool hasBundledSymbol(const std::string& name);
// A bundled symbol drawn in one colour; a null pixmap for a name we do not have.
QPixmap tintedSymbol(const std::string& name, int px, const QColor& color);

}  // namespace larkspire::linux_desktop
