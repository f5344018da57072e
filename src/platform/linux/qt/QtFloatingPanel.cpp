#include "platform/linux/qt/QtFloatingPanel.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QToolButton>
#include <cmath>

#include "platform/linux/qt/LayerShellHost.h"
#include "platform/linux/qt/SymbolImages.h"

namespace larkspire::linux_desktop {
namespace {

const QColor kTeal(0x30, 0xb0, 0xc7);
constexpr qreal kCornerRadius = 16;
// The shadow falls a little below the panel, as from a light above the screen.
constexpr int kShadowDrop = 3;
// Around the label: the margins, the symbol and the spaces beside it; the player buttons.
constexpr int kBesideLabel = 15 + 19 + 10 + 8 + 10;
constexpr int kControlsWidth = static_cast<int>(platform::kPlayerControlsWidth);

// The text as the label shows it in `width`: on one line, or broken between words onto
// two. A text longer than two lines ends with the last whole word that fits, then "…" (the
// whole text is the label's tooltip and accessible name).
QString fitted(const QString& text, const QFontMetrics& fm, int width) {
    if (fm.horizontalAdvance(text) <= width) {
        return text;
    }
    QStringList lines{QString()};
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
        const QString longer = lines.back().isEmpty() ? word : lines.back() + ' ' + word;
        if (lines.back().isEmpty() || fm.horizontalAdvance(longer) <= width) {
            lines.back() = longer;
        } else if (lines.size() < 2) {
            lines.append(word);
        } else {
            QString& last = lines.back();
            while (fm.horizontalAdvance(last + "…") > width && last.contains(' ')) {
                last.truncate(last.lastIndexOf(' '));
            }
            last += "…";
            break;
        }
    }
    return lines.join('\n');
}

QPainterPath roundedCard(const QRectF& card) {
    QPainterPath path;
    path.addRoundedRect(card, kCornerRadius, kCornerRadius);
    return path;
}

int primaryHeight() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->geometry().height() : 0;
}

}  // namespace

QtFloatingPanel::QtFloatingPanel()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus) {
    setObjectName("larkspire-hud");
    setWindowTitle("Larkspire status");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(210, 48);

    auto* row = new QHBoxLayout(this);  // children are owned by the panel
    row_ = row;
    row->setContentsMargins(15, 0, 10, 0);
    row->setSpacing(0);
    icon_ = new QLabel;
    icon_->setFixedSize(19, 19);
    row->addWidget(icon_);
    row->addSpacing(10);
    label_ = new QLabel;
    QFont font = label_->font();
    font.setPixelSize(13);  // the design's 13-point type, at one pixel per point
    font.setWeight(QFont::DemiBold);
    label_->setFont(font);
    label_->setStyleSheet("color: white;");
    label_->setWordWrap(false);  // broken by fitLabel, between words only
    row->addWidget(label_, 1);
    row->addSpacing(8);

    controls_ = new QWidget;
    auto* buttons = new QHBoxLayout(controls_);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(4);
    pause_ = makeButton("pause.fill", "Pause", &Handlers::pause);
    buttons->addWidget(pause_);
    buttons->addWidget(makeButton("backward.end.fill", "Restart", &Handlers::restart));
    buttons->addWidget(makeButton("xmark", "Stop", &Handlers::stop));
    controls_->setFixedWidth(kControlsWidth);
    // On the dark card: no light square under the pointer, white symbols on a lighter
    // grey (about 9:1) when hovered or pressed.
    controls_->setStyleSheet(
        "QToolButton { border: none; border-radius: 6px; background: transparent; }"
        "QToolButton:hover { background: rgba(255, 255, 255, 46); }"
        "QToolButton:pressed { background: rgba(255, 255, 255, 77); }");
    detachedControls_.reset(controls_);
    reshape();
}

QToolButton* QtFloatingPanel::makeButton(const char* symbol, const char* label,
                                         std::function<void()> Handlers::*handler) {
    auto* b = new QToolButton;
    b->setObjectName(label);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedSize(27, 27);
    b->setIcon(tintedSymbol(symbol, 32, Qt::white));
    b->setIconSize(QSize(16, 16));
    b->setToolTip(label);
    b->setAccessibleName(label);
    connect(b, &QToolButton::clicked, this, [this, handler] {
        if (handlers_.*handler) {
            auto f = handlers_.*handler;
            f();
        }
    });
    return b;
}

void QtFloatingPanel::setContent(const platform::PanelContent& content) {
    const QString text = QString::fromStdString(content.text);
    text_ = text;
    label_->setAccessibleName(text);
    label_->setToolTip(text);
    const QPixmap symbol = tintedSymbol(content.symbol, 38, kTeal);
    if (symbol.isNull()) {
        icon_->clear();  // a symbol we do not have shows nothing rather than a stand-in
    } else {
        icon_->setPixmap(symbol.scaled(19, 19, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    icon_->setAccessibleName(QString::fromStdString(content.accessibility));
    showControls(content.controlsVisible);
    fitLabel();
    if (onLayer_) {
        showOnLayer();  // a new picture in place
    }
    pause_->setIcon(tintedSymbol(content.pauseSymbol, 32, Qt::white));
    pause_->setToolTip(QString::fromStdString(content.pauseLabel));
    pause_->setAccessibleName(QString::fromStdString(content.pauseLabel));
}

double QtFloatingPanel::fittingWidth(const platform::PanelContent& content) const {
    const int text =
        QFontMetrics(label_->font()).horizontalAdvance(QString::fromStdString(content.text));
    return text + kBesideLabel + (content.controlsVisible ? kControlsWidth : 0) + 1;
}

void QtFloatingPanel::fitLabel() {
    const int width = cardRect().width() - kBesideLabel - (controlsShown() ? kControlsWidth : 0);
    label_->setText(fitted(text_, QFontMetrics(label_->font()), width));
}

// Hidden buttons would still be in the accessibility tree (Qt lists hidden children):
// while the panel shows a status they leave the panel altogether.
void QtFloatingPanel::showControls(bool shown) {
    if (shown == controlsShown()) {
        return;
    }
    if (shown) {
        row_->addWidget(detachedControls_.get());
        detachedControls_.release()->show();
    } else {
        controls_->hide();
        row_->removeWidget(controls_);
        controls_->setParent(nullptr);
        detachedControls_.reset(controls_);
    }
}

bool QtFloatingPanel::controlsShown() const {
    return !detachedControls_;
}

platform::Rect QtFloatingPanel::toLogic(const QRect& r) const {
    return platform::Rect{double(r.x()), double(primaryHeight() - r.y() - r.height()),
                          double(r.width()), double(r.height())};
}

QRect QtFloatingPanel::toQt(const platform::Rect& r) const {
    return QRect(int(std::lround(r.x)), int(std::lround(primaryHeight() - r.y - r.height)),
                 int(std::lround(r.width)), int(std::lround(r.height)));
}

// The logic's frame is the panel itself; the window around it also holds the shadow.
QRect QtFloatingPanel::cardRect() const {
    return rect().adjusted(margin_, margin_, -margin_, -margin_);
}

void QtFloatingPanel::setFrame(const platform::Rect& frame) {
    const QRect q = toQt(frame);
    setFixedSize(q.size() + QSize(2 * margin_, 2 * margin_));
    move(q.topLeft() - QPoint(margin_, margin_));
    fitLabel();
    reshape();
    if (onLayer_) {
        showOnLayer();
    }
}

platform::Rect QtFloatingPanel::frame() const {
    return toLogic(QRect(pos() + QPoint(margin_, margin_), cardRect().size()));
}

void QtFloatingPanel::applyShadow(bool shadow) {
    const int margin = shadow ? kShadowMargin : 0;
    if (margin == margin_) {
        return;
    }
    const platform::Rect kept = frame();
    margin_ = margin;
    layout()->setContentsMargins(15 + margin_, margin_, 10 + margin_, margin_);
    setFrame(kept);
}

// Without a compositing manager the translucent corners would show black: the window
// takes the panel's rounded shape. With one, the shadow is drawn and clicks on it pass
// through to the windows below.
void QtFloatingPanel::reshape() {
    if (margin_ == 0) {
        setMask(QRegion(roundedCard(cardRect()).toFillPolygon().toPolygon()));
    } else {
        clearMask();
        if (windowSystem_.setInputArea && testAttribute(Qt::WA_WState_Created)) {
            windowSystem_.setInputArea(winId(), cardRect());
        }
    }
}

QtFloatingPanel::~QtFloatingPanel() = default;

void QtFloatingPanel::showThroughLayerShell(const QString& program) {
    layer_ = std::make_unique<LayerShellHost>(program);
    layer_->clicked = [this](QPoint point) { clickAt(point); };
}

bool QtFloatingPanel::isVisible() const {
    return layer_ ? onLayer_ : QWidget::isVisible();
}

// Drawn as on X11, into a picture with clear corners, and placed where the frame says.
void QtFloatingPanel::showOnLayer() {
    ensurePolished();
    layout()->setGeometry(rect());
    QImage picture(size(), QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
    const QScreen* output = screen() ? screen() : QGuiApplication::primaryScreen();
    layer_->show(picture, pos() - (output ? output->geometry().topLeft() : QPoint()));
    onLayer_ = true;
}

void QtFloatingPanel::clickAt(QPoint point) {
    for (QWidget* w = childAt(point); w && w != this; w = w->parentWidget()) {
        if (auto* button = qobject_cast<QToolButton*>(w)) {
            button->click();
            return;
        }
    }
}

void QtFloatingPanel::orderFront() {
    if (layer_) {
        showOnLayer();
        return;
    }
    // A Wayland compositor places a new window itself and may give it the keyboard (sway
    // does, measured): the panel would take the keys from the application the text is
    // for. Without a layer shell it stays hidden there; under XWayland it is an X window
    // that takes no focus.
    if (QGuiApplication::platformName() == QLatin1String("wayland")) {
        return;
    }
    if (!isVisible()) {
        // A compositing manager may have started or stopped since the panel last showed.
        applyShadow(windowSystem_.composited && windowSystem_.composited());
        if (windowSystem_.showOnEveryWorkspace) {
            windowSystem_.showOnEveryWorkspace(winId());  // before the window is mapped
        }
        reshape();
    }
    show();
    raise();
}

void QtFloatingPanel::orderOut() {
    if (layer_) {
        layer_->hide();
        onLayer_ = false;
        return;
    }
    hide();
}

std::vector<platform::Rect> QtFloatingPanel::screens() const {
    std::vector<platform::Rect> out;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary) {
        out.push_back(toLogic(primary->availableGeometry()));
    }
    for (const QScreen* s : QGuiApplication::screens()) {
        if (s != primary) {
            out.push_back(toLogic(s->availableGeometry()));
        }
    }
    return out;
}

std::optional<platform::Rect> QtFloatingPanel::mainScreen() const {
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        return toLogic(primary->availableGeometry());
    }
    return std::nullopt;
}

QString QtFloatingPanel::labelText() const {
    return label_->text();
}

void QtFloatingPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF card = cardRect();
    // Layers of faint black growing outward: darkest at the panel's edge, gone at the
    // window's.
    for (int i = margin_ - kShadowDrop; i > 0; --i) {
        QPainterPath layer;
        layer.addRoundedRect(card.adjusted(-i, -i, i, i).translated(0, kShadowDrop),
                             kCornerRadius + i, kCornerRadius + i);
        p.fillPath(layer, QColor(0, 0, 0, 6));
    }
    p.fillPath(roundedCard(card), QColor(30, 30, 32, 225));
}

void QtFloatingPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        dragOffset_ = event->globalPosition().toPoint() - pos();
    }
}

void QtFloatingPanel::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        move(event->globalPosition().toPoint() - dragOffset_);
        dragMoved_ = true;
    }
}

void QtFloatingPanel::mouseReleaseEvent(QMouseEvent*) {
    // Told once, when the drag ends: the origin is saved then, not at every mouse move.
    const bool moved = dragging_ && dragMoved_;
    dragging_ = false;
    dragMoved_ = false;
    if (moved && handlers_.moved) {
        handlers_.moved();
    }
}

}  // namespace larkspire::linux_desktop
