#include <QtTest>

class CryptoTests : public QObject {
    Q_OBJECT
};

QTEST_GUILESS_MAIN(CryptoTests)
#include "CryptoTests.moc"
