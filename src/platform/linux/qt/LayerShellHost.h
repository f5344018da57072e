#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QProcess>
#include <functional>

namespace larkspire::linux_desktop {

// The status panel's place on a Wayland compositor with a layer shell: the larkspire-panel
// helper shows the picture it is given on the overlay layer, without taking the keyboard,
// and reports clicks. Started at once; where the compositor has no layer shell the helper
// says so and ends, and showing does nothing (the tray icon carries the state there).
class LayerShellHost : public QObject {
  public:
    explicit LayerShellHost(const QString& program);
    ~LayerShellHost() override;

    // Shows `picture` with its top-left corner at `topLeft` of the output.
    void show(const QImage& picture, QPoint topLeft);
    void hide();
    // The helper runs, or may still say that it cannot.
    bool usable() const { return !unsupported_; }

    // A click on the panel, in the picture's coordinates.
    std::function<void(QPoint)> clicked;

  private:
    void readReplies();

    QProcess process_;
    QByteArray replies_;
    bool unsupported_ = false;
};

}  // namespace larkspire::linux_desktop
