// Quillet: two-factor codes in the desktop's tray.
#include "app/QuilletApp.h"
#include "core/AccountStore.h"
#include "core/CredentialIdentitySync.h"
#include "core/SecurityLog.h"
#include "platform/desktop/DesktopBackends.h"
#include "platform/desktop/portal/Portal.h"
#include "platform/files/UserDefaults.h"
#include "platform/look/AppGuards.h"
#include "platform/system/FreedMemory.h"
#include "system/CodesBusAdaptor.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

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

    CredentialIdentitySync::rebuildFromKeychain(CredentialIdentityStore::shared());
    QuilletApp app(UserDefaults::standard(), SecurityLog::shared());
    BusEndpoint endpoint(app);
    new CodesBusAdaptor(&endpoint, bus, UserDefaults::standard(), app.appLock());
    if (ownsName)
        bus.registerObject(busPath, &endpoint,
                           QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportAdaptors);
    app.start();
    const int status = application.exec();
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
