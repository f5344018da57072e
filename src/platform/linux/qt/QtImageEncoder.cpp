#include "platform/linux/qt/QtImageEncoder.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

namespace larkspire::linux_desktop {

std::optional<std::vector<std::uint8_t>> QtImageEncoder::scaledJPEG(const platform::Image& image,
                                                                    int width, int height,
                                                                    int quality) {
    const auto pixels = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    if (image.width <= 0 || image.height <= 0 || image.pixels.size() < pixels || width <= 0 ||
        height <= 0) {
        return std::nullopt;
    }
    // A view of the pixels: 0xffRRGGBB words are Qt's RGB32 layout.
    const QImage source(reinterpret_cast<const uchar*>(image.pixels.data()), image.width,
                        image.height, image.width * 4, QImage::Format_RGB32);
    const QImage scaled =
        width == image.width && height == image.height
            ? source
            : source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull()) {
        return std::nullopt;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(scaled)) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace larkspire::linux_desktop
