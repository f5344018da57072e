#pragma once

#include <string>
#include <vector>

#include "platform/ImageEncoder.h"

namespace larkspire::fake {

// Encodes nothing real: returns the text "jpeg WIDTHxHEIGHT qQUALITY from SOURCE_WxSOURCE_H"
// as bytes, so a test reads what it was asked to make; fails while `fails` is set.
class FakeImageEncoder : public platform::ImageEncoder {
  public:
    std::optional<std::vector<std::uint8_t>> scaledJPEG(const platform::Image& image, int width,
                                                        int height, int quality) override {
        if (fails) {
            return std::nullopt;
        }
        const std::string text = "jpeg " + std::to_string(width) + "x" + std::to_string(height) +
                                 " q" + std::to_string(quality) + " from " +
                                 std::to_string(image.width) + "x" + std::to_string(image.height);
        return std::vector<std::uint8_t>(text.begin(), text.end());
    }
    bool fails = false;
};

}  // namespace larkspire::fake
