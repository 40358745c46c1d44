// A window for the Wayland desktop tests: run with QT_QPA_PLATFORM=wayland it
// is a Wayland client, with xcb an XWayland one. Its title is the first
// argument. With an image file as the second argument it shows that picture
// (a QR code for a screen scan), otherwise one line edit that receives typed
// text. It prints "active" and "inactive" as the compositor gives it the
// keyboard and takes it away, and "text: …" for every change of the text,
// each line flushed at once.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTextStream>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const auto say = [&out](const QString& line) {
        out << line << '\n';
        out.flush();
    };
    QLineEdit edit;
    QLabel picture;
    QWidget* window = &edit;
    if (argc > 2) {
        picture.setPixmap(QPixmap(QString::fromLocal8Bit(argv[2])));
        window = &picture;
    } else {
        edit.resize(360, 60);
        QObject::connect(&edit, &QLineEdit::textChanged,
                         [&](const QString& text) { say(QStringLiteral("text: ") + text); });
    }
    window->setWindowTitle(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("Text window"));
    bool wasActive = false;
    const auto report = [&] {
        if (window->isActiveWindow() != wasActive) {
            wasActive = window->isActiveWindow();
            say(wasActive ? QStringLiteral("active") : QStringLiteral("inactive"));
        }
    };
    QObject::connect(&app, &QApplication::focusChanged, report);
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, report);
    window->show();
    window->setFocus();
    return app.exec();
}
