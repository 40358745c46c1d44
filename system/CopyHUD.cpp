#include "system/CopyHUD.h"

#include "platform/desktop/WindowFocus.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace {

constexpr int horizontalPadding = 14;
constexpr int verticalPadding = 10;
constexpr int iconSize = 26;
constexpr int spacing = 12;
constexpr int lineSpacing = 2;
constexpr qreal cornerRadius = 14;

class HUDPanel : public QWidget {
public:
    HUDPanel()
        : QWidget(nullptr, WindowFocus::withoutKeyboardKind() | Qt::FramelessWindowHint |
                               Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                               Qt::WindowTransparentForInput | Qt::X11BypassWindowManagerHint) {
        // A tool-tip window is never activated by Qt itself, and bypassing the
        // window manager keeps it on every workspace, above full-screen
        // windows, and out of reach of a window manager that hands out focus
        // (on Wayland it is an on-screen display, see WindowFocus).
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(CopyHUD::width, CopyHUD::height);
        setObjectName(QStringLiteral("CopyHUD"));
    }

    void setContent(const QString& title, const QString& subtitle) {
        title_ = title;
        subtitle_ = subtitle;
        update();
    }

    // How much of the drawing shows, 0 to 1. The fade is drawn rather than
    // asked of the window system: Qt on Wayland cannot set a window's
    // opacity (and says so at every step), while the alpha of what a
    // translucent window draws goes to the compositor everywhere.
    void setOpacity(qreal opacity) {
        if (qFuzzyCompare(opacity_, opacity)) return;
        opacity_ = opacity;
        update();
    }
    qreal opacity() const { return opacity_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setOpacity(opacity_);
        const QPalette pal = palette();

        // A light frosted plate: the window colour, mostly opaque, so the
        // text stays legible over whatever lies below.
        QPainterPath plate;
        plate.addRoundedRect(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25), cornerRadius,
                             cornerRadius);
        QColor fill = pal.color(QPalette::Window);
        fill.setAlphaF(0.92);
        p.fillPath(plate, fill);
        p.setPen(QPen(Style::color(Style::SemanticColor::quaternary, pal), 0.5));
        p.drawPath(plate);

        const int iconY = (height() - iconSize) / 2;
        p.drawPixmap(horizontalPadding, iconY,
                     Symbols::pixmap(QStringLiteral("checkmark.circle.fill"), iconSize,
                                     Style::color(Style::SemanticColor::green, pal),
                                     devicePixelRatioF()));

        const QFont titleFont = Style::font(Style::TextStyle::headline);
        const QFont subtitleFont = Style::font(Style::TextStyle::caption);
        const QFontMetrics titleMetrics(titleFont);
        const QFontMetrics subtitleMetrics(subtitleFont);
        const int textX = horizontalPadding + iconSize + spacing;
        const int textWidth = width() - textX - horizontalPadding;
        const int block = titleMetrics.height() + lineSpacing + subtitleMetrics.height();
        int y = qMax(verticalPadding, (height() - block) / 2);

        p.setFont(titleFont);
        p.setPen(Style::color(Style::SemanticColor::primary, pal));
        p.drawText(QRect(textX, y, textWidth, titleMetrics.height()),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   titleMetrics.elidedText(title_, Qt::ElideRight, textWidth));
        y += titleMetrics.height() + lineSpacing;
        p.setFont(subtitleFont);
        p.setPen(Style::color(Style::SemanticColor::secondary, pal));
        p.drawText(QRect(textX, y, textWidth, subtitleMetrics.height()),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   subtitleMetrics.elidedText(subtitle_, Qt::ElideRight, textWidth));
    }

private:
    QString title_;
    QString subtitle_;
    qreal opacity_ = 0;
};

} // namespace

CopyHUD& CopyHUD::shared() {
    // Deliberately never destroyed: the panel is a top-level widget, which
    // must not outlive QApplication's teardown by being deleted after it.
    static CopyHUD* instance = new CopyHUD;
    return *instance;
}

CopyHUD::CopyHUD() = default;

void CopyHUD::ensurePanel() {
    if (panel_) return;
    auto* panel = new HUDPanel;
    panel_ = panel;
    fade_ = new QVariantAnimation(panel);
    connect(fade_, &QVariantAnimation::valueChanged, panel,
            [panel](const QVariant& value) { panel->setOpacity(value.toReal()); });
    dismissTimer_ = new QTimer(panel);
    dismissTimer_->setSingleShot(true);
    // When the program quits through its event loop the panel goes with it;
    // otherwise it stays until the process ends.
    connect(qApp, &QCoreApplication::aboutToQuit, panel, &QObject::deleteLater);
}

QPoint CopyHUD::position() const {
    // The primary screen, wherever the pointer is: the confirmation appears
    // in one known place.
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen && !QGuiApplication::screens().isEmpty()) screen = QGuiApplication::screens().first();
    if (!screen) return panel_->pos(); // no screen at all: stay where it was
    const QRect area = screen->availableGeometry();
    return {area.x() + (area.width() - width) / 2, area.top() + topMargin};
}

void CopyHUD::show(const QString& title, const QString& subtitle, int durationMs) {
    if (!WindowFocus::canShowWithoutKeyboard()) return;
    ensurePanel();
    title_ =
        QCoreApplication::translate("CopyHUD", title.toUtf8().constData(), "Hotkey copy HUD title");
    subtitle_ = subtitle;
    static_cast<HUDPanel*>(panel_.data())->setContent(title_, subtitle_);

    // A fade-out still running for the previous message is simply overtaken.
    fade_->stop();
    fade_->disconnect(this);
    static_cast<HUDPanel*>(panel_.data())->setOpacity(0.0);
    WindowFocus::showWithoutKeyboard(panel_, position());
    panel_->raise();
    fade_->setDuration(fadeInMs);
    fade_->setStartValue(0.0);
    fade_->setEndValue(1.0);
    fade_->start();

    const qint64 generation = ++generation_;
    dismissTimer_->disconnect(this);
    dismissTimer_->stop();
    connect(dismissTimer_, &QTimer::timeout, this, [this, generation] { dismiss(generation); });
    dismissTimer_->start(qMax(0, durationMs));
}

void CopyHUD::dismiss(qint64 generation) {
    if (!panel_ || generation != generation_) return;
    fade_->stop();
    fade_->setDuration(fadeOutMs);
    fade_->setStartValue(opacity());
    fade_->setEndValue(0.0);
    connect(
        fade_, &QVariantAnimation::finished, this,
        [this, generation] {
            if (panel_ && generation == generation_) panel_->hide();
        },
        Qt::SingleShotConnection);
    fade_->start();
}

bool CopyHUD::isShowing() const {
    return panel_ && panel_->isVisible();
}

QString CopyHUD::title() const {
    return title_;
}

QString CopyHUD::subtitle() const {
    return subtitle_;
}

qreal CopyHUD::opacity() const {
    return panel_ ? static_cast<HUDPanel*>(panel_.data())->opacity() : 0.0;
}

QWidget* CopyHUD::panel() const {
    return panel_;
}
