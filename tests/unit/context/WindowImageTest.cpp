#include <gtest/gtest.h>

#include <string>

#include "context/AccessibilityContext.h"
#include "platform/fake/FakeImageEncoder.h"
#include "platform/fake/FakeWindowCapture.h"

namespace larkspire {
namespace {

using platform::WindowDescription;

class WindowImage : public ::testing::Test {
  protected:
    void SetUp() override { context.processIdentifier = 500; }
    std::string captured() {
        auto bytes = context.captureWindowImage(windows, encoder);
        return bytes ? std::string(bytes->begin(), bytes->end()) : "none";
    }
    void image(platform::WindowId id, int width, int height) {
        windows.images[id] = platform::Image{width, height, {}};
    }

    AccessibilityContext context;
    fake::FakeWindowCapture windows;
    fake::FakeImageEncoder encoder;
};

TEST_F(WindowImage, TheLargestNormalWindowOfTheApplicationWhereverItIsStacked) {
    windows.windows = {{{1, 500, 0, 400, 300},
                        {2, 999, 0, 2000, 2000},
                        {3, 500, 20, 1600, 1600},
                        {4, 500, 0, 1200, 800}}};
    image(1, 400, 300);
    image(4, 3600, 2000);  // a window of 1200 x 800 points on a display of three pixels each
    EXPECT_EQ(captured(), "jpeg 1800x1000 q68 from 3600x2000");
    EXPECT_EQ(windows.imageRequests, std::vector<platform::WindowId>{4});
}

TEST_F(WindowImage, OfTwoEqualWindowsTheOneNearerTheFrontWins) {
    windows.windows = {{{7, 500, 0, 800, 600}, {8, 500, 0, 600, 800}}};
    image(7, 800, 600);
    image(8, 600, 800);
    EXPECT_EQ(captured(), "jpeg 800x600 q68 from 800x600");
}

TEST_F(WindowImage, NoImageWithoutAWindowLargerThan10000OrWithoutAnApplication) {
    windows.windows = {{{1, 500, 0, 100, 100}, {2, 500, 0, 50, 20}}};
    image(1, 100, 100);
    EXPECT_EQ(captured(), "none");
    EXPECT_TRUE(windows.imageRequests.empty());

    windows.windows.reset();  // the list cannot be read
    EXPECT_EQ(captured(), "none");

    windows.windows = {{{3, 500, 0, 1000, 1000}}};  // the window is gone by now
    EXPECT_EQ(captured(), "none");

    const int reads = windows.listReads;
    context.textOnly = true;
    EXPECT_EQ(captured(), "none");
    context.textOnly = false;
    context.processIdentifier = 0;
    EXPECT_EQ(captured(), "none");
    EXPECT_EQ(windows.listReads, reads);  // neither read the list
}

struct Size {
    int width, height, scaledWidth, scaledHeight;
};

class BoundedJPEG : public ::testing::TestWithParam<Size> {};

TEST_P(BoundedJPEG, ScalesTheLongerSideTo1800RoundingHalvesUpAndNeverEnlarges) {
    const auto& s = GetParam();
    fake::FakeImageEncoder encoder;
    const auto bytes =
        AccessibilityContext::boundedJPEG(platform::Image{s.width, s.height, {}}, 1800, encoder);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()),
              "jpeg " + std::to_string(s.scaledWidth) + "x" + std::to_string(s.scaledHeight) +
                  " q68 from " + std::to_string(s.width) + "x" + std::to_string(s.height));
}

INSTANTIATE_TEST_SUITE_P(Sizes, BoundedJPEG,
                         ::testing::Values(Size{3600, 2000, 1800, 1000},
                                           Size{1800, 1200, 1800, 1200}, Size{5000, 1, 1800, 1},
                                           Size{1, 5000, 1, 1800},
                                           Size{2400, 1001, 1800, 751},  // 750.75
                                           Size{3600, 1001, 1800, 501},  // 500.5: away from 0
                                           Size{640, 480, 640, 480}));

}  // namespace
}  // namespace larkspire
