#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "platform/FloatingPanel.h"

class QHBoxLayout;

namespace larkspire::linux_desktop {
class LayerShellHost;
}
class QLabel;
class QToolButton;

namespace larkspire::linux_desktop {

// The floating status panel: a frameless, always-on-top tool window on every workspace
// that never takes focus from the user's application, with a translucent rounded
// background and, where a compositing manager runs, a soft shadow around it. It can be
// dragged by its background.
class QtFloatingPanel : public QWidget, public platform::FloatingPanel {
    Q_OBJECT
  public:
    // What the window system does for the panel beyond Qt; each may be left empty.
    struct WindowSystem {
        std::function<bool()> composited;
        std::function<void(WId)> showOnEveryWorkspace;
        // Clicks reach the window only inside the rectangle (window coordinates).
        std::function<void(WId, const QRect&)> setInputArea;
    };
    // Room around the panel for its shadow, when there is one.
    static constexpr int kShadowMargin = 14;

    QtFloatingPanel();
    ~QtFloatingPanel() override;

    void setWindowSystem(WindowSystem windowSystem) { windowSystem_ = std::move(windowSystem); }
    // On a Wayland compositor the panel is drawn here and shown by the layer-shell helper
    // `program` (larkspire-panel): a window of its own would be placed and focused by the
    // compositor.
    void showThroughLayerShell(const QString& program);

    void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
    void setContent(const platform::PanelContent& content) override;
    void setFrame(const platform::Rect& frame) override;
    platform::Rect frame() const override;
    void orderFront() override;
    void orderOut() override;
    bool isVisible() const override;
    double fittingWidth(const platform::PanelContent& content) const override;
    std::vector<platform::Rect> screens() const override;
    std::optional<platform::Rect> mainScreen() const override;

    QString labelText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QToolButton* makeButton(const char* symbol, const char* label,
                            std::function<void()> Handlers::*handler);
    platform::Rect toLogic(const QRect& r) const;
    QRect toQt(const platform::Rect& r) const;
    QRect cardRect() const;
    void applyShadow(bool shadow);
    void reshape();
    void fitLabel();
    void showOnLayer();
    void clickAt(QPoint point);
    void showControls(bool shown);
    bool controlsShown() const;

    Handlers handlers_;
    WindowSystem windowSystem_;
    int margin_ = 0;
    QHBoxLayout* row_;
    QLabel* icon_;
    QLabel* label_;
    QWidget* controls_;
    // The player buttons while the panel shows a status: out of the panel, owned here.
    std::unique_ptr<QWidget> detachedControls_;
    QString text_;
    std::unique_ptr<LayerShellHost> layer_;
    bool onLayer_ = false;  // shown by the layer-shell helper
    QToolButton* pause_;
    QPoint dragOffset_;
    bool dragging_ = false;
    bool dragMoved_ = false;
};

}  // namespace larkspire::linux_desktop
