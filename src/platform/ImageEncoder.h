#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/WindowCapture.h"

namespace larkspire::platform {

// Scales and compresses images in memory. Any thread.
class ImageEncoder {
  public:
    virtual ~ImageEncoder() = default;
    // `image` scaled to `width` x `height` with a high-quality filter (unchanged when
    // that is its own size) and encoded as JPEG at `quality` (0 to 100); absent when
    // either step fails.
    virtual std::optional<std::vector<std::uint8_t>> scaledJPEG(const Image& image, int width,
                                                                int height, int quality) = 0;
};

}  // namespace larkspire::platform
