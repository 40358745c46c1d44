#include <QtTest>

class JsonTests : public QObject {
    Q_OBJECT
};

QTEST_GUILESS_MAIN(JsonTests)
#include "JsonTests.moc"
