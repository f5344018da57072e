#include "ui/workspace/WorkspacePage.h"

namespace larkspire::ui {

WorkspacePage::WorkspacePage(Policy policy, QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent), policy_(std::move(policy)) {}

bool WorkspacePage::acceptNavigationRequest(const QUrl& url, NavigationType, bool) {
    return policy_(url);
}

namespace {

// Stands in for the new window just long enough to learn where it was going.
class NewWindowRequest : public QWebEnginePage {
  public:
    explicit NewWindowRequest(WorkspacePage& opener)
        : QWebEnginePage(opener.profile(), &opener), opener_(opener) {}

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
        if (isMainFrame && !url.isEmpty() && url != QUrl("about:blank")) {
            opener_.navigate(url);
            deleteLater();
        }
        return false;
    }

  private:
    WorkspacePage& opener_;
};

}  // namespace

void WorkspacePage::navigate(const QUrl& url) {
    if (policy_(url)) {
        setUrl(url);
    }
}

QWebEnginePage* WorkspacePage::createWindow(WebWindowType) {
    return new NewWindowRequest(*this);  // owned by this page; it deletes itself
}

}  // namespace larkspire::ui
