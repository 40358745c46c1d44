#pragma once

// The main() of every test program: Qt Test's, with two guards so that one
// broken case never takes the rest of its file down with it.
//  - An exception that escapes a test function (or its data function, init
//    or cleanup) becomes that function's failure, with the exception's type
//    and message; the next function runs. Qt Test on its own rethrows it
//    from qExec(), and the program dies of SIGABRT.
//  - In a program with a QApplication, an application-modal dialog that
//    stays open past a generous limit (a message box or file dialog that
//    nobody answers, its nested event loop holding the test) is closed, with
//    every modal dialog above it, and fails the running test with what the
//    dialogs said, instead of hanging until CTest's timeout.
//
//   QUILLET_TEST_MAIN(Class)          like QTEST_MAIN
//   QUILLET_TEST_GUILESS_MAIN(Class)  like QTEST_GUILESS_MAIN
//   QUILLET_TEST_APPLESS_MAIN(Class)  like QTEST_APPLESS_MAIN
// A program with a main() of its own runs TestSupport::Guarded<Class>
// through QTest::qExec.

#include <QtTest>

#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <memory>
#include <typeinfo>

#ifdef QT_WIDGETS_LIB
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#endif

// Qt Test's waits (QTRY_*) give a condition 5 s by default, which a loaded
// machine can overrun without any fault; here they give it 30 s. A wait ends
// as soon as its condition holds, so only a failure takes longer.
#define QUILLET_TEST_WAIT_MS 30000
#undef QTRY_VERIFY
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, QUILLET_TEST_WAIT_MS)
#undef QTRY_VERIFY2
#define QTRY_VERIFY2(expr, message) QTRY_VERIFY2_WITH_TIMEOUT(expr, message, QUILLET_TEST_WAIT_MS)
#undef QTRY_COMPARE
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT(expr, expected, QUILLET_TEST_WAIT_MS)
#undef QTRY_COMPARE_EQ
#define QTRY_COMPARE_EQ(left, right) QTRY_COMPARE_EQ_WITH_TIMEOUT(left, right, QUILLET_TEST_WAIT_MS)
#undef QTRY_COMPARE_NE
#define QTRY_COMPARE_NE(left, right) QTRY_COMPARE_NE_WITH_TIMEOUT(left, right, QUILLET_TEST_WAIT_MS)
#undef QTRY_COMPARE_LT
#define QTRY_COMPARE_LT(left, right) QTRY_COMPARE_LT_WITH_TIMEOUT(left, right, QUILLET_TEST_WAIT_MS)
#undef QTRY_COMPARE_LE
#define QTRY_COMPARE_LE(left, right) QTRY_COMPARE_LE_WITH_TIMEOUT(left, right, QUILLET_TEST_WAIT_MS)
#undef QTRY_COMPARE_GT
#define QTRY_COMPARE_GT(left, right) QTRY_COMPARE_GT_WITH_TIMEOUT(left, right, QUILLET_TEST_WAIT_MS)
#undef QTRY_COMPARE_GE
#define QTRY_COMPARE_GE(left, right) QTRY_COMPARE_GE_WITH_TIMEOUT(left, right, QUILLET_TEST_WAIT_MS)

namespace TestSupport {

inline QString typeName(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    return QString::fromLatin1(status == 0 && name ? name.get() : type.name());
}

#ifdef QT_WIDGETS_LIB
// Watches for application-modal dialogs left open (see above). Sheets that
// are modal to their window only never block a test and are left alone.
class ModalGuard : public QObject {
public:
    // The limit in milliseconds; QUILLET_TEST_MODAL_LIMIT_MS sets another.
    static int limit() {
        bool ok = false;
        const int ms = qEnvironmentVariableIntValue("QUILLET_TEST_MODAL_LIMIT_MS", &ok);
        return ok && ms > 0 ? ms : 30000;
    }

    ModalGuard() {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()))
            QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Show && widget && widget->isWindow() &&
            widget->windowModality() == Qt::ApplicationModal) {
            const QPointer<QWidget> dialog(widget);
            QTimer::singleShot(limit(), this, [this, dialog] {
                if (dialog && dialog->isVisible()) closeAll();
            });
        }
        return false;
    }

private:
    static QWidget* blockingDialog() {
        QWidget* modal = QApplication::activeModalWidget();
        return modal && modal->windowModality() == Qt::ApplicationModal ? modal : nullptr;
    }

    static QString describe(const QWidget* dialog) {
        QString text = QString::fromLatin1(dialog->metaObject()->className());
        if (!dialog->windowTitle().isEmpty())
            text += QStringLiteral(" \"") + dialog->windowTitle() + u'"';
        if (const auto* box = qobject_cast<const QMessageBox*>(dialog))
            text += QStringLiteral(" saying \"") + box->text() + u'"';
        return text;
    }

    // Closes the dialogs from the top down, each ending its nested loop.
    void closeAll() {
        QStringList closed;
        for (int i = 0; i < 16; ++i) {
            QWidget* dialog = blockingDialog();
            if (!dialog) break;
            closed << describe(dialog);
            if (auto* d = qobject_cast<QDialog*>(dialog))
                d->reject();
            else
                dialog->close();
        }
        const QString message = QStringLiteral("a modal dialog stayed open for %1 s, closed: %2")
                                    .arg(limit() / 1000.0)
                                    .arg(closed.join(QStringLiteral(", under it ")));
        if (QTest::currentTestFunction())
            QTest::qFail(qPrintable(message), __FILE__, __LINE__);
        else
            qWarning("%s", qPrintable(message));
    }
};
#endif

template <typename Tests> class Guarded : public Tests {
public:
    // Qt Test finds and calls the test functions through this metaobject: the
    // class's own, whose calls go through `call` below.
    const QMetaObject* metaObject() const override { return &guardedMetaObject(); }

private:
    static void call(QObject* object, QMetaObject::Call kind, int index, void** arguments) {
        try {
            Tests::staticMetaObject.d.static_metacall(object, kind, index, arguments);
        } catch (const std::exception& e) {
            fail(typeName(typeid(e)) + QStringLiteral(": ") + QString::fromUtf8(e.what()));
        } catch (...) {
            const std::type_info* type = abi::__cxa_current_exception_type();
            fail(type ? typeName(*type) : QStringLiteral("an unknown exception"));
        }
    }

    static void fail(const QString& what) {
        QTest::qFail(qPrintable(QStringLiteral("uncaught exception ") + what), __FILE__, __LINE__);
    }

    static const QMetaObject& guardedMetaObject() {
        static const QMetaObject guarded = [] {
            QMetaObject copy = Tests::staticMetaObject;
            copy.d.static_metacall = &call;
            return copy;
        }();
        return guarded;
    }

#ifdef QT_WIDGETS_LIB
    ModalGuard m_modalGuard;
#endif
};

} // namespace TestSupport

#define QUILLET_TEST_MAIN(Class) QTEST_MAIN(TestSupport::Guarded<Class>)
#define QUILLET_TEST_GUILESS_MAIN(Class) QTEST_GUILESS_MAIN(TestSupport::Guarded<Class>)
#define QUILLET_TEST_APPLESS_MAIN(Class) QTEST_APPLESS_MAIN(TestSupport::Guarded<Class>)
