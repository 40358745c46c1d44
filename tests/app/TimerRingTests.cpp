#include "app/TimerRing.h"
#include "platform/look/Style.h"
#include "tests/support/TestMain.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QtTest>
#include <limits>

Q_DECLARE_METATYPE(TimerRing::State::Tint)

namespace {

using Tint = TimerRing::State::Tint;

// A Unix time that is a whole multiple of 30, 60 and 100 seconds.
constexpr qint64 boundaryMs = 1'700'001'000'000LL;

QDateTime at(qint64 msecs) {
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

// The time at which `remaining` seconds of the period are left.
QDateTime withLeft(double period, double remaining) {
    return at(boundaryMs + qRound64((period - remaining) * 1000));
}

QPalette testPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(0, 122, 255));
    return palette;
}

bool near(QColor actual, QColor expected, int tolerance = 12) {
    return qAbs(actual.red() - expected.red()) <= tolerance &&
           qAbs(actual.green() - expected.green()) <= tolerance &&
           qAbs(actual.blue() - expected.blue()) <= tolerance;
}

QColor tintColour(Tint tint) {
    const QPalette palette = testPalette();
    switch (tint) {
    case Tint::accent:
        return Style::color(Style::SemanticColor::accent, palette);
    case Tint::orange:
        return Style::color(Style::SemanticColor::orange, palette);
    case Tint::red:
        return Style::color(Style::SemanticColor::red, palette);
    }
    return {};
}

QImage rendered(double period, const QDateTime& now, int side = 44) {
    TimerRing ring;
    ring.setPalette(testPalette());
    ring.setPeriod(period);
    ring.setNow(now);
    ring.resize(side, side);
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    ring.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// What the threads of Qt's pools have done so far: how many there are, and
// how often they were put to sleep or woken, from /proc.
std::pair<int, qint64> pooledThreadsWork() {
    int threads = 0;
    qint64 switches = 0;
    for (const QString& id : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(id));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "Thread (pooled)")
            continue;
        ++threads;
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(id));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.contains("ctxt_switches:"))
                switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return {threads, switches};
}

} // namespace

class TimerRingTests : public QObject {
    Q_OBJECT

private slots:
    void periodBoundaryShowsAFullCircle() {
        const auto s = TimerRing::compute(30, at(boundaryMs));
        QCOMPARE(s.remaining, 30.0);
        QCOMPARE(s.fraction, 1.0);
        QCOMPARE(s.tint, Tint::accent);
        QCOMPARE(s.label, QStringLiteral("30"));
    }

    void tintsAndLabels_data() {
        QTest::addColumn<double>("period");
        QTest::addColumn<double>("remaining");
        QTest::addColumn<Tint>("tint");
        QTest::addColumn<QString>("label");
        QTest::newRow("30 s: just over 9.9 s") << 30.0 << 9.901 << Tint::accent << "10";
        QTest::newRow("30 s: just under 9.9 s") << 30.0 << 9.899 << Tint::orange << "10";
        QTest::newRow("30 s: just over 4.8 s") << 30.0 << 4.801 << Tint::orange << "5";
        QTest::newRow("30 s: just under 4.8 s") << 30.0 << 4.799 << Tint::red << "5";
        QTest::newRow("30 s: rounds up") << 30.0 << 29.2 << Tint::accent << "30";
        QTest::newRow("60 s: just over 19.8 s") << 60.0 << 19.801 << Tint::accent << "20";
        QTest::newRow("60 s: just under 19.8 s") << 60.0 << 19.799 << Tint::orange << "20";
        QTest::newRow("60 s: just over 9.6 s") << 60.0 << 9.601 << Tint::orange << "10";
        QTest::newRow("60 s: just under 9.6 s") << 60.0 << 9.599 << Tint::red << "10";
        QTest::newRow("0.2 s left never shows 0") << 30.0 << 0.2 << Tint::red << "1";
        QTest::newRow("last millisecond") << 30.0 << 0.001 << Tint::red << "1";
        // Exactly 0.33 and 0.16 of the period: the thresholds are strict.
        QTest::newRow("33 of 100") << 100.0 << 33.0 << Tint::orange << "33";
        QTest::newRow("16.5 of 50") << 50.0 << 16.5 << Tint::orange << "17";
        QTest::newRow("16 of 100") << 100.0 << 16.0 << Tint::red << "16";
    }

    void tintsAndLabels() {
        QFETCH(double, period);
        QFETCH(double, remaining);
        QFETCH(Tint, tint);
        QFETCH(QString, label);
        const auto s = TimerRing::compute(period, withLeft(period, remaining));
        QVERIFY(qAbs(s.remaining - remaining) < 1e-6);
        QVERIFY(qAbs(s.fraction - remaining / period) < 1e-6);
        QCOMPARE(s.tint, tint);
        QCOMPARE(s.label, label);
    }

    void periodsBelowOneSecondCountOneSecond() {
        const QDateTime now = at(boundaryMs + 250);
        for (double period : {0.0, -5.0, 0.5, std::numeric_limits<double>::quiet_NaN()}) {
            const auto s = TimerRing::compute(period, now);
            QCOMPARE(s.remaining, 0.75);
            QCOMPARE(s.fraction, 0.75);
            QCOMPARE(s.label, QStringLiteral("1"));
        }
    }

    void widgetShowsWhatItIsGiven() {
        TimerRing ring;
        QCOMPARE(ring.sizeHint(), QSize(22, 22));
        ring.setPeriod(60);
        ring.setNow(withLeft(60, 42.5));
        QCOMPARE(ring.state().label, QStringLiteral("43"));
        QCOMPARE(ring.state().fraction, 42.5 / 60);
    }

    void arcStartsAtTwelveInTheTint_data() {
        QTest::addColumn<double>("remaining");
        QTest::addColumn<Tint>("tint");
        QTest::newRow("accent") << 25.0 << Tint::accent;
        QTest::newRow("orange") << 7.0 << Tint::orange;
        QTest::newRow("red") << 2.0 << Tint::red;
    }

    void arcStartsAtTwelveInTheTint() {
        QFETCH(double, remaining);
        QFETCH(Tint, tint);
        const QImage image = rendered(30, withLeft(30, remaining));
        QVERIFY(near(image.pixelColor(22, 1), tintColour(tint)));
    }

    void arcRunsClockwiseOverTheFraction() {
        // 12 s of 30 left: 0.4 of the circle, from 12 o'clock round to about 5.
        const QImage image = rendered(30, withLeft(30, 12));
        const QColor accent = tintColour(Tint::accent);
        QVERIFY(near(image.pixelColor(42, 22), accent));  // 3 o'clock
        QVERIFY(!near(image.pixelColor(22, 42), accent)); // 6 o'clock
        QVERIFY(!near(image.pixelColor(1, 22), accent));  // 9 o'clock
        // The bare part shows the faint track, not the background.
        const QColor track = image.pixelColor(1, 22);
        QVERIFY(track != QColor(Qt::white));
        QVERIFY(track.lightness() > 180);
    }

    // Each second of a period draws a picture not kept yet, for the first
    // period after a start: drawing it must not wake threads beside the
    // GUI thread, at its own size and at twice it.
    void newPicturesWakeNoOtherThread() {
        const auto before = pooledThreadsWork();
        for (const int side : {44, 88})
            for (int left = 1; left <= 30; ++left)
                QVERIFY(!rendered(30, withLeft(30, left - 0.25), side).isNull());
        QCOMPARE(pooledThreadsWork(), before);
    }

    void labelTakesTheWarningColourOnly() {
        auto hasTintInCentre = [](const QImage& image, QColor colour) {
            for (int y = 14; y < 30; ++y)
                for (int x = 12; x < 32; ++x)
                    if (near(image.pixelColor(x, y), colour, 40)) return true;
            return false;
        };
        QVERIFY(hasTintInCentre(rendered(30, withLeft(30, 3)), tintColour(Tint::red)));
        QVERIFY(!hasTintInCentre(rendered(30, withLeft(30, 25)), tintColour(Tint::accent)));
        QVERIFY(hasTintInCentre(rendered(30, withLeft(30, 25)), QColor(128, 128, 128)));
    }
};

QUILLET_TEST_MAIN(TimerRingTests)
#include "TimerRingTests.moc"
