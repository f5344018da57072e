#pragma once

#include <QWidget>

#include "platform/FloatingPanel.h"

class QLabel;
class QToolButton;

namespace larkspire::desktop {

// The floating status panel: a frameless, always-on-top tool window that never takes
// focus from the user's application, with a translucent rounded background. It can be
// dragged by its background.
class QtFloatingPanel : public QWidget, public platform::FloatingPanel {
    Q_OBJECT
  public:
    QtFloatingPanel();

    void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
    void setContent(const platform::PanelContent& content) override;
    void setFrame(const platform::Rect& frame) override;
    platform::Rect frame() const override;
    void orderFront() override;
    void orderOut() override;
    bool isVisible() const override { return QWidget::isVisible(); }
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

    Handlers handlers_;
    QLabel* icon_;
    QLabel* label_;
    QWidget* controls_;
    QToolButton* pause_;
    QPoint dragOffset_;
    bool dragging_ = false;
    bool dragMoved_ = false;
};

}  // namespace larkspire::desktop
