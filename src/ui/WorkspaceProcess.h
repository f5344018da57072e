#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "account/WorkspaceController.h"

class QJsonObject;
class QProcess;

namespace larkspire::ui {

// The agent's side of the workspace window, which runs in its own process
// (larkspire-workspace): started with the first page or request to show it, started again
// after the user closed it. Pages go to it over its standard input; links it does not keep
// come back over its standard output and go to the controller's navigation policy.
class WorkspaceProcess : public QObject, public WorkspaceController::View {
  public:
    // `failed` is told why when the window could not open or ended with an error, for the
    // user to see: its process's last "Larkspire: " line, or what went wrong with it.
    WorkspaceProcess(std::shared_ptr<WorkspaceController> controller, QString program,
                     std::function<void(const QString& why)> failed = {});
    ~WorkspaceProcess() override;

    // WorkspaceController::View
    void load(const WorkspaceController::Page& page) override;
    void present() override;

    // The window is open (its process runs).
    bool isOpen() const;

  private:
    void send(const QJsonObject& message);
    void readOutput();
    void readErrors();
    void fail(const QString& why);

    std::shared_ptr<WorkspaceController> controller_;
    QString program_;
    std::unique_ptr<QProcess> process_;
    QByteArray output_;
    QByteArray errors_;
    QString lastMessage_;  // the process's last "Larkspire: " line on standard error
    std::function<void(const QString&)> failed_;
};

}  // namespace larkspire::ui
