#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace larkspire::platform {

// Desktop geometry as the logic sees it: points, y growing upwards, the primary
// screen's bottom-left corner at (0, 0). Implementations convert.
struct Point {
    double x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

struct Rect {
    double x = 0, y = 0, width = 0, height = 0;
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    bool isEmpty() const { return width <= 0 || height <= 0; }
    bool operator==(const Rect&) const = default;
};

// The width of the player's three buttons beside the text, in points: the panel draws
// them, the layout makes room for them.
inline constexpr double kPlayerControlsWidth = 89;

// What the status panel shows.
struct PanelContent {
    std::string text;
    std::string symbol;
    std::string accessibility;
    bool controlsVisible = false;
    std::string pauseSymbol = "pause.fill";
    std::string pauseLabel = "Pause";
};

// A small always-on-top panel that never takes keyboard focus.
class FloatingPanel {
  public:
    struct Handlers {
        std::function<void()> moved;  // the user dragged the panel (once, at the drop)
        std::function<void()> pause, restart, stop;
    };

    virtual ~FloatingPanel() = default;
    virtual void setHandlers(Handlers handlers) = 0;
    virtual void setContent(const PanelContent& content) = 0;
    virtual void setFrame(const Rect& frame) = 0;
    virtual Rect frame() const = 0;
    // Brings the panel to the front without activating the agent.
    virtual void orderFront() = 0;
    virtual void orderOut() = 0;
    virtual bool isVisible() const = 0;
    // The width the content needs in the desktop's own fonts, buttons included.
    virtual double fittingWidth(const PanelContent& content) const = 0;

    // Visible frames (without panels and docks) of the screens, primary first.
    virtual std::vector<Rect> screens() const = 0;
    virtual std::optional<Rect> mainScreen() const = 0;
};

}  // namespace larkspire::platform
