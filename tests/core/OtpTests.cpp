#include <QtTest>

class OtpTests : public QObject {
    Q_OBJECT
};

QTEST_GUILESS_MAIN(OtpTests)
#include "OtpTests.moc"
