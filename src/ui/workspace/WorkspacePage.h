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

    // Where a link asked to go: put to the policy, and loaded here if it stays.
    void navigate(const QUrl& url);

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    // A link that asks for a new window (target="_blank", window.open, a middle or Ctrl
    // click) goes through the same rule: into this window, or to the desktop.
    QWebEnginePage* createWindow(WebWindowType type) override;

  private:
    Policy policy_;
};

}  // namespace larkspire::ui
