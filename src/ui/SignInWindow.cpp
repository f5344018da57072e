#include "ui/SignInWindow.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace larkspire::ui {
namespace {

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The design's sizes are points of one pixel each; Qt's points are larger on Linux.
QFont systemFont(qreal points) {
    QFont font = QApplication::font();
    font.setPixelSize(qRound(points));
    return font;
}

// The platform's secondary and tertiary label colours: the text colour, faded.
QColor fadedText(const QPalette& palette, qreal alpha) {
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(alpha);
    return c;
}

const QColor kSystemRed(255, 59, 48);

void setTextColor(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, color);
    w->setPalette(p);
}

}  // namespace

SignInWindow::SignInWindow(std::shared_ptr<SignInController> controller, QWidget* parent)
    : QWidget(parent, Qt::Window), controller_(std::move(controller)) {
    setWindowTitle(qs(SignInController::kWindowTitle));
    setFixedSize(SignInController::kWindowWidth, SignInController::kWindowHeight);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(42, 62, 42, 35);
    stack->setSpacing(15);
    stack->setAlignment(Qt::AlignTop | Qt::AlignLeft);

    auto* brand = new QLabel(qs(SignInController::kBrand), this);
    brand->setFont(systemFont(13));
    auto* headline = new QLabel(qs(SignInController::kHeadline), this);
    headline->setFont(systemFont(30));
    headline->setWordWrap(true);  // desktop fonts run wider than the design's

    message_ = new QLabel(this);
    message_->setObjectName("message");
    message_->setWordWrap(true);
    message_->setFont(systemFont(12));

    email_ = new QLineEdit(this);
    email_->setObjectName("email");
    email_->setPlaceholderText(qs(SignInController::kEmailPlaceholder));
    email_->setFont(systemFont(14));
    email_->setFixedHeight(38);

    code_ = new QLineEdit(this);
    code_->setObjectName("code");
    code_->setPlaceholderText(qs(SignInController::kCodePlaceholder));
    QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    digits.setPixelSize(18);
    code_->setFont(digits);
    code_->setFixedHeight(38);
    code_->hide();

    primary_ = new QPushButton(this);
    primary_->setObjectName("primary");
    primary_->setFixedHeight(40);
    primary_->setDefault(true);

    auto* footnote = new QLabel(qs(SignInController::kFootnote), this);
    footnote->setWordWrap(true);
    footnote->setFont(systemFont(10));
    setTextColor(footnote, fadedText(palette(), 0.3));

    for (QWidget* w : {static_cast<QWidget*>(brand), static_cast<QWidget*>(headline),
                       static_cast<QWidget*>(message_)}) {
        stack->addWidget(w);
    }
    // Fields and the button span the stack's width.
    stack->addWidget(email_);
    stack->addWidget(code_);
    stack->addWidget(primary_);
    stack->addWidget(footnote);
    for (QWidget* w : {static_cast<QWidget*>(email_), static_cast<QWidget*>(code_),
                       static_cast<QWidget*>(primary_), static_cast<QWidget*>(message_),
                       static_cast<QWidget*>(footnote)}) {
        w->setSizePolicy(QSizePolicy::Expanding, w->sizePolicy().verticalPolicy());
        stack->setAlignment(w, Qt::Alignment());
    }
    stack->addStretch(1);

    connect(primary_, &QPushButton::clicked, this, [this] { submit(); });
    connect(email_, &QLineEdit::returnPressed, this, [this] { submit(); });
    connect(code_, &QLineEdit::returnPressed, this, [this] { submit(); });

    controller_->attach(this);
}

SignInWindow::~SignInWindow() {
    controller_->attach(nullptr);
}

void SignInWindow::present() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    show();
    raise();
    activateWindow();
}

void SignInWindow::submit() {
    controller_->submit(email_->text().toStdString(), code_->text().toStdString());
}

void SignInWindow::render(const SignInController::State& state) {
    message_->setText(QString::fromStdString(state.message));
    setTextColor(message_, state.messageTone == SignInController::Tone::error
                               ? kSystemRed
                               : fadedText(palette(), 0.55));
    email_->setEnabled(state.emailEnabled);
    code_->setVisible(state.codeVisible);
    primary_->setEnabled(state.primaryEnabled);
    primary_->setText(QString::fromStdString(state.primaryTitle));
}

void SignInWindow::focusCode() {
    code_->setFocus(Qt::OtherFocusReason);
}

void SignInWindow::closeWindow() {
    QWidget::close();
}

}  // namespace larkspire::ui
