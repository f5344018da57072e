// A Qt 6 window for reading it through AT-SPI: a message, notes, a password field, N
// labels in a scroll area and a focused line edit. Prints "ready PID" once the line edit
// has the focus.
//   qt-target [--title T] [--message T] [--notes T] [--secret T] [--labels N]
#include <unistd.h>
#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // Qt registers on the accessibility bus only when asked to or when it was on before.
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    // Read before QApplication, which takes "-title" and its value for itself.
    QString title = "qt-target";
    QString message, notes, secret;
    int labels = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString value = QString::fromUtf8(argv[i + 1]);
        if (!std::strcmp(argv[i], "--title")) {
            title = value;
        } else if (!std::strcmp(argv[i], "--message")) {
            message = value;
        } else if (!std::strcmp(argv[i], "--notes")) {
            notes = value;
        } else if (!std::strcmp(argv[i], "--secret")) {
            secret = value;
        } else if (!std::strcmp(argv[i], "--labels")) {
            labels = value.toInt();
        }
    }
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&window);
    if (!message.isEmpty()) {
        layout->addWidget(new QLabel(message));
    }
    if (!notes.isEmpty()) {
        layout->addWidget(new QPlainTextEdit(notes));
    }
    if (!secret.isEmpty()) {
        auto* hidden = new QLineEdit(secret);
        hidden->setEchoMode(QLineEdit::Password);
        layout->addWidget(hidden);
    }
    if (labels > 0) {
        auto* area = new QScrollArea;
        auto* grid = new QWidget;
        auto* cells = new QGridLayout(grid);
        for (int i = 0; i < labels; ++i) {
            cells->addWidget(new QLabel(QString("Item %1 of the list").arg(i + 1)), i / 8, i % 8);
        }
        area->setWidget(grid);
        layout->addWidget(area);
        window.resize(1000, 600);
    }
    auto* entry = new QLineEdit;
    layout->addWidget(entry);
    window.show();
    entry->setFocus();
    QTimer ready;
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (entry->hasFocus()) {
            std::printf("ready %d\n", static_cast<int>(getpid()));
            std::fflush(stdout);
            ready.stop();
        }
    });
    ready.start(100);
    return app.exec();
}
