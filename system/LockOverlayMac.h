#pragma once

#include <QPointer>
#include <QWidget>

class AppLockMac;
class QGraphicsOpacityEffect;
class QPropertyAnimation;

// What covers a window's content while the app is locked: an opaque layer
// with the lock, the program's name and "Unlock". It fades in and out in
// 0.2 s, and each time it comes on screen it asks for authentication by
// itself. The covered content is disabled as the layer comes and hidden
// once it is opaque, so neither its shortcuts nor a screen reader reach the
// codes beneath. The window's sheets and dialogs (an account's QR code, the
// edit sheet with its notes) step aside as the lock comes (AppLockMac sees
// to every window of the program).
class LockOverlayMac : public QWidget {
    Q_OBJECT

public:
    static constexpr int fadeMs = 200;

    // Covers all of `parent`, kept on top of its other children and resized
    // with it; `content` is the part of it that holds what the lock hides.
    LockOverlayMac(AppLockMac& lock, QWidget* content, QWidget* parent);

    // True from the start of the fade-in to the end of the fade-out.
    bool isCovering() const { return m_covering; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void follow(bool locked);
    void fadeTo(qreal opacity);

    AppLockMac& m_lock;
    QPointer<QWidget> m_content;
    QGraphicsOpacityEffect* m_opacity;
    QPropertyAnimation* m_fade;
    bool m_covering = false;
};
