#pragma once

#include <functional>
#include <string>

#include "platform/FloatingPanel.h"

namespace larkspire::fake {

// A panel on a configurable set of screens. Tests move it the way a drag would and
// press its buttons.
class FakeFloatingPanel : public platform::FloatingPanel {
  public:
    void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
    void setContent(const platform::PanelContent& content) override { content_ = content; }
    void setFrame(const platform::Rect& frame) override { frame_ = frame; }
    platform::Rect frame() const override { return frame_; }
    void orderFront() override { visible_ = true; }
    void orderOut() override { visible_ = false; }
    bool isVisible() const override { return visible_; }
    double fittingWidth(const platform::PanelContent& content) const override {
        return textWidth ? textWidth(content.text) +
                               (content.controlsVisible ? platform::kPlayerControlsWidth : 0)
                         : 0;
    }
    std::vector<platform::Rect> screens() const override { return screenFrames; }
    std::optional<platform::Rect> mainScreen() const override { return mainFrame; }

    // What a user's drag does: the panel moves and says so.
    void dragTo(platform::Point origin) {
        frame_.x = origin.x;
        frame_.y = origin.y;
        if (handlers_.moved) {
            handlers_.moved();
        }
    }
    void clickPause() { call(handlers_.pause); }
    void clickRestart() { call(handlers_.restart); }
    void clickStop() { call(handlers_.stop); }
    const platform::PanelContent& content() const { return content_; }

    std::vector<platform::Rect> screenFrames{{0, 0, 1440, 875}};
    std::optional<platform::Rect> mainFrame{platform::Rect{0, 0, 1440, 875}};
    // The fonts' measure of a text; without it every text fits the designed widths.
    std::function<double(const std::string&)> textWidth;

  private:
    static void call(const std::function<void()>& f) {
        if (f) {
            f();
        }
    }
    Handlers handlers_;
    platform::PanelContent content_;
    platform::Rect frame_;
    bool visible_ = false;
};

}  // namespace larkspire::fake
