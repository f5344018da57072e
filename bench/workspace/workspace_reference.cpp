// The smallest web view that shows a page: the workspace memory bench's reference. One
// window of the size given (the bench passes the workspace window's) with the engine's
// default profile, and nothing else; it ends when its window closes.
//   workspace_reference URL WIDTH HEIGHT
#include <QApplication>
#include <QUrl>
#include <QWebEngineView>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: workspace_reference URL WIDTH HEIGHT\n", stderr);
        return 2;
    }
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    // As in the workspace window: the web engine needs it before the application object.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QWebEngineView view;
    view.setWindowTitle("Workspace reference");
    view.resize(width > 0 ? width : 1280, height > 0 ? height : 820);
    view.load(QUrl(QString::fromLocal8Bit(argv[1])));
    view.show();
    return application.exec();
}
