#pragma once

#include <QWebEnginePage>
#include <functional>

namespace larkspire::ui {

// A web page of the workspace window: every navigation is put to the policy, which keeps
// the service's own host in the window and hands anything else to the desktop.
class WorkspacePage : public QWebEnginePage {
  public:
    using Policy = std::function<bool(const QUrl& url)>;

    WorkspacePage(Policy policy, QWebEngineProfile* profile, QObject* parent);

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

  private:
    Policy policy_;
};

}  // namespace larkspire::ui
