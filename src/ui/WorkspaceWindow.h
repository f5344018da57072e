#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "account/WorkspaceController.h"

class QTimer;
class QVBoxLayout;
class QWebEngineProfile;
class QWebEngineView;

namespace larkspire::ui {

// The workspace window: the service's web application in an embedded web view. The web
// engine starts with the first page, and the web view is released when the window closes,
// so an agent whose window was never opened, or was closed, carries no renderer. The
// window itself lives as long as the agent; closing only hides it.
class WorkspaceWindow : public QWidget, public WorkspaceController::View {
  public:
    explicit WorkspaceWindow(std::shared_ptr<WorkspaceController> controller);
    ~WorkspaceWindow() override;

    // WorkspaceController::View
    void load(const WorkspaceController::Page& page) override;
    void present() override;

    // The current web view; null before the first page and after closing.
    QWebEngineView* webView() const;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QWebEngineProfile* profile();
    void releaseWebView();
    void zoomBy(double factor);
    void saveGeometryNow();

    std::shared_ptr<WorkspaceController> controller_;
    QVBoxLayout* layout_;
    QPointer<QWebEngineView> webView_;
    QWebEngineProfile* profile_ = nullptr;
    QTimer* loadTimeout_;
    double zoom_ = 1.0;
    bool geometryRestored_ = false;
};

}  // namespace larkspire::ui
