#include <QtTest>

class OTPAuthTests : public QObject {
    Q_OBJECT
};

QTEST_GUILESS_MAIN(OTPAuthTests)
#include "OTPAuthTests.moc"
