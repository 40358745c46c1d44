// Quillet: two-factor codes in the desktop's tray.
#include "app/QuilletApp.h"
#include "core/AccountStore.h"
#include "core/CredentialIdentitySync.h"
#include "core/SecurityLog.h"
#include "platform/desktop/DesktopBackends.h"
#include "platform/desktop/GlobalHotKey.h"
#include "platform/desktop/portal/Portal.h"
#include "platform/files/UserDefaults.h"
#include "platform/look/AppGuards.h"
#include "platform/system/FreedMemory.h"
#include "system/CodesBusAdaptor.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString busName = QStringLiteral("com.tarnwick.Quillet");
const QString busPath = QStringLiteral("/Quillet");
const QString busInterface = QStringLiteral("com.tarnwick.Quillet.Application");

// The running program on the session bus: it answers a second start, and
// scripts and desktop shortcuts ask it for codes (CodesBusAdaptor).
class BusEndpoint : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.tarnwick.Quillet.Application")

public:
    explicit BusEndpoint(QuilletApp& app) : m_app(app) {}

public slots:
    Q_SCRIPTABLE void Reopen() { m_app.reopen(); }

private:
    QuilletApp& m_app;
};

// The signals that end a desktop program from outside: logout (SIGTERM,
// SIGHUP when the session's terminal goes) and Ctrl+C in a terminal. Each
// quits through the event loop, as Ctrl+Q does, so that what the program
// holds of the desktop (its shortcuts set aside while a hotkey is recorded)
// goes back and its writes finish. The handler only writes a byte to a
// socket the event loop watches: nothing else is safe inside a handler.
const int endingSignals[] = {SIGTERM, SIGINT, SIGHUP};
int signalSocket[2] = {-1, -1};

void signalled(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSocket[0], &byte, 1);
    errno = saved;
}

// Once one came, a second ends the program at once, as people who press
// Ctrl+C twice expect (and as a window that refuses to close must not stop).
void endOnEndingSignals() {
    for (const int signal : endingSignals)
        std::signal(signal, SIG_DFL);
}

void quitOnEndingSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalSocket) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalSocket[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char bytes[16];
        while (::read(signalSocket[1], bytes, sizeof bytes) > 0) {
        }
        endOnEndingSignals();
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = signalled;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : endingSignals)
        ::sigaction(signal, &action, nullptr);
}

} // namespace

// How long the program may take to finish its writes once the user quit. A
// keyring or file that has not answered in that time will not: the program
// ends anyway rather than hang on after Ctrl+Q.
constexpr auto quitDeadline = std::chrono::seconds(10);

int main(int argc, char** argv) {
    // A write over the file-size limit fails (EFBIG), as on a full disk, and
    // is reported as such, instead of the signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    FreedMemory::shareOnePool();
    QApplication application(argc, argv);
    AppGuards::install();
    DesktopBackends::install(DesktopBackends::forSession());
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setOrganizationName(QStringLiteral("tarnwick"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));
    // The installed desktop entry, so the desktop pairs our windows with it;
    // its name is also the id the desktop's portals know us by.
    QApplication::setDesktopFileName(Portal::appID);
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnEndingSignals();

    QDBusConnection bus = QDBusConnection::sessionBus();
    bool ownsName = false;
    if (bus.isConnected()) {
        ownsName = bus.interface()->registerService(busName, QDBusConnectionInterface::DontQueueService,
                                                    QDBusConnectionInterface::DontAllowReplacement) ==
                   QDBusConnectionInterface::ServiceRegistered;
        if (!ownsName) {
            // Already running: bring that one forward and leave.
            bus.call(QDBusMessage::createMethodCall(busName, busPath, busInterface,
                                                    QStringLiteral("Reopen")));
            return 0;
        }
    }

    // Beside the settings: a run killed while it recorded a hotkey left the
    // desktop's shortcuts set aside, and this start gives them back.
    GlobalHotKey::keepSetAsideNote(QFileInfo(UserDefaults::standard().fileName()).absolutePath() +
                                   QStringLiteral("/desktop-shortcuts-set-aside"));
    CredentialIdentitySync::rebuildFromKeychain(CredentialIdentityStore::shared());
    QuilletApp app(UserDefaults::standard(), SecurityLog::shared());
    BusEndpoint endpoint(app);
    new CodesBusAdaptor(&endpoint, bus, UserDefaults::standard(), app.appLock());
    if (ownsName)
        bus.registerObject(busPath, &endpoint,
                           QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportAdaptors);
    app.start();
    const int status = application.exec();
    // The event loop is over: nothing reads the socket any more.
    endOnEndingSignals();
    std::thread([status] {
        std::this_thread::sleep_for(quitDeadline);
        std::fprintf(stderr, "Quillet: the keychain did not finish in time; quitting anyway\n");
        std::_Exit(status);
    }).detach();
    // Accounts being stored when the user quit are stored and recorded, and
    // events recorded just before quitting still reach the timeline.
    app.store().finish();
    SecurityLog::shared().waitForIdle();
    CredentialIdentitySync::waitForIdle();
    return status;
}

#include "main.moc"
