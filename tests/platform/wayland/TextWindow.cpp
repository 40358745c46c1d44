// A window that receives typed text, for the Wayland desktop tests: run with
// QT_QPA_PLATFORM=wayland it is a Wayland client, with xcb an XWayland one.
// Its title is the first argument. It prints "active" and "inactive" as the
// compositor gives it the keyboard and takes it away, and "text: …" for
// every change of its one line edit, each line flushed at once.
#include <QApplication>
#include <QLineEdit>
#include <QTextStream>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const auto say = [&out](const QString& line) {
        out << line << '\n';
        out.flush();
    };
    QLineEdit edit;
    edit.setWindowTitle(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("Text window"));
    edit.resize(360, 60);
    QObject::connect(&edit, &QLineEdit::textChanged,
                     [&](const QString& text) { say(QStringLiteral("text: ") + text); });
    bool wasActive = false;
    QObject::connect(&app, &QApplication::focusChanged, [&] {
        if (edit.isActiveWindow() != wasActive) {
            wasActive = edit.isActiveWindow();
            say(wasActive ? QStringLiteral("active") : QStringLiteral("inactive"));
        }
    });
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, [&] {
        if (edit.isActiveWindow() != wasActive) {
            wasActive = edit.isActiveWindow();
            say(wasActive ? QStringLiteral("active") : QStringLiteral("inactive"));
        }
    });
    edit.show();
    edit.setFocus();
    return app.exec();
}
