#include <QtTest>

class MigrationTests : public QObject {
    Q_OBJECT
};

QTEST_GUILESS_MAIN(MigrationTests)
#include "MigrationTests.moc"
