#include "system/CopyHUD.h"
#include "tests/support/TestMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QScreen>
#include <QVariantAnimation>
#include <QTranslator>
#include <QWidget>
#include <QtTest>

namespace {

// Stands in for a German translation of the HUD's titles only.
class GermanTitles : public QTranslator {
public:
    QString translate(const char* context, const char* source, const char* = nullptr,
                      int = -1) const override {
        if (QByteArray(context) == "CopyHUD" && QByteArray(source) == "Code copied")
            return QStringLiteral("Code kopiert");
        return {};
    }
};

} // namespace

class CopyHUDTests : public QObject {
    Q_OBJECT

    CopyHUD& hud = CopyHUD::shared();

    void waitUntilHidden() { QTRY_VERIFY(!hud.isShowing()); }

    // The panel's fade, whose every step `onStep(opacity, fading out)` sees
    // as it happens, for as long as `scope` lives: a look now and then could
    // miss a moment that lasts a fraction of a second on a slow machine.
    template <typename OnStep> bool followFade(QObject* scope, OnStep onStep) {
        auto* fade = hud.panel()->findChild<QVariantAnimation*>();
        if (!fade) return false;
        connect(fade, &QVariantAnimation::valueChanged, scope,
                [fade, onStep](const QVariant& value) {
                    onStep(value.toDouble(), fade->endValue().toDouble() == 0.0);
                });
        return true;
    }

private slots:
    void init() { waitUntilHidden(); }

    void showsItsTextsAtTheTopCentreOfTheScreen() {
        hud.show(QStringLiteral("Code pasted"), QStringLiteral("GitHub: alice"), 200);
        QVERIFY(hud.isShowing());
        QCOMPARE(hud.title(), QStringLiteral("Code pasted"));
        QCOMPARE(hud.subtitle(), QStringLiteral("GitHub: alice"));
        QWidget* panel = hud.panel();
        QCOMPARE(panel->size(), QSize(280, 64));
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(panel->x(), area.x() + (area.width() - 280) / 2);
        QCOMPARE(panel->y(), area.top() + 12);
        // It draws without trouble even with texts far too long for one line.
        hud.show(QString(300, u'W'), QString(300, u'x'), 200);
        QVERIFY(!panel->grab().isNull());
        QCOMPARE(hud.panel(), panel); // one panel, reused
    }

    void translatesTheTitleButNotTheSubtitle() {
        GermanTitles german;
        QCoreApplication::installTranslator(&german);
        hud.show(QStringLiteral("Code copied"), QStringLiteral("Code copied"), 100);
        QCoreApplication::removeTranslator(&german);
        QCOMPARE(hud.title(), QStringLiteral("Code kopiert"));
        QCOMPARE(hud.subtitle(), QStringLiteral("Code copied"));
        hud.show(QStringLiteral("Copied (needs Accessibility)"), QString(), 100);
        QCOMPARE(hud.title(), QStringLiteral("Copied (needs Accessibility)"));
    }

    void fadesInAndOutAfterItsDuration() {
        QElapsedTimer clock;
        clock.start();
        // Long enough that a slow machine ends the fade-in well before it.
        hud.show(QStringLiteral("Code copied"), QStringLiteral("a"), 3000);
        QCOMPARE(hud.opacity(), 0.0);
        QObject scope;
        qint64 fullAt = -1;
        // The fade is drawn, never asked of the window system (Qt on Wayland
        // has no window opacity): the window stays opaque at every step while
        // its plate is drawn fainter in the middle of the fade than at full.
        qreal windowOpacity = 1.0;
        int plateAlphaMidway = -1;
        QWidget* panel = hud.panel();
        const auto plateAlpha = [panel] {
            QImage image(panel->size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            panel->render(&image, {}, {}, QWidget::DrawChildren);
            return qAlpha(image.pixel(panel->width() / 2, 3));
        };
        QVERIFY(followFade(&scope, [&](double opacity, bool) {
            windowOpacity = qMin(windowOpacity, panel->windowOpacity());
            if (opacity > 0.2 && opacity < 0.8 && plateAlphaMidway < 0)
                plateAlphaMidway = plateAlpha();
            if (opacity == 1.0 && fullAt < 0) fullAt = clock.elapsed();
        }));
        QTRY_VERIFY(fullAt >= 0);
        QVERIFY2(fullAt >= 150, qPrintable(QString::number(fullAt))); // faded in, not shown at once
        QCOMPARE(windowOpacity, 1.0);
        const int plateAlphaFull = plateAlpha();
        QVERIFY2(plateAlphaMidway > 0 && plateAlphaMidway < plateAlphaFull * 85 / 100,
                 qPrintable(QStringLiteral("%1 of %2").arg(plateAlphaMidway).arg(plateAlphaFull)));
        QVERIFY(hud.isShowing());
        waitUntilHidden();
        // Held for the duration (a coarse timer may fire 5 % early), then the
        // 0.25 s fade; allow the timers' slack.
        QVERIFY2(clock.elapsed() >= 3000 * 95 / 100 + 200,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(hud.opacity(), 0.0);
    }

    void aNewerMessageReplacesTheOlderAndKeepsItsOwnDuration() {
        QElapsedTimer clock;
        clock.start();
        hud.show(QStringLiteral("Code copied"), QStringLiteral("first"), 200);
        QTest::qWait(100);
        // Long enough that a slow machine cannot reach its end in the wait below.
        hud.show(QStringLiteral("Code typed"), QStringLiteral("second"), 3000);
        QCOMPARE(hud.opacity(), 0.0); // starts its own fade-in
        QCOMPARE(hud.subtitle(), QStringLiteral("second"));
        // Well past the first message's dismissal and fade-out.
        QTest::qWait(500);
        QVERIFY(hud.isShowing());
        QTRY_COMPARE(hud.opacity(), 1.0);
        waitUntilHidden();
        // Its own duration (a coarse timer may fire 5 % early), then the fade.
        QVERIFY2(clock.elapsed() >= 100 + 3000 * 95 / 100 + 200,
                 qPrintable(QString::number(clock.elapsed())));
    }

    void aMessageDuringAFadeOutStaysOnScreen() {
        hud.show(QStringLiteral("Code copied"), QStringLiteral("first"), 250);
        // The second message comes from within a step of the first one's
        // fade-out, however late the machine gets there.
        QObject scope;
        bool shownDuringTheFade = false;
        bool replaced = false;
        QVERIFY(followFade(&scope, [&](double opacity, bool fadingOut) {
            if (replaced || !fadingOut || opacity >= 0.9) return;
            replaced = true;
            shownDuringTheFade = hud.isShowing();
            // Long enough that a slow machine cannot reach this message's own end.
            hud.show(QStringLiteral("Code copied"), QStringLiteral("second"), 5000);
        }));
        QTRY_VERIFY(replaced);
        QVERIFY(shownDuringTheFade);
        // The old fade-out would have finished and hidden the panel by now.
        QTest::qWait(400);
        QVERIFY(hud.isShowing());
        QTRY_COMPARE(hud.opacity(), 1.0);
        QCOMPARE(hud.subtitle(), QStringLiteral("second"));
    }

    void neverTakesTheFocusNorTheMouse() {
        QWidget front;
        front.resize(300, 200);
        front.show();
        front.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&front));
        hud.show(QStringLiteral("Code pasted"), QStringLiteral("b"), 300);
        QTest::qWait(50);
        QCOMPARE(QApplication::activeWindow(), &front);
        QWidget* panel = hud.panel();
        const Qt::WindowFlags flags = panel->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
        QVERIFY(flags.testFlag(Qt::WindowTransparentForInput));
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(panel->testAttribute(Qt::WA_ShowWithoutActivating));
        QCOMPARE(panel->focusPolicy(), Qt::NoFocus);
        QVERIFY(!panel->isActiveWindow());
    }
};

QUILLET_TEST_MAIN(CopyHUDTests)
#include "CopyHUDTests.moc"
