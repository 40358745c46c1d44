#include "system/LockOverlayMac.h"

#include "platform/look/Style.h"
#include "platform/look/Symbols.h"
#include "system/AppLockMac.h"

#include <QApplication>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

LockOverlayMac::LockOverlayMac(AppLockMac& lock, QWidget* content, QWidget* parent)
    : QWidget(parent), m_lock(lock), m_content(content) {
    setObjectName(QStringLiteral("lockOverlay"));
    setAutoFillBackground(false);
    parent->installEventFilter(this);
    setGeometry(parent->rect());

    auto* column = new QVBoxLayout(this);
    column->setSpacing(16);
    column->addStretch(1);
    auto* symbol = new QLabel(this);
    symbol->setPixmap(Symbols::pixmap(QStringLiteral("lock.fill"), 46,
                                      Style::color(Style::SemanticColor::accent, palette()),
                                      devicePixelRatioF()));
    symbol->setAlignment(Qt::AlignCenter);
    symbol->setAccessibleName(tr("Locked"));
    column->addWidget(symbol);
    QLabel* name = Style::label(QStringLiteral("Quillet"), Style::TextStyle::headline);
    name->setAlignment(Qt::AlignCenter);
    column->addWidget(name);
    auto* unlock = new QPushButton(Symbols::icon(QStringLiteral("touchid")), tr("Unlock"), this);
    unlock->setMaximumWidth(200);
    unlock->setMinimumHeight(32);
    unlock->setIconSize(QSize(18, 18));
    unlock->setDefault(true);
    unlock->setAutoDefault(true);
    QFont large = unlock->font();
    large.setPointSizeF(large.pointSizeF() * 1.15);
    unlock->setFont(large);
    connect(unlock, &QPushButton::clicked, this, [this] { m_lock.authenticate(window()); });
    column->addWidget(unlock, 0, Qt::AlignHCenter);
    column->addStretch(1);

    m_opacity = new QGraphicsOpacityEffect(this);
    setGraphicsEffect(m_opacity);
    m_fade = new QPropertyAnimation(m_opacity, "opacity", this);
    m_fade->setDuration(fadeMs);
    m_fade->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] {
        if (m_lock.isLocked()) {
            // Opaque now: the content beneath is out of everyone's reach.
            if (m_content) m_content->hide();
            m_opacity->setEnabled(false);
        } else {
            hide();
            m_covering = false;
        }
    });
    connect(&m_lock, &AppLockMac::lockedChanged, this, &LockOverlayMac::follow);

    // Locked from the start (the lock is on at launch): no fade.
    if (m_lock.isLocked()) {
        m_covering = true;
        raise();
        m_opacity->setOpacity(1);
        m_opacity->setEnabled(false);
        if (m_content) {
            m_content->setEnabled(false);
            m_content->hide();
        }
    } else {
        m_opacity->setOpacity(0);
        hide();
    }
}

void LockOverlayMac::follow(bool locked) {
    if (locked) {
        m_covering = true;
        if (m_content) m_content->setEnabled(false);
        // Locked again while still fading out: no showEvent, so ask here.
        const bool stillShown = isVisible();
        show();
        raise();
        fadeTo(1);
        if (stillShown)
            QTimer::singleShot(0, this, [this] {
                if (isVisible() && m_lock.isLocked()) m_lock.authenticate(window());
            });
    } else {
        if (m_content) {
            m_content->show();
            m_content->setEnabled(true);
        }
        fadeTo(0);
    }
}

void LockOverlayMac::fadeTo(qreal opacity) {
    m_fade->stop();
    m_opacity->setEnabled(true);
    m_fade->setStartValue(m_opacity->opacity());
    m_fade->setEndValue(opacity);
    m_fade->start();
}

void LockOverlayMac::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Comes on screen locked: ask by itself, once the window is up.
    QTimer::singleShot(0, this, [this] {
        if (isVisible() && m_lock.isLocked()) m_lock.authenticate(window());
    });
}

bool LockOverlayMac::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget()) {
        if (event->type() == QEvent::Resize)
            setGeometry(parentWidget()->rect());
        else if (event->type() == QEvent::ChildAdded && isVisible())
            QTimer::singleShot(0, this, [this] { raise(); });
    }
    return QWidget::eventFilter(watched, event);
}

void LockOverlayMac::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}
