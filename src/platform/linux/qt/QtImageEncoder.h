#pragma once

#include "platform/ImageEncoder.h"

namespace larkspire::linux_desktop {

// Scaling with Qt's smooth (area-averaging when shrinking) filter and JPEG encoding
// with Qt's JPEG plug-in, all in memory. Any thread.
class QtImageEncoder : public platform::ImageEncoder {
  public:
    std::optional<std::vector<std::uint8_t>> scaledJPEG(const platform::Image& image, int width,
                                                        int height, int quality) override;
};

}  // namespace larkspire::linux_desktop
