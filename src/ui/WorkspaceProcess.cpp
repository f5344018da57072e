#include "ui/WorkspaceProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <cstdio>

#include "platform/linux/qt/HelperProcess.h"

namespace larkspire::ui {
namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

WorkspaceProcess::WorkspaceProcess(std::shared_ptr<WorkspaceController> controller, QString program,
                                   std::function<void(const QString&)> failed)
    : controller_(std::move(controller)), program_(std::move(program)), failed_(std::move(failed)) {
    controller_->attach(this);
}

WorkspaceProcess::~WorkspaceProcess() {
    controller_->attach(nullptr);
    if (process_) {
        linux_desktop::endHelper(*process_);
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
        connect(process_.get(), &QProcess::readyReadStandardOutput, this,
                &WorkspaceProcess::readOutput);
        connect(process_.get(), &QProcess::readyReadStandardError, this,
                &WorkspaceProcess::readErrors);
        connect(process_.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
            if (e == QProcess::FailedToStart) {
                qWarning("Larkspire: the workspace window could not start: %s",
                         qPrintable(program_));
                fail("The program " + program_ + " could not be started.");
            }
        });
        connect(process_.get(), &QProcess::finished, this,
                [this](int code, QProcess::ExitStatus s) {
                    readErrors();
                    if (s == QProcess::CrashExit) {
                        qWarning("Larkspire: the workspace window crashed");
                        fail(lastMessage_.isEmpty() ? "It ended unexpectedly." : lastMessage_);
                    } else if (code != 0) {
                        qWarning("Larkspire: the workspace window ended with status %d", code);
                        fail(lastMessage_.isEmpty() ? QString("It ended with status %1.").arg(code)
                                                    : lastMessage_);
                    }
                });
        output_.clear();
        errors_.clear();
        lastMessage_.clear();
        process_->start();
    }
    process_->write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
}

// Its standard error goes on to the agent's (the journal keeps it); its own messages are
// kept to tell the user why it ended.
void WorkspaceProcess::readErrors() {
    const QByteArray chunk = process_->readAllStandardError();
    std::fwrite(chunk.data(), 1, static_cast<size_t>(chunk.size()), stderr);
    errors_.append(chunk);
    for (qsizetype end = errors_.indexOf('\n'); end >= 0; end = errors_.indexOf('\n')) {
        const QString line = QString::fromUtf8(errors_.left(end));
        errors_.remove(0, end + 1);
        if (line.startsWith("Larkspire: ")) {
            lastMessage_ = line.mid(11);
            lastMessage_[0] = lastMessage_[0].toUpper();
        }
    }
}

// Told once the main loop is back: the alert that shows it waits for an answer.
void WorkspaceProcess::fail(const QString& why) {
    if (failed_) {
        QTimer::singleShot(0, this, [this, why] { failed_(why); });
    }
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
