#include <QtTest>

class Base32Tests : public QObject {
    Q_OBJECT
};

QTEST_GUILESS_MAIN(Base32Tests)
#include "Base32Tests.moc"
