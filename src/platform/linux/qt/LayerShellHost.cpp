#include "platform/linux/qt/LayerShellHost.h"

#include "platform/linux/qt/HelperProcess.h"

#include <QBuffer>

namespace larkspire::linux_desktop {

LayerShellHost::LayerShellHost(const QString& program) {
    process_.setProgram(program);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&process_, &QProcess::readyReadStandardOutput, this, &LayerShellHost::readReplies);
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            qWarning("Larkspire: the status panel helper could not start: %s",
                     qPrintable(process_.program()));
            unsupported_ = true;
        }
    });
    connect(&process_, &QProcess::finished, this, [this] { unsupported_ = true; });
    process_.start();
}

LayerShellHost::~LayerShellHost() {
    endHelper(process_);
}

void LayerShellHost::show(const QImage& picture, QPoint topLeft) {
    if (unsupported_) {
        return;
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    process_.write(QString("image %1 %2 %3\n")
                       .arg(picture.width())
                       .arg(picture.height())
                       .arg(png.size())
                       .toUtf8() +
                   png);
    process_.write(QString("place %1 %2\nshow\n").arg(topLeft.y()).arg(topLeft.x()).toUtf8());
}

void LayerShellHost::hide() {
    if (!unsupported_) {
        process_.write("hide\n");
    }
}

void LayerShellHost::readReplies() {
    replies_.append(process_.readAllStandardOutput());
    for (qsizetype end = replies_.indexOf('\n'); end >= 0; end = replies_.indexOf('\n')) {
        const QList<QByteArray> words = replies_.left(end).split(' ');
        replies_.remove(0, end + 1);
        if (words.value(0) == "unsupported") {
            qWarning(
                "Larkspire: this compositor offers no layer shell: the status panel is "
                "not shown; the tray icon and its tooltip carry the state");
            unsupported_ = true;
        } else if (words.value(0) == "click" && words.size() == 3 && clicked) {
            clicked(QPoint(words[1].toInt(), words[2].toInt()));
        }
    }
}

}  // namespace larkspire::linux_desktop
