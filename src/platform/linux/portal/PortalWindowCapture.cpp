#include "platform/linux/portal/PortalWindowCapture.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>

#include <cstdio>

namespace larkspire::desktop {
namespace {

constexpr const char* kScreenshot = "org.freedesktop.portal.Screenshot";
// The only window this capture names: the screen.
constexpr platform::WindowId kScreen = 1;
// Long enough for a user to answer the desktop's first-time question.
constexpr std::chrono::seconds kAnswerTimeout{60};

}  // namespace

PortalWindowCapture::PortalWindowCapture(Portal& portal, platform::FrontmostApp& frontmost,
                                         platform::SystemLog& log)
    : portal_(portal), frontmost_(frontmost), log_(log) {}

bool PortalWindowCapture::canCaptureWindows() const {
    return portal_.version(kScreenshot) > 0;
}

std::optional<std::vector<platform::WindowDescription>> PortalWindowCapture::onScreenWindows() {
    const auto front = frontmost_.frontmost();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!front || !screen) {
        return std::nullopt;
    }
    const QSize size = screen->size() * screen->devicePixelRatio();
    return std::vector<platform::WindowDescription>{{kScreen, front->processIdentifier, 0,
                                                     static_cast<double>(size.width()),
                                                     static_cast<double>(size.height())}};
}

std::optional<platform::Image> PortalWindowCapture::imageOf(platform::WindowId window) {
    if (window != kScreen) {
        return std::nullopt;
    }
    const std::string token = portal_.newToken();
    const Portal::Response response =
        portal_.wait(token, kScreenshot, "Screenshot",
                     g_variant_new("(s@a{sv})", "",
                                   vardict({{"handle_token", text(token)},
                                            {"interactive", g_variant_new_boolean(FALSE)}})),
                     kAnswerTimeout);
    const VariantPtr uri = lookup(response.results.get(), "uri", "s");
    if (response.code != 0 || !uri) {
        log_.log("Larkspire: the desktop portal took no screenshot (answer " +
                 std::to_string(response.code) + " " + response.error + ")");
        return std::nullopt;
    }
    CHandle<char, g_free> path(
        g_filename_from_uri(g_variant_get_string(uri.get(), nullptr), nullptr, nullptr));
    if (!path) {
        return std::nullopt;
    }
    const QImage picture =
        QImage(QString::fromLocal8Bit(path.get())).convertToFormat(QImage::Format_RGB32);
    std::remove(path.get());
    if (picture.isNull()) {
        log_.log("Larkspire: the desktop portal's screenshot could not be read");
        return std::nullopt;
    }
    platform::Image image;
    image.width = picture.width();
    image.height = picture.height();
    image.pixels.reserve(static_cast<std::size_t>(image.width) * image.height);
    for (int y = 0; y < picture.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        image.pixels.insert(image.pixels.end(), row, row + picture.width());
    }
    return image;
}

}  // namespace larkspire::desktop
