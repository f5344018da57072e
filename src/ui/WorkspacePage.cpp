#include "ui/WorkspacePage.h"

namespace larkspire::ui {

WorkspacePage::WorkspacePage(std::shared_ptr<WorkspaceController> controller,
                             QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent), controller_(std::move(controller)) {}

bool WorkspacePage::acceptNavigationRequest(const QUrl& url, NavigationType, bool) {
    return controller_->allowNavigation(url.isEmpty() ? std::string()
                                                      : url.toString().toStdString());
}

}  // namespace larkspire::ui
