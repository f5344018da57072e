#pragma once

#include <QPointer>
#include <QWidget>

#include "account/WorkspaceController.h"
#include "ui/workspace/WorkspacePage.h"

class QTimer;
class QVBoxLayout;
class QWebEngineProfile;
class QWebEngineView;

namespace larkspire::ui {

// The workspace window: the service's web application in an embedded web view, a fresh
// one for every page the agent sends. It runs in its own process (larkspire-workspace),
// which ends when the window closes.
class WorkspaceWindow : public QWidget, public WorkspaceController::View {
  public:
    explicit WorkspaceWindow(WorkspacePage::Policy policy);
    ~WorkspaceWindow() override;

    // WorkspaceController::View
    void load(const WorkspaceController::Page& page) override;
    void present() override;

    // The current web view; null before the first page and after closing.
    QWebEngineView* webView() const;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // Within the work area (the screen less panels and docks) of the screen the window is
    // on, its frame included: the designed 1280 x 820 is taller than a 1280 x 800 screen.
    void fitToScreen();
    QWebEngineProfile* profile();
    void releaseWebView();
    void zoomBy(double factor);
    void saveGeometryNow();

    WorkspacePage::Policy policy_;
    QVBoxLayout* layout_;
    QPointer<QWebEngineView> webView_;
    QWebEngineProfile* profile_ = nullptr;
    QTimer* loadTimeout_;
    double zoom_ = 1.0;
    bool geometryRestored_ = false;
};

}  // namespace larkspire::ui
