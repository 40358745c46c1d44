// The copy confirmation on a desktop of two screens (Qt's offscreen platform
// with two screens, two_screens.json): it appears at the top centre of the
// primary one, wherever the pointer is.
#include "system/CopyHUD.h"
#include "tests/support/TestMain.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QtTest>

class CopyHUDScreensTests : public QObject {
    Q_OBJECT

private slots:
    void appearsOnThePrimaryScreenWhereverThePointerIs() {
        const QList<QScreen*> screens = QGuiApplication::screens();
        QCOMPARE(screens.size(), 2);
        QScreen* primary = QGuiApplication::primaryScreen();
        QScreen* other = screens.at(0) == primary ? screens.at(1) : screens.at(0);
        for (QScreen* pointerOn : {other, primary}) {
            QCursor::setPos(pointerOn->geometry().center());
            QCOMPARE(QGuiApplication::screenAt(QCursor::pos()), pointerOn);
            CopyHUD::shared().show(QStringLiteral("Code copied"), QStringLiteral("GitHub: alice"),
                                   200);
            const QRect area = primary->availableGeometry();
            const QWidget* panel = CopyHUD::shared().panel();
            QCOMPARE(panel->pos(), QPoint(area.x() + (area.width() - CopyHUD::width) / 2,
                                          area.top() + CopyHUD::topMargin));
            QTRY_VERIFY(!CopyHUD::shared().isShowing());
        }
    }
};

QUILLET_TEST_MAIN(CopyHUDScreensTests)
#include "CopyHUDScreensTests.moc"
