#include "tests/support/ChildProcess.h"
#include "tests/support/TestMain.h"

#include <QApplication>
#include <QMessageBox>
#include <QtTest>
#include <stdexcept>

// What a test program's guards do, seen from outside: a child run of this
// program whose test functions throw and leave a message box open.
class GuardedChild : public QObject {
    Q_OBJECT

private slots:
    void throws() { throw std::runtime_error("tests/data/gone.json: No such file"); }
    void runsAfterTheThrow() {}
    void leavesAMessageBoxOpen() {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Open"),
                        QStringLiteral("The file is gone."), QMessageBox::Ok);
        box.exec();
    }
    void runsAfterTheMessageBox() {}
};

class TestMainTests : public QObject {
    Q_OBJECT

private slots:
    void eachFailureStaysInItsFunction() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLET_TEST_MODAL_LIMIT_MS"), QStringLiteral("300"));
        QByteArray output;
        QCOMPARE(TestSupport::runSelf({QStringLiteral("--child")}, &output, env), 2);
        for (const char* line :
             {"FAIL!  : GuardedChild::throws() uncaught exception std::runtime_error: "
              "tests/data/gone.json: No such file",
              "PASS   : GuardedChild::runsAfterTheThrow()",
              "FAIL!  : GuardedChild::leavesAMessageBoxOpen() a modal dialog stayed open",
              "closed: QMessageBox \"Open\" saying \"The file is gone.\"",
              "PASS   : GuardedChild::runsAfterTheMessageBox()"})
            QVERIFY2(output.contains(line), output.constData());
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--child") == 0) {
        TestSupport::Guarded<GuardedChild> child;
        return QTest::qExec(&child, QStringList{app.arguments().first()});
    }
    TestSupport::Guarded<TestMainTests> tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "TestMainTests.moc"
