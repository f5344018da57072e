#include "hud/ScreenAwareHUD.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <regex>

namespace larkspire {
namespace {

using platform::Point;
using platform::Rect;

double intersectionArea(const Rect& a, const Rect& b) {
    const double w = std::min(a.maxX(), b.maxX()) - std::max(a.x, b.x);
    const double h = std::min(a.maxY(), b.maxY()) - std::max(a.y, b.y);
    return (w > 0 && h > 0) ? w * h : 0;
}

std::string shortest(double v) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

}  // namespace

ScreenAwareHUD::ScreenAwareHUD(platform::FloatingPanel& panel, platform::Scheduler& scheduler,
                               platform::UserDefaults& defaults)
    : panel_(panel), scheduler_(scheduler), defaults_(defaults) {
    panel_.setFrame(Rect{0, 0, statusWidth, height});
    panel_.setHandlers({lifetime_.guard([this] { windowDidMove(); }),
                        lifetime_.guard([this] { pausePressed(); }),
                        lifetime_.guard([this] { restartPressed(); }),
                        lifetime_.guard([this] { stopPressed(); })});
}

double ScreenAwareHUD::fittedWidth() const {
    double cap = maximumWidth;
    if (auto main = panel_.mainScreen(); main && !main->isEmpty()) {
        cap = std::min(cap, main->width - 32);
    }
    const double designed = designedWidth();
    return std::clamp(panel_.fittingWidth(content_), designed, std::max(designed, cap));
}

void ScreenAwareHUD::resize(double width) {
    const Rect f = panel_.frame();
    panel_.setFrame(Rect{f.x, f.y, width, height});
}

void ScreenAwareHUD::moveToFront() {
    const Point o = resolvedOrigin();
    const Rect f = panel_.frame();
    panel_.setFrame(Rect{o.x, o.y, f.width, f.height});
    panel_.orderFront();
}

void ScreenAwareHUD::showStatus(const std::string& text, const std::string& symbol) {
    ++displayGeneration_;
    setPlayerControls(false);
    content_.text = text;
    content_.symbol = symbol;
    content_.accessibility = text;
    panel_.setContent(content_);
    resize(fittedWidth());
    moveToFront();
}

void ScreenAwareHUD::setPlayerControls(bool visible) {
    content_.controlsVisible = visible;
    panel_.setContent(content_);
    resize(fittedWidth());
    if (!visible) {
        pauseAction_ = nullptr;
        restartAction_ = nullptr;
        stopAction_ = nullptr;
    }
}

void ScreenAwareHUD::showPlayer(const std::string& text, bool paused, std::function<void()> onPause,
                                std::function<void()> onRestart, std::function<void()> onStop) {
    ++displayGeneration_;
    pauseAction_ = std::move(onPause);
    restartAction_ = std::move(onRestart);
    stopAction_ = std::move(onStop);
    content_.controlsVisible = true;
    updatePlayer(text, paused);
    moveToFront();
}

void ScreenAwareHUD::updatePlayer(const std::string& text, bool paused) {
    content_.text = text;
    content_.symbol = paused ? "speaker.slash.fill" : "speaker.wave.2.fill";
    content_.accessibility = text;
    content_.pauseSymbol = paused ? "play.fill" : "pause.fill";
    content_.pauseLabel = paused ? "Resume" : "Pause";
    panel_.setContent(content_);
    resize(fittedWidth());
}

void ScreenAwareHUD::hide(double afterSeconds) {
    const long generation = ++displayGeneration_;
    scheduler_.postAfter(platform::Duration(std::max(0.0, afterSeconds)),
                         lifetime_.guard([this, generation] {
                             if (displayGeneration_ != generation) {
                                 return;
                             }
                             panel_.orderOut();
                             setPlayerControls(false);
                         }));
}

void ScreenAwareHUD::pausePressed() {
    if (pauseAction_) {
        auto action = pauseAction_;
        action();
    }
}

void ScreenAwareHUD::restartPressed() {
    if (restartAction_) {
        auto action = restartAction_;
        action();
    }
}

void ScreenAwareHUD::stopPressed() {
    if (stopAction_) {
        auto action = stopAction_;
        action();
    }
}

void ScreenAwareHUD::windowDidMove() {
    if (!panel_.isVisible()) {
        return;
    }
    const Rect f = panel_.frame();
    defaults_.setString(positionKey, stringFromPoint(Point{f.maxX() - designedWidth(), f.y}));
}

Point ScreenAwareHUD::resolvedOrigin() const {
    const auto saved = defaults_.stringValue(positionKey);
    if (!saved) {
        return constrained(defaultOrigin());
    }
    // The saved place is the designed panel's: a wider one grows to its left, so that its
    // right edge stays where the user put it.
    Point o = pointFromString(*saved);
    o.x -= panel_.frame().width - designedWidth();
    return constrained(o);
}

Point ScreenAwareHUD::defaultOrigin() const {
    const auto screens = panel_.screens();
    Rect vf;
    if (!screens.empty()) {
        vf = screens.front();
    } else if (auto main = panel_.mainScreen()) {
        vf = *main;
    }
    const Rect f = panel_.frame();
    return Point{vf.maxX() - f.width - 16, vf.maxY() - f.height - 12};
}

Point ScreenAwareHUD::constrained(Point origin) const {
    const Rect f = panel_.frame();
    const Rect r{origin.x, origin.y, f.width, f.height};
    const auto screens = panel_.screens();
    std::optional<Rect> chosen;
    if (!screens.empty()) {
        chosen = screens.front();
        for (size_t i = 1; i < screens.size(); ++i) {
            if (intersectionArea(screens[i], r) > intersectionArea(*chosen, r)) {
                chosen = screens[i];
            }
        }
    } else {
        chosen = panel_.mainScreen();
    }
    if (!chosen || chosen->isEmpty()) {
        return origin;
    }
    const Rect& vf = *chosen;
    // The upper bound wins when the panel is larger than the frame.
    const double x = std::min(std::max(origin.x, vf.x), vf.maxX() - f.width);
    const double y = std::min(std::max(origin.y, vf.y), vf.maxY() - f.height);
    return Point{x, y};
}

std::string ScreenAwareHUD::stringFromPoint(Point p) {
    return "{" + shortest(p.x) + ", " + shortest(p.y) + "}";
}

Point ScreenAwareHUD::pointFromString(const std::string& s) {
    static const std::regex number(R"([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)");
    double values[2] = {0, 0};
    int found = 0;
    for (auto it = std::sregex_iterator(s.begin(), s.end(), number);
         it != std::sregex_iterator() && found < 2; ++it) {
        values[found++] = std::strtod(it->str().c_str(), nullptr);
    }
    return Point{values[0], values[1]};
}

}  // namespace larkspire
