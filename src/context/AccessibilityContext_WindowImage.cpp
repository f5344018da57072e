// AccessibilityContext: the image of the application's main window.
#include <algorithm>
#include <cmath>

#include "context/AccessibilityContext.h"

namespace larkspire {

std::optional<Bytes> AccessibilityContext::captureWindowImage(
    platform::WindowCapture& windows, platform::ImageEncoder& encoder) const {
    if (textOnly || processIdentifier == 0) {
        return std::nullopt;
    }
    const auto list = windows.onScreenWindows();
    if (!list) {
        return std::nullopt;
    }
    // The largest ordinary window of the application; on equal areas the one nearer the
    // front (the list runs front to back).
    std::optional<platform::WindowId> chosen;
    double chosenArea = 0;
    for (const auto& w : *list) {
        const double area = w.width * w.height;
        if (w.owner != processIdentifier || w.layer != 0 || !(area > kMinimumWindowArea)) {
            continue;
        }
        if (!chosen || area > chosenArea) {
            chosen = w.window;
            chosenArea = area;
        }
    }
    if (!chosen) {
        return std::nullopt;
    }
    const auto image = windows.imageOf(*chosen);
    if (!image) {
        return std::nullopt;
    }
    return boundedJPEG(*image, kMaxImageSide, encoder);
}

std::optional<Bytes> AccessibilityContext::boundedJPEG(const platform::Image& image,
                                                       int maxPixelDimension,
                                                       platform::ImageEncoder& encoder) {
    if (image.width <= 0 || image.height <= 0) {
        return std::nullopt;
    }
    int width = image.width;
    int height = image.height;
    const int longest = std::max(width, height);
    if (longest > maxPixelDimension) {
        const double scale = static_cast<double>(maxPixelDimension) / longest;
        // Halves round away from zero; the short side never drops below one pixel.
        width = std::max(1, static_cast<int>(std::lround(width * scale)));
        height = std::max(1, static_cast<int>(std::lround(height * scale)));
    }
    return encoder.scaledJPEG(image, width, height, kJpegQuality);
}

}  // namespace larkspire
