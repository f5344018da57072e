#include "ui/WorkspaceProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace larkspire::ui {
namespace {

constexpr int kExitWaitMs = 2000;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

WorkspaceProcess::WorkspaceProcess(std::shared_ptr<WorkspaceController> controller, QString program)
    : controller_(std::move(controller)), program_(std::move(program)) {
    controller_->attach(this);
}

WorkspaceProcess::~WorkspaceProcess() {
    controller_->attach(nullptr);
    if (process_ && process_->state() != QProcess::NotRunning) {
        // End of input tells the window's process to end.
        process_->closeWriteChannel();
        if (!process_->waitForFinished(kExitWaitMs)) {
            process_->kill();
            process_->waitForFinished(kExitWaitMs);
        }
    }
}

bool WorkspaceProcess::isOpen() const {
    return process_ && process_->state() != QProcess::NotRunning;
}

void WorkspaceProcess::load(const WorkspaceController::Page& page) {
    QJsonObject load{{"baseUrl", q(page.baseUrl)}, {"url", q(page.url)}};
    if (page.userScript) {
        load.insert("userScript", q(*page.userScript));
    }
    send(QJsonObject{{"load", load}});
}

void WorkspaceProcess::present() {
    send(QJsonObject{{"present", true}});
}

void WorkspaceProcess::send(const QJsonObject& message) {
    if (!isOpen()) {
        // The page (with the session in it) goes over a pipe, never on a command line.
        process_ = std::make_unique<QProcess>();
        process_->setProgram(program_);
        process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        connect(process_.get(), &QProcess::readyReadStandardOutput, this,
                &WorkspaceProcess::readOutput);
        connect(process_.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
            if (e == QProcess::FailedToStart) {
                qWarning("Larkspire: the workspace window could not start: %s",
                         qPrintable(program_));
            }
        });
        connect(process_.get(), &QProcess::finished, this, [](int code, QProcess::ExitStatus s) {
            if (s == QProcess::CrashExit) {
                qWarning("Larkspire: the workspace window crashed");
            } else if (code != 0) {
                qWarning("Larkspire: the workspace window ended with status %d", code);
            }
        });
        output_.clear();
        process_->start();
    }
    process_->write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
}

void WorkspaceProcess::readOutput() {
    output_.append(process_->readAllStandardOutput());
    for (qsizetype end = output_.indexOf('\n'); end >= 0; end = output_.indexOf('\n')) {
        const QJsonObject message = QJsonDocument::fromJson(output_.left(end)).object();
        output_.remove(0, end + 1);
        const QString url = message.value("open").toString();
        if (!url.isEmpty()) {
            controller_->allowNavigation(url.toStdString());
        }
    }
}

}  // namespace larkspire::ui
