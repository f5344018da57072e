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
#include <algorithm>
#include <cmath>

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

// WCAG's relative luminance and contrast ratio.
double luminance(const QColor& c) {
    auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The faded text colour made solid, and no fainter than 4.5:1 against the window in
// whatever theme the desktop has: small print must stay readable.
QColor readableFadedText(const QPalette& palette, qreal alpha) {
    const QColor text = palette.color(QPalette::WindowText);
    const QColor back = palette.color(QPalette::Window);
    for (; alpha < 1.0; alpha += 0.05) {
        const QColor blended =
            QColor::fromRgbF(float(text.redF() * alpha + back.redF() * (1 - alpha)),
                             float(text.greenF() * alpha + back.greenF() * (1 - alpha)),
                             float(text.blueF() * alpha + back.blueF() * (1 - alpha)));
        if (contrast(blended, back) >= 4.5) {
            return blended;
        }
    }
    return text;
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
    footnote->setObjectName("footnote");
    footnote->setWordWrap(true);
    footnote->setFont(systemFont(10));
    setTextColor(footnote, readableFadedText(palette(), 0.3));

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
