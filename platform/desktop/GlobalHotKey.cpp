#include "platform/desktop/GlobalHotKey.h"
#include "platform/desktop/portal/Portal.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFile>

// The X headers come last: they define macros (None, Bool...) that collide
// with names in Qt's headers.
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unordered_map>

namespace GlobalHotKey {

Dispatcher& dispatcher() {
    static Dispatcher* instance = new Dispatcher;
    return *instance;
}

namespace {

// macOS virtual key code -> X keysym (ANSI layout positions).
const std::unordered_map<quint32, quint32>& keysymTable() {
    static const std::unordered_map<quint32, quint32> table{
        {0, XK_a},
        {1, XK_s},
        {2, XK_d},
        {3, XK_f},
        {4, XK_h},
        {5, XK_g},
        {6, XK_z},
        {7, XK_x},
        {8, XK_c},
        {9, XK_v},
        {11, XK_b},
        {12, XK_q},
        {13, XK_w},
        {14, XK_e},
        {15, XK_r},
        {16, XK_y},
        {17, XK_t},
        {31, XK_o},
        {32, XK_u},
        {34, XK_i},
        {35, XK_p},
        {37, XK_l},
        {38, XK_j},
        {40, XK_k},
        {45, XK_n},
        {46, XK_m},
        {18, XK_1},
        {19, XK_2},
        {20, XK_3},
        {21, XK_4},
        {22, XK_6},
        {23, XK_5},
        {25, XK_9},
        {26, XK_7},
        {28, XK_8},
        {29, XK_0},
        {24, XK_equal},
        {27, XK_minus},
        {30, XK_bracketright},
        {33, XK_bracketleft},
        {39, XK_apostrophe},
        {41, XK_semicolon},
        {42, XK_backslash},
        {43, XK_comma},
        {44, XK_slash},
        {47, XK_period},
        {50, XK_grave},
        {36, XK_Return},
        {48, XK_Tab},
        {49, XK_space},
        {51, XK_BackSpace},
        {53, XK_Escape},
        {122, XK_F1},
        {120, XK_F2},
        {99, XK_F3},
        {118, XK_F4},
        {96, XK_F5},
        {97, XK_F6},
        {98, XK_F7},
        {100, XK_F8},
        {101, XK_F9},
        {109, XK_F10},
        {103, XK_F11},
        {111, XK_F12},
        {123, XK_Left},
        {124, XK_Right},
        {125, XK_Down},
        {126, XK_Up},
    };
    return table;
}

} // namespace

quint32 keysymForKeyCode(quint32 macKeyCode) {
    const auto it = keysymTable().find(macKeyCode);
    return it == keysymTable().end() ? 0 : it->second;
}

std::optional<quint32> keyCodeForKeysym(quint32 keysym) {
    for (const auto& [code, symbol] : keysymTable())
        if (symbol == keysym) return code;
    return std::nullopt;
}

namespace {

int suspensions = 0;
// Counts suspensions from the first: an answer that comes after its
// suspension ended is not this one's.
quint64 suspensionNumber = 0;
SuspendedKeys keysNow = SuspendedKeys::asking;
// KDE's shortcut daemon was asked to set its shortcuts aside and not yet to
// take them back.
bool desktopSetAside = false;
// The file that says so on disk (see keepSetAsideNote); none until set.
QByteArray notePath;

QDBusMessage blockingCall(bool block) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.kglobalaccel"), QStringLiteral("/kglobalaccel"),
        QStringLiteral("org.kde.KGlobalAccel"), QStringLiteral("blockGlobalShortcuts"));
    call << block;
    // Asked only where it runs: never started for this.
    call.setAutoStartService(false);
    return call;
}

// The daemon took the call, or does not run (and so holds nothing aside).
bool settled(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ReplyMessage || Portal::serviceAbsent(reply);
}

// Whether a note (a regular file, never what a link names) is at its place.
bool noteLeft() {
    struct stat info {};
    return !notePath.isEmpty() && ::lstat(notePath.constData(), &info) == 0 &&
           S_ISREG(info.st_mode);
}

// Written before the daemon is asked, so that a kill at any moment after
// leaves it behind. Never follows a link put in its place.
void writeNote() {
    if (notePath.isEmpty()) return;
    const int fd = ::open(notePath.constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        static const char line[] = "The desktop's global shortcuts are set aside\n";
        [[maybe_unused]] const ssize_t written = ::write(fd, line, sizeof line - 1);
    }
    ::close(fd);
}

// Only once the shortcuts are back, and not when a new suspension set them
// aside again meanwhile.
void removeNote() {
    if (!desktopSetAside && noteLeft()) ::unlink(notePath.constData());
}

void answered(SuspendedKeys keys) {
    keysNow = keys;
    emit dispatcher().suspensionAnswered();
}

void setDesktopShortcutsAside() {
    const quint64 number = ++suspensionNumber;
    keysNow = SuspendedKeys::asking;
    const auto settle = [number](bool setAside) {
        if (number != suspensionNumber || suspensions == 0) return;
        if (!setAside) {
            desktopSetAside = false;
            removeNote();
        }
        answered(setAside || backend().grabTakesEveryKey() ? SuspendedKeys::reach
                                                           : SuspendedKeys::desktopKeepsSome);
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QMetaObject::invokeMethod(&dispatcher(), [settle] { settle(false); },
                                  Qt::QueuedConnection);
        return;
    }
    desktopSetAside = true;
    writeNote();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(blockingCall(true)), &dispatcher());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &dispatcher(),
                     [watcher, settle] {
                         watcher->deleteLater();
                         settle(!watcher->isError());
                     });
}

// Once the program is on its way out, the call goes out before anything
// else ends (an asynchronous one might never leave): the desktop answers at
// once, and a second is the most it may take. The note goes once the
// daemon has answered; a call that got no answer leaves it for the next
// start. Quitting also waits for an answer still on its way: Qt closes the
// windows first, and a recorder that closes with them asks before.
int answersAwaited = 0;

// Asks the daemon for the shortcuts back without waiting; the note goes once
// it has answered. `awaited`: quitting waits for this answer too.
void askBack(bool awaited) {
    if (awaited) ++answersAwaited;
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(blockingCall(false)), &dispatcher());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &dispatcher(),
                     [watcher, awaited] {
                         watcher->deleteLater();
                         if (awaited) --answersAwaited;
                         if (settled(watcher->reply())) removeNote();
                     });
}

void takeDesktopShortcutsBack(bool quitting) {
    const bool setAside = std::exchange(desktopSetAside, false);
    if (!(setAside || (quitting && answersAwaited > 0)) ||
        !QDBusConnection::sessionBus().isConnected())
        return;
    if (quitting) {
        if (settled(QDBusConnection::sessionBus().call(blockingCall(false), QDBus::Block, 1000)))
            removeNote();
        return;
    }
    askBack(true);
}

void suspend() {
    if (suspensions++ > 0) return;
    backend().suspensionChanged();
    static const bool watchingQuit = [] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, &dispatcher(),
                             [] { takeDesktopShortcutsBack(true); });
        return true;
    }();
    (void)watchingQuit;
    setDesktopShortcutsAside();
}

void resume() {
    if (suspensions == 0) return;
    if (--suspensions > 0) return;
    takeDesktopShortcutsBack(QCoreApplication::closingDown() ||
                             !QCoreApplication::instance());
    backend().suspensionChanged();
}

} // namespace

void keepSetAsideNote(const QString& path) {
    notePath = QFile::encodeName(path);
    if (!noteLeft() || !QDBusConnection::sessionBus().isConnected()) return;
    // Left by a run that ended while the shortcuts were aside: the daemon
    // keeps no owner for the request, so nobody else gives them back.
    askBack(false);
}

Suspension::Suspension() { suspend(); }

Suspension::~Suspension() { resume(); }

bool isSuspended() { return suspensions > 0; }

SuspendedKeys suspendedKeys() { return suspensions > 0 ? keysNow : SuspendedKeys::asking; }

QString metaKeyName() {
    const bool kde = qEnvironmentVariable("XDG_CURRENT_DESKTOP")
                         .split(QLatin1Char(':'))
                         .contains(QLatin1String("KDE"), Qt::CaseInsensitive);
    return kde ? QStringLiteral("Meta") : QStringLiteral("Super");
}

QString portalTrigger(quint32 macKeyCode, quint32 carbonModifiers) {
    const quint32 keysym = keysymForKeyCode(macKeyCode);
    const char* name = keysym ? XKeysymToString(keysym) : nullptr;
    if (!name) return {};
    QString trigger;
    if (carbonModifiers & carbonCommand) trigger += QLatin1String("CTRL+");
    if (carbonModifiers & carbonOption) trigger += QLatin1String("ALT+");
    if (carbonModifiers & carbonShift) trigger += QLatin1String("SHIFT+");
    if (carbonModifiers & carbonControl) trigger += QLatin1String("LOGO+");
    return trigger + QString::fromLatin1(name);
}

int registerHotKey(quint32 macKeyCode, quint32 carbonModifiers, quint32 id,
                   const QString& description) {
    return backend().registerHotKey(macKeyCode, carbonModifiers, id, description);
}

void unregisterHotKey(quint32 id) { backend().unregisterHotKey(id); }

DesktopState desktopState(quint32 id) { return backend().state(id); }

bool desktopDecides() { return backend().desktopDecides(); }

bool lacksShortcuts() { return backend().lacksShortcuts(); }

void Backend::afterRelease(int, QObject*, std::function<void(Release)> then) {
    then(Release::unreported);
}

void afterRelease(int boundMs, QObject* context, std::function<void(Release)> then) {
    backend().afterRelease(boundMs, context, std::move(then));
}

} // namespace GlobalHotKey
