#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

class QVariantAnimation;
class QTimer;
class QWidget;

// The small confirmation that floats at the top centre of the screen after a
// code was copied, pasted or typed while the program stays in the
// background: a green check mark, a title and a subtitle, faded in, held and
// faded out. One per process; a newer message replaces the one on screen.
class CopyHUD : public QObject {
    Q_OBJECT

public:
    static CopyHUD& shared();

    static constexpr int width = 280;
    static constexpr int height = 64;
    static constexpr int topMargin = 12;
    static constexpr int fadeInMs = 180;
    static constexpr int fadeOutMs = 250;

    // Shows the message at once and hides it `durationMs` later (plus the
    // fade-out). The title is translated; the subtitle (an account's label) is not.
    // Nothing is shown where the panel would take the keyboard from the
    // window in front (a Wayland desktop that cannot be told otherwise):
    // the user's typing, or keys typed or pasted for the user and still on
    // their way, would end in the panel.
    void show(const QString& title, const QString& subtitle, int durationMs = 1400);

    // For tests: whether the panel is on screen, and what it shows.
    bool isShowing() const;
    QString title() const;
    QString subtitle() const;
    // How far the panel has faded in, 0 to 1.
    qreal opacity() const;
    QWidget* panel() const;

private:
    CopyHUD();
    void ensurePanel();
    // Where the panel goes: the top centre of the primary screen.
    QPoint position() const;
    void dismiss(qint64 generation);

    QPointer<QWidget> panel_;
    QVariantAnimation* fade_ = nullptr;
    QTimer* dismissTimer_ = nullptr;
    // Messages shown so far. A dismissal or a finished fade-out that belongs
    // to an older message leaves the panel alone.
    qint64 generation_ = 0;
    QString title_;
    QString subtitle_;
};
