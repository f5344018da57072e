#pragma once

#include <functional>
#include <string>

#include "platform/FloatingPanel.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "util/Lifetime.h"
#include "util/Preferences.h"

namespace larkspire {

// The floating status panel every flow reports through, with the player buttons of
// read-aloud. Main thread only.
class ScreenAwareHUD {
  public:
    static constexpr double statusWidth = 210;
    static constexpr double playerWidth = 330;
    static constexpr double height = 48;
    static constexpr double controlsWidthShown = platform::kPlayerControlsWidth;
    // A text longer than the designed width widens the panel up to this (or the screen,
    // less a margin); beyond it the panel wraps the text.
    static constexpr double maximumWidth = 480;
    static constexpr const char* positionKey = defaults::recordingHUDOrigin;

    ScreenAwareHUD(platform::FloatingPanel& panel, platform::Scheduler& scheduler,
                   platform::UserDefaults& defaults);

    void showStatus(const std::string& text, const std::string& symbol);
    void showPlayer(const std::string& text, bool paused, std::function<void()> onPause,
                    std::function<void()> onRestart, std::function<void()> onStop);
    void updatePlayer(const std::string& text, bool paused);
    void setPlayerControls(bool visible);
    void hide(double afterSeconds);

    void pausePressed();
    void restartPressed();
    void stopPressed();
    void windowDidMove();

    platform::Point resolvedOrigin() const;
    platform::Point defaultOrigin() const;
    platform::Point constrained(platform::Point origin) const;

    long displayGeneration() const { return displayGeneration_; }
    const platform::PanelContent& content() const { return content_; }
    double controlsWidth() const { return content_.controlsVisible ? controlsWidthShown : 0; }

    // "{x, y}", as the position is stored.
    static std::string stringFromPoint(platform::Point p);
    // The first two numbers of the text; missing ones read as 0.
    static platform::Point pointFromString(const std::string& s);

  private:
    // The designed width of the form shown, and the width its text asks for.
    double designedWidth() const { return content_.controlsVisible ? playerWidth : statusWidth; }
    double fittedWidth() const;
    void resize(double width);
    void moveToFront();

    platform::FloatingPanel& panel_;
    platform::Scheduler& scheduler_;
    platform::UserDefaults& defaults_;
    platform::PanelContent content_;
    std::function<void()> pauseAction_, restartAction_, stopAction_;
    long displayGeneration_ = 0;
    Lifetime lifetime_;
};

}  // namespace larkspire
