// The portal backend of GlobalHotKey: one GlobalShortcuts session for the
// program, holding every registered combination.
//
// Who the shortcuts belong to must be the same on every start and after
// every change, or the desktop keeps the keys with an owner that no longer
// asks for them. KDE Plasma 5.27 (xdg-desktop-portal 1.16 cannot tell the
// desktop which program calls) names the owner after the session's token, so
// the session always has the same token; it keeps each shortcut's keys under
// the shortcut's id for good, also once the shortcut is no longer asked for,
// and prefers the keys it kept over the ones asked for. So a shortcut's id is
// its combination: a binding that moves to other keys asks for another id.
// Kept for good, the old ids would still hold their keys, which KDE then
// lists as this program's and gives no other program: where KDE's shortcut
// daemon runs, every shortcut of the component that is no longer asked for
// is taken out of its record once the desktop has the new list.
//
// KDE's portal also answers with the keys asked for when another shortcut
// holds them and the desktop gave ours none (Meta+D, Show Desktop), in the
// binding's answer and in ListShortcuts alike. Where KDE's shortcut daemon
// runs, the keys each shortcut really has are read from its record of the
// component; elsewhere the portal's answer is all there is.
#include "platform/desktop/GlobalHotKey.h"

#include "platform/desktop/portal/Portal.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QHash>
#include <QKeySequence>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace {

// One element of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcut {
    QString id;
    QVariantMap properties;

    friend bool operator==(const PortalShortcut&, const PortalShortcut&) = default;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace GlobalHotKey {
namespace {

const QString interface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString shortcutsKey = QStringLiteral("shortcuts");
const QString descriptionKey = QStringLiteral("description");
const QString preferredKey = QStringLiteral("preferred_trigger");
const QString triggerKey = QStringLiteral("trigger_description");

// KDE's shortcut daemon (kglobalaccel).
const QString accelService = QStringLiteral("org.kde.kglobalaccel");
const QString accelPath = QStringLiteral("/kglobalaccel");
const QString accelInterface = QStringLiteral("org.kde.KGlobalAccel");
const QString componentInterface = QStringLiteral("org.kde.kglobalaccel.Component");

QString text(const char* words) { return QCoreApplication::translate("GlobalHotKey", words); }

DesktopState noKeys() {
    return {DesktopState::Kind::inactive, {},
            text("The desktop gave it no keys; choose them in its shortcut settings")};
}

// A shortcut's keys as the daemon writes them, for people: one int per key
// sequence (ai), or each sequence as its up to four chords (a(ai)); empty
// for none, nothing for a form not known here.
std::optional<QString> keysText(const QDBusArgument& argument) {
    const QString form = argument.currentSignature();
    if (form != QLatin1String("ai") && form != QLatin1String("a(ai)")) return std::nullopt;
    QStringList keys;
    argument.beginArray();
    while (!argument.atEnd()) {
        QList<int> chords;
        if (form == QLatin1String("ai")) {
            int key = 0;
            argument >> key;
            chords << key;
        } else {
            argument.beginStructure();
            argument >> chords;
            argument.endStructure();
        }
        const QKeySequence sequence(chords.value(0), chords.value(1), chords.value(2),
                                    chords.value(3));
        if (!sequence.isEmpty()) keys << sequence.toString(QKeySequence::NativeText);
    }
    argument.endArray();
    return keys.join(QStringLiteral(", "));
}

// The answer of a component's allShortcutInfos: each shortcut's id and the
// keys it holds now (its first and its seventh field).
std::optional<QHash<QString, QString>> heldKeys(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage ||
        !reply.signature().startsWith(QLatin1String("a(ssssss")))
        return std::nullopt;
    const QDBusArgument infos = reply.arguments().value(0).value<QDBusArgument>();
    QHash<QString, QString> held;
    infos.beginArray();
    while (!infos.atEnd()) {
        QString id, name;
        infos.beginStructure();
        infos >> id;
        for (int field = 0; field < 5; ++field)
            infos >> name;
        const std::optional<QString> keys = keysText(infos);
        infos.endStructure();
        if (!keys) return std::nullopt;
        held.insert(id, *keys);
    }
    infos.endArray();
    return held;
}

QList<PortalShortcut> shortcutsOf(const QVariant& value) {
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QList<PortalShortcut>>(value.value<QDBusArgument>());
    return value.value<QList<PortalShortcut>>();
}

struct Entry {
    QString description;
    QString trigger; // also the shortcut's id
};

class PortalBackend : public QObject, public Backend {
    Q_OBJECT

public:
    PortalBackend() {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
    }

    int registerHotKey(quint32 macKeyCode, quint32 carbonModifiers, quint32 id,
                       const QString& description) override {
        const QString trigger = portalTrigger(macKeyCode, carbonModifiers);
        if (trigger.isEmpty()) return unknownKey;
        m_entries.insert(id, {description.isEmpty() ? trigger : description, trigger});
        schedule();
        return pending;
    }

    void unregisterHotKey(quint32 id) override {
        if (m_entries.remove(id)) schedule();
    }

    DesktopState state(quint32 id) const override {
        const auto entry = m_entries.constFind(id);
        if (entry == m_entries.cend()) return {};
        if (m_lacking)
            return {DesktopState::Kind::inactive, {},
                    text("This desktop offers no global hotkeys to programs")};
        // Only what the desktop said about this very shortcut counts.
        if (!m_bound.contains(shortcut(*entry))) return {};
        const DesktopState answer = m_answers.value(entry->trigger);
        if (!m_accepted.contains(entry->trigger)) return answer;
        switch (m_record) {
        case Record::pending:
            return {};
        case Record::absent:
            return answer;
        case Record::read: {
            const QString keys = m_held.value(entry->trigger);
            if (keys.isEmpty()) return noKeys();
            return {DesktopState::Kind::active, keys, {}};
        }
        case Record::unreadable:
            if (answer.kind != DesktopState::Kind::active) return answer;
            return {DesktopState::Kind::unconfirmed, answer.trigger,
                    text("Its own list of shortcuts could not be read to check the keys.")};
        }
        return answer;
    }

    bool desktopDecides() const override { return true; }
    bool lacksShortcuts() const override { return m_lacking; }
    // The compositor sees every key before any program, and keeps the
    // combinations bound to shortcuts.
    bool grabTakesEveryKey() const override { return false; }

    void afterRelease(int boundMs, QObject* context, std::function<void(Release)> then) override {
        if (m_down.isEmpty()) {
            then(Release::up);
            return;
        }
        const quint64 number = ++m_waiterNumber;
        m_waiters.push_back({number, context, std::move(then)});
        QTimer::singleShot(boundMs, this, [this, number] {
            const auto waiter =
                std::find_if(m_waiters.begin(), m_waiters.end(),
                             [number](const Waiter& w) { return w.number == number; });
            if (waiter == m_waiters.end()) return;
            const Waiter ended = std::move(*waiter);
            m_waiters.erase(waiter);
            // A release lost on the way (a session replaced meanwhile)
            // must not hold back every later wait.
            m_down.clear();
            if (ended.context) ended.then(m_reportsReleases ? Release::held : Release::unreported);
        });
    }

public slots:
    void activated(const QDBusObjectPath& session, const QString& shortcutID, qulonglong,
                   const QVariantMap&) {
        if (session.path() != m_session) return;
        m_down.insert(shortcutID);
        if (isSuspended()) return;
        for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
            if (it->trigger == shortcutID) {
                emit dispatcher().pressed(it.key());
                return;
            }
    }

    void deactivated(const QDBusObjectPath& session, const QString& shortcutID, qulonglong,
                     const QVariantMap&) {
        if (session.path() != m_session) return;
        m_reportsReleases = true;
        if (!m_down.remove(shortcutID) || !m_down.isEmpty()) return;
        std::vector<Waiter> waiters;
        waiters.swap(m_waiters);
        for (const Waiter& waiter : waiters)
            if (waiter.context) waiter.then(Release::up);
    }

    // The user gave a shortcut other keys, or took them away, in the
    // desktop's settings: (session, shortcuts).
    void shortcutsChanged(const QDBusMessage& message) {
        const QVariantList arguments = message.arguments();
        if (arguments.size() < 2 ||
            qdbus_cast<QDBusObjectPath>(arguments.at(0)).path() != m_session)
            return;
        // KDE's portal tells of keys given in KDE's settings here too; its
        // record says which ones the shortcuts really hold.
        const bool changed = take(shortcutsOf(arguments.at(1)));
        if (!recheck() && changed) emit dispatcher().desktopAnswered();
    }

private:
    // KDE's shortcut daemon's record of the session's component: being read
    // (after a binding), not running, read, or running but not readable.
    enum class Record { pending, absent, read, unreadable };

    static PortalShortcut shortcut(const Entry& entry) {
        return {entry.trigger,
                {{descriptionKey, entry.description}, {preferredKey, entry.trigger}}};
    }

    QList<PortalShortcut> wanted() const {
        QList<PortalShortcut> list;
        for (const Entry& entry : m_entries)
            list << shortcut(entry);
        std::sort(list.begin(), list.end(), [](const PortalShortcut& a, const PortalShortcut& b) {
            return a.id < b.id;
        });
        // One shortcut per combination.
        list.erase(std::unique(list.begin(), list.end(),
                               [](const PortalShortcut& a, const PortalShortcut& b) {
                                   return a.id == b.id;
                               }),
                   list.end());
        return list;
    }

    // Changes of one turn of the event loop go to the desktop together.
    void schedule() {
        if (m_scheduled) return;
        m_scheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_scheduled = false;
            sync();
        });
    }

    void sync() {
        if (m_busy) {
            m_dirty = true;
            return;
        }
        m_dirty = false;
        // A portal without shortcuts is asked again at the next change: a
        // restarted portal may have them.
        if (!m_checked || m_lacking) {
            m_busy = true;
            Portal::version(interface, this, [this](uint version) {
                m_checked = true;
                m_lacking = version == 0;
                m_busy = false;
                if (m_lacking) {
                    emit dispatcher().desktopAnswered();
                    if (m_dirty) schedule();
                    return;
                }
                sync();
            });
            return;
        }
        const QList<PortalShortcut> list = wanted();
        if (list == m_bound && (!m_session.isEmpty() || list.isEmpty())) return;
        m_busy = true;
        if (list.isEmpty()) {
            // Nothing to ask for: no session.
            m_bound.clear();
            m_answers.clear();
            m_accepted.clear();
            Portal::closeSession(std::exchange(m_session, QString()), this, [this] {
                // Every key goes back: nothing is asked for now.
                readRecord([this] {
                    giveBack([this] {
                        m_busy = false;
                        if (m_dirty) sync();
                    });
                });
            });
            return;
        }
        listen();
        if (!m_session.isEmpty() && m_bindsOpenSessions) {
            bind(list);
            return;
        }
        // A desktop that reads the shortcuts only when a session is created
        // (KDE Plasma 5.27) hears of a change through a new session. It
        // takes the old one's place under the same token, once that is gone.
        if (!m_session.isEmpty()) {
            const QString old = std::exchange(m_session, QString());
            Portal::closeSession(old, this, [this, list] { create(list); });
            return;
        }
        create(list);
    }

    void create(const QList<PortalShortcut>& list) {
        const QVariantMap options{
            {QStringLiteral("session_handle_token"), Portal::sessionToken()},
            {shortcutsKey, QVariant::fromValue(list)},
        };
        Portal::request(interface, QStringLiteral("CreateSession"), {}, options, this,
                        [this, list](uint response, const QVariantMap& results) {
                            // A portal that names the interface but cannot
                            // give it a session (KDE's backend outside
                            // Plasma, which has no shortcut daemon to hand
                            // the keys to) offers no hotkeys, as one
                            // without it; it is asked again at the next
                            // change. Refused by the user is not that.
                            if (response != Portal::success && response != Portal::cancelled) {
                                m_lacking = true;
                                m_bound.clear();
                                m_answers.clear();
                                m_accepted.clear();
                                done();
                                return;
                            }
                            if (response != Portal::success) {
                                finish(list, response, {});
                                return;
                            }
                            m_session = Portal::sessionHandle(results);
                            // A list in the session's answer, even one
                            // without some of the combinations: the desktop
                            // took the list with the session, and would not
                            // take it in BindShortcuts (KDE 5.27 opens its
                            // shortcut settings instead).
                            m_bindsOpenSessions = !results.contains(shortcutsKey);
                            if (m_bindsOpenSessions)
                                bind(list);
                            else
                                finish(list, response, results.value(shortcutsKey));
                        });
    }

    void bind(const QList<PortalShortcut>& list) {
        Portal::request(interface, QStringLiteral("BindShortcuts"),
                        {QVariant::fromValue(QDBusObjectPath(m_session)),
                         QVariant::fromValue(list), QString()},
                        {}, this, [this, list](uint response, const QVariantMap& results) {
                            finish(list, response, results.value(shortcutsKey));
                        });
    }

    void finish(const QList<PortalShortcut>& list, uint response, const QVariant& answered) {
        m_bound = list;
        m_answers.clear();
        m_accepted.clear();
        m_record = Record::pending;
        for (const PortalShortcut& shortcut : list) {
            DesktopState state{DesktopState::Kind::inactive, {}, {}};
            if (response == Portal::cancelled)
                state.reason = text("The desktop refused the hotkeys");
            else if (response != Portal::success || !answered.isValid())
                state.reason = text("The desktop could not set up the hotkeys");
            else
                state.reason = text("The desktop did not accept this combination");
            m_answers.insert(shortcut.id, state);
        }
        if (response != Portal::success || m_session.isEmpty()) {
            done();
            return;
        }
        take(shortcutsOf(answered));
        // What the desktop holds once the binding is over.
        Portal::request(interface, QStringLiteral("ListShortcuts"),
                        {QVariant::fromValue(QDBusObjectPath(m_session))}, {}, this,
                        [this](uint response, const QVariantMap& results) {
                            if (response == Portal::success && results.contains(shortcutsKey))
                                take(shortcutsOf(results.value(shortcutsKey)));
                            readRecord([this] { giveBack([this] { done(); }); });
                        });
    }

    // The shortcuts in KDE's record that the bound list no longer asks for
    // (a binding moved to other keys or went, quick search was switched
    // off, or so since the last start) are taken out of it: KDE keeps every
    // shortcut it was ever asked for with its keys, lists them as this
    // program's, and gives those keys to no other program. `then` runs once
    // the daemon has answered for each.
    void giveBack(const std::function<void()>& then) {
        QStringList stale;
        if (m_record == Record::read) {
            QSet<QString> asked;
            for (const PortalShortcut& shortcut : std::as_const(m_bound))
                asked.insert(shortcut.id);
            for (auto it = m_held.cbegin(); it != m_held.cend(); ++it)
                if (!asked.contains(it.key())) stale << it.key();
        }
        if (stale.isEmpty()) {
            then();
            return;
        }
        auto left = std::make_shared<qsizetype>(stale.size());
        for (const QString& id : std::as_const(stale)) {
            m_held.remove(id);
            QDBusMessage call = QDBusMessage::createMethodCall(accelService, accelPath,
                                                               accelInterface,
                                                               QStringLiteral("unregister"));
            call << Portal::sessionToken() << id;
            ask(call, [left, then](const QDBusMessage&) {
                if (--*left == 0) then();
            });
        }
    }

    // What KDE's shortcut daemon holds for the session's component, which
    // KDE names after the session's token; `then` runs once it is known.
    // The daemon is asked only where it runs, never started for this.
    void readRecord(const std::function<void()>& then) {
        m_recheck = false;
        QDBusMessage get = QDBusMessage::createMethodCall(accelService, accelPath, accelInterface,
                                                          QStringLiteral("getComponent"));
        get << Portal::sessionToken();
        ask(get, [this, then](const QDBusMessage& reply) {
            if (reply.type() != QDBusMessage::ReplyMessage) {
                settle(Portal::serviceAbsent(reply) ? Record::absent : Record::unreadable, {}, then);
                return;
            }
            const QString component = reply.arguments().value(0).value<QDBusObjectPath>().path();
            ask(QDBusMessage::createMethodCall(accelService, component, componentInterface,
                                               QStringLiteral("allShortcutInfos")),
                [this, then](const QDBusMessage& reply) {
                    const std::optional<QHash<QString, QString>> held = heldKeys(reply);
                    settle(held ? Record::read : Record::unreadable,
                           held.value_or(QHash<QString, QString>()), then);
                });
        });
    }

    void settle(Record record, const QHash<QString, QString>& held,
                const std::function<void()>& then) {
        m_record = record;
        m_held = held;
        then();
    }

    void ask(QDBusMessage message, std::function<void(const QDBusMessage&)> answered) {
        message.setAutoStartService(false);
        auto* watcher =
            new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, answered] {
            watcher->deleteLater();
            answered(watcher->reply());
        });
    }

    // The record may have changed: read it again once nothing else is under
    // way. True when an answer will follow.
    bool recheck() {
        if (m_busy) {
            m_recheck = true;
            return true;
        }
        if (m_session.isEmpty() || m_accepted.isEmpty()) return false;
        m_busy = true;
        readRecord([this] { done(); });
        return true;
    }

    // The desktop's word on shortcuts of the bound list; true when a state
    // changed.
    bool take(const QList<PortalShortcut>& shortcuts) {
        bool changed = false;
        for (const PortalShortcut& shortcut : shortcuts) {
            if (!m_answers.contains(shortcut.id)) continue;
            m_accepted.insert(shortcut.id);
            const QString keys = shortcut.properties.value(triggerKey).toString();
            const DesktopState state =
                keys.isEmpty() ? noKeys() : DesktopState{DesktopState::Kind::active, keys, {}};
            if (m_answers.value(shortcut.id) == state) continue;
            m_answers.insert(shortcut.id, state);
            changed = true;
        }
        return changed;
    }

    void done() {
        m_busy = false;
        emit dispatcher().desktopAnswered();
        if (m_dirty) sync();
        if (!m_busy && m_recheck) recheck();
    }

    void listen() {
        if (m_listening) return;
        QDBusConnection bus = QDBusConnection::sessionBus();
        m_listening =
            bus.connect(Portal::service, Portal::path, interface, QStringLiteral("Activated"), this,
                        SLOT(activated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        bus.connect(Portal::service, Portal::path, interface, QStringLiteral("Deactivated"), this,
                    SLOT(deactivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        bus.connect(Portal::service, Portal::path, interface, QStringLiteral("ShortcutsChanged"),
                    this, SLOT(shortcutsChanged(QDBusMessage)));
    }

    struct Waiter {
        quint64 number;
        QPointer<QObject> context;
        std::function<void(Release)> then;
    };

    QHash<quint32, Entry> m_entries;
    // The shortcuts the desktop reported pressed and not yet let go, and
    // whether it ever told of a release.
    QSet<QString> m_down;
    bool m_reportsReleases = false;
    std::vector<Waiter> m_waiters;
    quint64 m_waiterNumber = 0;
    QString m_session;
    QList<PortalShortcut> m_bound;
    QHash<QString, DesktopState> m_answers;
    // The shortcuts the desktop's answers named: it took them, with keys or
    // without.
    QSet<QString> m_accepted;
    Record m_record = Record::absent;
    // Shortcut id -> the keys the daemon's record gives it, empty for none.
    QHash<QString, QString> m_held;
    // The record is to be read again once the work under way is done.
    bool m_recheck = false;
    bool m_lacking = false;
    // Whether the desktop takes a list in BindShortcuts (later Plasma,
    // GNOME) rather than only with a session: learned from each session's
    // answer, which is the same for one desktop every time.
    bool m_bindsOpenSessions = false;
    bool m_scheduled = false;
    bool m_busy = false;
    bool m_dirty = false;
    bool m_checked = false;
    bool m_listening = false;
};

} // namespace

// Lives as long as the program: the desktop keeps the shortcuts while the
// session is open.
Backend& portalBackend() { return backendInstance<PortalBackend>(); }

} // namespace GlobalHotKey

#include "GlobalHotKeyPortal.moc"
