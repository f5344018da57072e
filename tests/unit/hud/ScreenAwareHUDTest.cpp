#include <gtest/gtest.h>

#include "hud/ScreenAwareHUD.h"
#include "platform/fake/FakeFloatingPanel.h"
#include "platform/fake/FakeScheduler.h"
#include "platform/fake/FakeUserDefaults.h"

namespace larkspire {
namespace {

using platform::Point;
using platform::Rect;

class HUD : public ::testing::Test {
  protected:
    fake::VirtualClock clock;
    fake::FakeScheduler scheduler{clock};
    fake::FakeUserDefaults defaults;
    fake::FakeFloatingPanel panel;
    std::unique_ptr<ScreenAwareHUD> hud =
        std::make_unique<ScreenAwareHUD>(panel, scheduler, defaults);
};

TEST_F(HUD, StatusAppearsTopRightOfTheFirstScreen) {
    panel.screenFrames = {{0, 0, 1440, 875}, {1440, 0, 1920, 1055}};
    hud->showStatus("Listening", "waveform");
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.frame(), (Rect{1440 - 210 - 16, 875 - 48 - 12, 210, 48}));
    EXPECT_EQ(panel.content().text, "Listening");
    EXPECT_EQ(panel.content().symbol, "waveform");
    EXPECT_EQ(panel.content().accessibility, "Listening");
    EXPECT_FALSE(panel.content().controlsVisible);
}

// 13 points a character: "Pasted and remembered" needs 273, more than the designed 210.
TEST_F(HUD, ALongerTextWidensThePanelToTheLeftUpToItsMaximum) {
    panel.textWidth = [](const std::string& text) { return 13.0 * text.size(); };
    hud->showStatus("Listening", "waveform");
    EXPECT_EQ(panel.frame(), (Rect{1440 - 210 - 16, 875 - 48 - 12, 210, 48}));
    hud->showStatus("Pasted and remembered", "checkmark.circle.fill");
    EXPECT_EQ(panel.frame(), (Rect{1440 - 273 - 16, 875 - 48 - 12, 273, 48}));
    hud->showStatus(std::string(80, 'x'), "exclamationmark.triangle");
    EXPECT_EQ(panel.frame().width, ScreenAwareHUD::maximumWidth);
    // Where the user put the designed panel, its right edge stays; the place kept is the
    // designed panel's.
    defaults.setString(ScreenAwareHUD::positionKey, "{300, 200}");
    hud->showStatus("Pasted and remembered", "checkmark.circle.fill");
    EXPECT_EQ(panel.frame(), (Rect{300 + 210 - 273, 200, 273, 48}));
    panel.dragTo({400, 100});
    EXPECT_EQ(defaults.stringValue(ScreenAwareHUD::positionKey), "{463, 100}");
    hud->showPlayer("Reading clipboard", false, {}, {}, {});
    EXPECT_EQ(panel.frame().width, 330);  // 221 + 89 fit the player's 330
    panel.screenFrames = {{0, 0, 400, 300}};
    panel.mainFrame = Rect{0, 0, 400, 300};
    hud->showStatus("Pasted and remembered and more", "checkmark.circle.fill");
    EXPECT_EQ(panel.frame().width, 400 - 32) << "a small screen caps it";
}

TEST_F(HUD, ANewDisplaySupersedesAPendingHide) {
    hud->showStatus("Recording saved for retry", "exclamationmark.arrow.circlepath");
    hud->hide(2.8);
    scheduler.advance(platform::Duration(1.0));
    hud->showStatus("Listening", "waveform");
    scheduler.advance(platform::Duration(5.0));
    EXPECT_TRUE(panel.isVisible());
}

TEST_F(HUD, OnlyTheLaterOfTwoHidesActs) {
    hud->showStatus("Pasted and remembered", "checkmark.circle.fill");
    hud->hide(1.0);
    hud->hide(3.0);
    scheduler.advance(platform::Duration(2.0));
    EXPECT_TRUE(panel.isVisible());
    scheduler.advance(platform::Duration(1.01));
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(HUD, HideAfterZeroWaitsForTheNextTurnOfTheMainQueue) {
    hud->showStatus("Listening", "waveform");
    hud->hide(0);
    EXPECT_TRUE(panel.isVisible());
    scheduler.runDue();
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(HUD, PlayerWidensAndStatusDropsTheButtonsAndTheirActions) {
    int pauses = 0, restarts = 0, stops = 0;
    hud->showPlayer(
        "Reading clipboard", false, [&] { ++pauses; }, [&] { ++restarts; }, [&] { ++stops; });
    EXPECT_EQ(panel.frame().width, 330);
    EXPECT_EQ(hud->controlsWidth(), 89);
    EXPECT_EQ(panel.content().symbol, "speaker.wave.2.fill");
    EXPECT_EQ(panel.content().pauseLabel, "Pause");
    panel.clickPause();
    panel.clickRestart();
    panel.clickStop();
    EXPECT_EQ(pauses + restarts + stops, 3);

    hud->updatePlayer("Paused", true);
    EXPECT_EQ(panel.content().symbol, "speaker.slash.fill");
    EXPECT_EQ(panel.content().pauseSymbol, "play.fill");
    EXPECT_EQ(panel.content().pauseLabel, "Resume");

    hud->showStatus("Reading stopped", "stop.circle");
    EXPECT_EQ(panel.frame().width, 210);
    EXPECT_EQ(hud->controlsWidth(), 0);
    panel.clickPause();
    panel.clickStop();
    EXPECT_EQ(pauses + restarts + stops, 3);
}

TEST_F(HUD, DragSavesTheOriginOnlyWhileVisibleAndTheNextLaunchUsesIt) {
    panel.dragTo({100, 100});  // not visible yet: nothing stored
    EXPECT_FALSE(defaults.contains(ScreenAwareHUD::positionKey));
    hud->showStatus("Listening", "waveform");
    panel.dragTo({300.5, 200});
    EXPECT_EQ(defaults.stringValue(ScreenAwareHUD::positionKey), "{300.5, 200}");

    hud.reset();
    fake::FakeFloatingPanel next;
    ScreenAwareHUD relaunched(next, scheduler, defaults);
    relaunched.showStatus("Listening", "waveform");
    EXPECT_EQ(next.frame().x, 300.5);
    EXPECT_EQ(next.frame().y, 200);
}

TEST_F(HUD, OffScreenPositionIsClampedIntoTheScreenItOverlapsMost) {
    panel.screenFrames = {{0, 0, 1440, 875}, {1440, 0, 1920, 1055}};
    defaults.setString(ScreenAwareHUD::positionKey, "{3300, 1040}");  // right of the second
    hud->showStatus("Listening", "waveform");
    EXPECT_EQ(panel.frame().x, 1440 + 1920 - 210);
    EXPECT_EQ(panel.frame().y, 1055 - 48);
    // Overlapping both, more of it on the first screen.
    EXPECT_EQ(hud->constrained({1300, 10}), (Point{1440 - 210, 10}));
    // Overlapping neither: the first screen.
    EXPECT_EQ(hud->constrained({-5000, -5000}), (Point{0, 0}));
}

TEST_F(HUD, UnparsableSavedPositionReadsAsZeroAndIsClamped) {
    panel.screenFrames = {{0, 40, 1440, 835}};
    defaults.setString(ScreenAwareHUD::positionKey, "somewhere");
    hud->showStatus("Listening", "waveform");
    EXPECT_EQ(panel.frame().x, 0);
    EXPECT_EQ(panel.frame().y, 40);
    EXPECT_EQ(ScreenAwareHUD::pointFromString("{12.5, -3}"), (Point{12.5, -3}));
    EXPECT_EQ(ScreenAwareHUD::stringFromPoint({-0.25, 1e3}), "{-0.25, 1000}");
}

TEST_F(HUD, PanelLargerThanTheFrameSticksToTheUpperBound) {
    panel.screenFrames = {{0, 0, 100, 30}};
    EXPECT_EQ(hud->constrained({50, 50}), (Point{100 - 210, 30 - 48}));
}

TEST_F(HUD, NoScreensLeaveTheOriginAlone) {
    panel.screenFrames.clear();
    panel.mainFrame.reset();
    EXPECT_EQ(hud->constrained({12, 34}), (Point{12, 34}));
    EXPECT_EQ(hud->defaultOrigin(), (Point{-210 - 16, -48 - 12}));
}

TEST_F(HUD, DelayedHideOfAGoneHUDDoesNothing) {
    hud->showStatus("Listening", "waveform");
    hud->hide(1.0);
    hud.reset();
    scheduler.advance(platform::Duration(2.0));
    EXPECT_TRUE(panel.isVisible());
}

}  // namespace
}  // namespace larkspire
