#include "ui/workspace/WorkspacePage.h"

namespace larkspire::ui {

WorkspacePage::WorkspacePage(Policy policy, QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent), policy_(std::move(policy)) {}

bool WorkspacePage::acceptNavigationRequest(const QUrl& url, NavigationType, bool) {
    return policy_(url);
}

}  // namespace larkspire::ui
