// A window for the Wayland desktop tests: run with QT_QPA_PLATFORM=wayland it
// is a Wayland client, with xcb an XWayland one. Its title is the first
// argument. With an image file as the second argument it shows that picture
// (a QR code for a screen scan), otherwise one line edit that receives typed
// text. It prints "active" and "inactive" as the compositor gives it the
// keyboard and takes it away, and "text: …" for every change of the text,
// each line flushed at once. As a Wayland client it also prints "keyboard
// enter" and "keyboard leave" for each event of that name the compositor
// sends it: Qt reports a leave followed at once by an enter as no change.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTextStream>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include <unistd.h>

namespace {

QTextStream* out = nullptr;

void say(const QString& line) {
    *out << line << '\n';
    out->flush();
}

// A keyboard of its own on Qt's seat, told of the same enters and leaves as
// Qt's; its other events are dropped.
void keymap(void*, wl_keyboard*, uint32_t, int32_t fd, uint32_t) { close(fd); }
void enter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {
    say(QStringLiteral("keyboard enter"));
}
void leave(void*, wl_keyboard*, uint32_t, wl_surface*) { say(QStringLiteral("keyboard leave")); }
void key(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void modifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void repeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener keyboardListener{keymap, enter, leave, key, modifiers, repeat};

void watchKeyboard() {
    if (QGuiApplication::platformName() != QLatin1String("wayland")) return;
    auto* seat = static_cast<wl_seat*>(
        QGuiApplication::platformNativeInterface()->nativeResourceForIntegration("wl_seat"));
    if (!seat) return;
    wl_keyboard_add_listener(wl_seat_get_keyboard(seat), &keyboardListener, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTextStream stream(stdout);
    out = &stream;
    watchKeyboard();
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
