#pragma once

#include <array>
#include <string_view>

namespace larkspire::platform::symbols {

inline constexpr std::string_view idle = "larkspire.idle";
inline constexpr std::string_view idleText = "Larkspire idle";
inline constexpr std::string_view recording = "record.circle.fill";
inline constexpr std::string_view warning = "exclamationmark.triangle";

// One bar of the drawn idle meter, in points on an 18 x 18 canvas (y grows upwards).
struct Bar {
    double x, y, width, height, radius;
};

// Five rounded bars: a symmetric level meter, tallest in the middle.
inline constexpr double idleSize = 18.0;
inline constexpr std::array<Bar, 5> idleBars{{
    {1.2, 5.5, 1.8, 7, 0.9},
    {4.65, 3, 1.8, 12, 0.9},
    {8.1, 1, 1.8, 16, 0.9},
    {11.55, 3, 1.8, 12, 0.9},
    {15.0, 5.5, 1.8, 7, 0.9},
}};

}  // namespace larkspire::platform::symbols
