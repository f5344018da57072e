#include "platform/linux/wayland/SwayWindowList.h"

#include <gtest/gtest.h>

namespace larkspire::linux_desktop {
namespace {

// Two outputs side by side; on the first a tiled pair (the right one focused) and a
// floating window with a border and a title; on the second a visible window and one on a
// hidden workspace. Shaped as sway 1.7 answers GET_TREE, trimmed to what is read.
constexpr const char* kTree = R"({"id": 1, "type": "root", "rect": {"x": 0, "y": 0}, "nodes": [
  {"id": 3, "type": "output", "name": "HDMI-A-1", "rect": {"x": 0, "y": 0}, "nodes": [
    {"id": 4, "type": "workspace", "nodes": [
      {"id": 10, "pid": 100, "visible": true, "focused": false,
       "rect": {"x": 0, "y": 0}, "window_rect": {"x": 0, "y": 0, "width": 640, "height": 720}},
      {"id": 11, "pid": 101, "visible": true, "focused": true,
       "rect": {"x": 640, "y": 0}, "window_rect": {"x": 0, "y": 0, "width": 640, "height": 720}}],
     "floating_nodes": [
      {"id": 12, "pid": 102, "visible": true, "focused": false,
       "rect": {"x": 100, "y": 100}, "window_rect": {"x": 2, "y": 25, "width": 300, "height": 200}}]}]},
  {"id": 5, "type": "output", "name": "DP-1", "rect": {"x": 1280, "y": 0}, "nodes": [
    {"id": 6, "type": "workspace", "nodes": [
      {"id": 13, "pid": 103, "visible": true, "focused": false,
       "rect": {"x": 1290, "y": 30}, "window_rect": {"x": 0, "y": 0, "width": 800, "height": 600}}]},
    {"id": 7, "type": "workspace", "nodes": [
      {"id": 14, "pid": 104, "visible": false, "focused": false,
       "rect": {"x": 1280, "y": 0}, "window_rect": {"x": 0, "y": 0, "width": 800, "height": 600}}]}]}]})";

TEST(SwayWindowListTest, VisibleWindowsFrontFirstInTheirOutputsCoordinates) {
    const auto windows = SwayWindowList::windowsOfTree(kTree);
    struct Expected {
        std::uint64_t id;
        std::string output;
        int x, y, width, height;
    };
    // The focused one first, then floating before tiled.
    const std::vector<Expected> expected = {
        {11, "HDMI-A-1", 640, 0, 640, 720},
        {13, "DP-1", 10, 30, 800, 600},
        {12, "HDMI-A-1", 102, 125, 300, 200},
        {10, "HDMI-A-1", 0, 0, 640, 720},
    };
    ASSERT_EQ(windows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& w = windows[i];
        const auto& e = expected[i];
        EXPECT_EQ(w.id, e.id) << i;
        EXPECT_EQ(w.pid, static_cast<std::int32_t>(e.id) + 90) << i;
        EXPECT_EQ(w.output, e.output) << i;
        EXPECT_EQ((std::vector{w.x, w.y, w.width, w.height}),
                  (std::vector{e.x, e.y, e.width, e.height}))
            << "window " << e.id;
    }
}

TEST(SwayWindowListTest, AnAnswerThatIsNoTreeListsNoWindows) {
    EXPECT_TRUE(SwayWindowList::windowsOfTree("").empty());
    EXPECT_TRUE(SwayWindowList::windowsOfTree("[1, 2]").empty());
    EXPECT_TRUE(SwayWindowList::windowsOfTree(R"({"nodes": 3})").empty());
}

}  // namespace
}  // namespace larkspire::linux_desktop
