#include "ui/workspace/WorkspaceWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <algorithm>

namespace larkspire::ui {
namespace {

using Controller = WorkspaceController;

QString geometryKey() {
    return QString::fromUtf8(Controller::kFrameAutosaveName.data(),
                             static_cast<int>(Controller::kFrameAutosaveName.size())) +
           "/geometry";
}

// The agent's preferences file, where the window's place is kept between runs.
QSettings settings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, "Larkspire", "Larkspire");
}

}  // namespace

WorkspaceWindow::WorkspaceWindow(WorkspacePage::Policy policy)
    : policy_(std::move(policy)), layout_(new QVBoxLayout(this)), loadTimeout_(new QTimer(this)) {
    setWindowTitle(QString::fromUtf8(Controller::kWindowTitle.data(),
                                     static_cast<int>(Controller::kWindowTitle.size())));
    setObjectName("workspace");
    setMinimumSize(Controller::kMinimumWidth, Controller::kMinimumHeight);
    resize(Controller::kWidth, Controller::kHeight);
    layout_->setContentsMargins(0, 0, 0, 0);
    loadTimeout_->setSingleShot(true);
    loadTimeout_->setInterval(Controller::kLoadTimeoutSeconds * 1000);
    connect(loadTimeout_, &QTimer::timeout, this, [this] {
        if (webView_) {
            webView_->stop();
        }
    });
    // Zoom with the keyboard as in a browser; Control + wheel zooms in the web view itself.
    const std::pair<QKeySequence, double> zooms[] = {{QKeySequence::ZoomIn, 1.1},
                                                     {QKeySequence("Ctrl+="), 1.1},
                                                     {QKeySequence::ZoomOut, 1 / 1.1},
                                                     {QKeySequence("Ctrl+0"), 0}};
    for (const auto& [keys, factor] : zooms) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, f = factor] { zoomBy(f); });
    }
}

WorkspaceWindow::~WorkspaceWindow() {
    // Pages go before their profile.
    delete webView_.data();
}

QWebEngineView* WorkspaceWindow::webView() const {
    return webView_;
}

QWebEngineProfile* WorkspaceWindow::profile() {
    if (!profile_) {
        // A named profile is kept on disk, so the page's own storage and cookies survive
        // restarts of the agent.
        profile_ = new QWebEngineProfile("Larkspire", this);
        profile_->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    }
    return profile_;
}

void WorkspaceWindow::load(const WorkspaceController::Page& page) {
    releaseWebView();
    // The profile first: it must outlive every page, which the order of children keeps.
    QWebEngineProfile* webProfile = profile();
    auto* view = new QWebEngineView(this);
    auto* webPage = new WorkspacePage(policy_, webProfile, view);
    if (page.userScript) {
        QWebEngineScript script;
        script.setName("larkspire-session-handover");
        script.setSourceCode(QString::fromStdString(*page.userScript));
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setRunsOnSubFrames(false);
        script.setWorldId(QWebEngineScript::MainWorld);
        webPage->scripts().insert(script);
    }
    view->setPage(webPage);
    view->setZoomFactor(zoom_);
    connect(view, &QWebEngineView::loadFinished, loadTimeout_, &QTimer::stop);
    layout_->addWidget(view);
    webView_ = view;
    if (!page.url.empty()) {
        view->load(QUrl(QString::fromStdString(page.url)));
        loadTimeout_->start();
    }
}

void WorkspaceWindow::present() {
    if (!geometryRestored_) {
        geometryRestored_ = true;
        const QByteArray saved = settings().value(geometryKey()).toByteArray();
        if (saved.isEmpty() || !restoreGeometry(saved)) {
            if (const QScreen* screen = QGuiApplication::primaryScreen()) {
                QRect frame(QPoint(), size());
                frame.moveCenter(screen->availableGeometry().center());
                move(frame.topLeft());
            }
        }
        fitToScreen();
    }
    show();
    raise();
    activateWindow();
    // The window manager's frame is known once the window is mapped: fit again with it.
    QTimer::singleShot(300, this, [this] { fitToScreen(); });
}

void WorkspaceWindow::fitToScreen() {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    const QRect area = screen->availableGeometry();
    const QRect frame = frameGeometry();
    const QSize decoration = frame.size() - size();
    const QSize fitted = size().boundedTo(area.size() - decoration);
    if (fitted != size()) {
        resize(fitted);
    }
    QRect moved(frame.topLeft(), fitted + decoration);
    moved.moveLeft(std::clamp(moved.left(), area.left(), area.right() + 1 - moved.width()));
    moved.moveTop(std::clamp(moved.top(), area.top(), area.bottom() + 1 - moved.height()));
    if (moved.topLeft() != frame.topLeft()) {
        move(moved.topLeft());
    }
}

void WorkspaceWindow::zoomBy(double factor) {
    zoom_ = factor == 0 ? 1.0 : std::clamp(zoom_ * factor, 0.25, 5.0);
    if (webView_) {
        webView_->setZoomFactor(zoom_);
    }
}

void WorkspaceWindow::saveGeometryNow() {
    settings().setValue(geometryKey(), saveGeometry());
}

void WorkspaceWindow::closeEvent(QCloseEvent* event) {
    saveGeometryNow();
    event->accept();
}

void WorkspaceWindow::releaseWebView() {
    loadTimeout_->stop();
    if (webView_) {
        layout_->removeWidget(webView_);
        webView_->hide();
        webView_->deleteLater();
        webView_ = nullptr;
    }
}

}  // namespace larkspire::ui
