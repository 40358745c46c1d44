#include <QtTest>

class AccountTests : public QObject {
    Q_OBJECT
};

QTEST_GUILESS_MAIN(AccountTests)
#include "AccountTests.moc"
