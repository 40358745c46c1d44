#pragma once

#include "tests/support/TestMain.h"

#include <QApplication>
#include <QLineEdit>
#include <QTextStream>
#include <QTimer>

// The program in front, for tests that type or paste into another process:
// one focused line edit that reports every change of its text on standard
// output, after a first line "ready" once it has the focus. Test programs run
// it when started with "--receiver".
inline int runTextReceiver(int argc, char** argv) {
    QApplication app(argc, argv);
    QLineEdit edit;
    edit.resize(320, 40);
    QTextStream out(stdout);
    QObject::connect(&edit, &QLineEdit::textChanged, [&out](const QString& text) {
        out << text << '\n';
        out.flush();
    });
    edit.show();
    edit.activateWindow();
    edit.setFocus();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (edit.isActiveWindow() && edit.hasFocus()) {
            poll.stop();
            out << "ready\n";
            out.flush();
        }
    });
    poll.start(20);
    return app.exec();
}

// The main() of a test program that is also its own text receiver.
#define QUILLET_TEST_MAIN_WITH_RECEIVER(TestClass)                                                 \
    int main(int argc, char** argv) {                                                              \
        if (argc > 1 && qstrcmp(argv[1], "--receiver") == 0) return runTextReceiver(argc, argv);   \
        QApplication app(argc, argv);                                                              \
        TestSupport::Guarded<TestClass> tests;                                                     \
        return QTest::qExec(&tests, argc, argv);                                                   \
    }
