#pragma once

#include <QWebEnginePage>
#include <memory>

#include "account/WorkspaceController.h"

namespace larkspire::ui {

// A web page of the workspace window: every navigation is put to the controller, which
// keeps the service's own host in the window and hands anything else to the desktop.
class WorkspacePage : public QWebEnginePage {
  public:
    WorkspacePage(std::shared_ptr<WorkspaceController> controller, QWebEngineProfile* profile,
                  QObject* parent);

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

  private:
    std::shared_ptr<WorkspaceController> controller_;
};

}  // namespace larkspire::ui
