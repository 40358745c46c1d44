// larkspur-host: serves one AutoFill request with the credential-provider
// plugin, as the desktop's AutoFill would. The request is one JSON object on
// standard input, the outcome one JSON object on standard output.
#include "host/HostProtocol.h"
#include "host/HostSession.h"
#include "platform/look/AppGuards.h"
#include "platform/system/OwnerAuth.h"

#include <QApplication>
#include <QTextStream>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

const char usage[] =
    "Usage: larkspur-host [--plugin PATH] < request.json\n"
    "Serves one AutoFill request with the credential-provider plugin: PATH, else\n"
    "$LARKSPUR_PLUGIN, else larkspur.so beside this program. Exit status: 0 completed,\n"
    "1 refused, 2 unreadable request (or one over 1 MiB), 3 the plugin could not be loaded,\n"
    "4 the request needs a window and no display can be opened, 5 Quillet is locked and\n"
    "its password cannot be asked for here.\n";

void say(const QString& text) {
    QTextStream(stderr) << "larkspur-host: " << text << '\n';
}

enum class Read { whole, failed, tooLarge };

// Standard input to its end, unless it is larger than any request can be:
// then reading stops at the first byte too many, so that a sender of endless
// or huge input costs neither time nor memory.
Read readRequest(QByteArray* out) {
    QByteArray data(HostProtocol::maxRequestBytes + 1, Qt::Uninitialized);
    qsizetype size = 0;
    while (size < data.size()) {
        const ssize_t got = ::read(STDIN_FILENO, data.data() + size, size_t(data.size() - size));
        if (got == 0) {
            data.truncate(size);
            *out = data;
            return Read::whole;
        }
        if (got < 0) {
            if (errno == EINTR) continue;
            return Read::failed;
        }
        size += got;
    }
    return Read::tooLarge;
}

const QString noDisplaySentence =
    QStringLiteral("the request needs a window, and no display can be opened for it: "
                   "set DISPLAY or WAYLAND_DISPLAY to a running one");

// Whether a list of Qt platforms ("xcb;offscreen:size=800x600") names the
// offscreen one.
bool namesOffscreen(const QByteArray& platforms) {
    for (const QByteArray& platform : platforms.split(';'))
        if (platform.split(':').constFirst().trimmed().toLower() == "offscreen") return true;
    return false;
}

// The Qt platforms to try, for a "-platform" argument. Qt's own choice may
// try only the display XDG_SESSION_TYPE names, even where that one is dead
// and the other lives: in a Wayland session (by its type, or a compositor's
// socket named) both are tried, Wayland first; elsewhere only X11, since
// asking for Wayland there only fails, aloud, each time. The offscreen
// platform stands last, where a request that ends without showing anything
// is still served and one that needs a window is refused. A choice that
// names offscreen itself is taken as it is.
QByteArray platforms() {
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    if (namesOffscreen(chosen)) return chosen;
    if (!chosen.isEmpty()) return chosen + ";offscreen";
    const bool wayland =
        qgetenv("XDG_SESSION_TYPE") == "wayland" || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return wayland ? QByteArray("wayland;xcb;offscreen") : QByteArray("xcb;offscreen");
}

// A platform that Qt cannot start at all ends the program in qFatal(),
// which aborts: it ends it with the host's own status instead.
QtMessageHandler qtMessages = nullptr;
void exitOnFatal(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        qtMessages(type, context, message);
        return;
    }
    say(noDisplaySentence);
    std::_Exit(HostProtocol::noDisplay);
}

} // namespace

int main(int argc, char** argv) {
    // A write over the file-size limit fails (EFBIG), as on a full disk, and
    // is reported as such, instead of the signal ending the host.
    std::signal(SIGXFSZ, SIG_IGN);
    QString pluginPath = qEnvironmentVariable("LARKSPUR_PLUGIN");
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--help" || argument == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (argument == "--plugin" && i + 1 < argc) {
            pluginPath = QString::fromLocal8Bit(argv[++i]);
        } else if (argument.startsWith("--plugin=")) {
            pluginPath = QString::fromLocal8Bit(argument.mid(9));
        } else {
            std::fputs(usage, stderr);
            return HostProtocol::unreadableRequest;
        }
    }

    QByteArray json;
    switch (readRequest(&json)) {
    case Read::whole:
        break;
    case Read::failed:
        say(QStringLiteral("cannot read standard input"));
        return HostProtocol::unreadableRequest;
    case Read::tooLarge:
        say(QStringLiteral("the request is larger than %1 bytes").arg(HostProtocol::maxRequestBytes));
        return HostProtocol::unreadableRequest;
    }
    const auto parsed = HostProtocol::parse(json);
    if (const auto* reason = std::get_if<QString>(&parsed)) {
        say(QStringLiteral("unreadable request: ") + *reason);
        return HostProtocol::unreadableRequest;
    }
    const HostProtocol::Request& request = std::get<HostProtocol::Request>(parsed);
    // While Quillet's app lock is on, nothing goes out before the owner's
    // password: a request that needs no window of its own still needs one
    // for that question.
    const std::optional<QString> ownerQuestion = HostSession::ownerQuestion(request);

    // A request without interface needs no display; one with it may still
    // end without showing anything (a code for a named account). Qt keeps
    // its arguments to the end: they are made before it.
    QByteArray platformOption("-platform"), platform;
    QList<char*> qtArguments{argv[0]};
    int qtArgumentCount = 1;
    std::unique_ptr<QCoreApplication> application;
    bool displayless = false;
    if (HostProtocol::needsInterface(request.entry) || ownerQuestion) {
        platform = platforms();
        qtArguments << platformOption.data() << platform.data();
        qtArgumentCount = int(qtArguments.size());
        qtArguments << nullptr;
        qtMessages = qInstallMessageHandler(exitOnFatal);
        application = std::make_unique<QApplication>(qtArgumentCount, qtArguments.data());
        qInstallMessageHandler(qtMessages);
        QApplication::setQuitOnLastWindowClosed(false);
        AppGuards::install();
        displayless = QGuiApplication::platformName() == QLatin1String("offscreen") &&
                      !namesOffscreen(qgetenv("QT_QPA_PLATFORM"));
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("larkspur-host"));
    QCoreApplication::setOrganizationName(QStringLiteral("tarnwick"));

    if (pluginPath.isEmpty()) pluginPath = HostSession::defaultPluginPath();
    QString error;
    CredentialProviderExtension* extension = HostSession::loadExtension(pluginPath, &error);
    if (!extension) {
        say(error);
        return HostProtocol::pluginNotLoaded;
    }

    HostSession session(*extension, request);
    if (ownerQuestion) {
        if (displayless) {
            say(QStringLiteral("Quillet is locked, and no display can be opened to ask for its "
                               "password: set DISPLAY or WAYLAND_DISPLAY to a running one"));
            return HostProtocol::lockedCannotAsk;
        }
        if (!HostSession::canAskOwner()) {
            say(QStringLiteral("Quillet is locked, and this user's password cannot be checked "
                               "(PAM service \"%1\")")
                    .arg(OwnerAuth::serviceName()));
            return HostProtocol::lockedCannotAsk;
        }
        session.requireOwner(*ownerQuestion);
    }
    QObject::connect(&session, &HostSession::ended, application.get(), &QCoreApplication::quit,
                     Qt::QueuedConnection);
    session.start(!displayless);
    if (!session.hasEnded() && displayless) {
        say(noDisplaySentence);
        return HostProtocol::noDisplay;
    }
    if (!session.hasEnded()) application->exec();
    if (!session.hasEnded()) return HostProtocol::unreadableRequest; // not reached
    const QByteArray outcome = HostProtocol::toJson(*session.outcome());
    std::fwrite(outcome.constData(), 1, size_t(outcome.size()), stdout);
    std::fflush(stdout);
    return HostProtocol::exitStatus(*session.outcome());
}
