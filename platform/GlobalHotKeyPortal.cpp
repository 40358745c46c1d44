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
// its combination: a binding that moves to other keys asks for another id,
// and a combination used before finds its own keys again.
#include "platform/GlobalHotKey.h"

#include "platform/Portal.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QHash>
#include <QList>
#include <QTimer>
#include <algorithm>

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

QString text(const char* words) { return QCoreApplication::translate("GlobalHotKey", words); }

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
        return m_answers.value(entry->trigger);
    }

    bool desktopDecides() const override { return true; }
    bool lacksShortcuts() const override { return m_lacking; }

public slots:
    void activated(const QDBusObjectPath& session, const QString& shortcutID, qulonglong,
                   const QVariantMap&) {
        if (session.path() != m_session || isSuspended()) return;
        for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
            if (it->trigger == shortcutID) {
                emit dispatcher().pressed(it.key());
                return;
            }
    }

    // The user gave a shortcut other keys, or took them away, in the
    // desktop's settings: (session, shortcuts).
    void shortcutsChanged(const QDBusMessage& message) {
        const QVariantList arguments = message.arguments();
        if (arguments.size() < 2 ||
            qdbus_cast<QDBusObjectPath>(arguments.at(0)).path() != m_session)
            return;
        if (take(shortcutsOf(arguments.at(1)))) emit dispatcher().desktopAnswered();
    }

private:
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
            // Nothing to ask for: the desktop keeps the keys for the next time.
            m_bound.clear();
            m_answers.clear();
            Portal::closeSession(std::exchange(m_session, QString()), this, [this] {
                m_busy = false;
                if (m_dirty) sync();
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
                            done();
                        });
    }

    // The desktop's word on shortcuts of the bound list; true when a state
    // changed.
    bool take(const QList<PortalShortcut>& shortcuts) {
        bool changed = false;
        for (const PortalShortcut& shortcut : shortcuts) {
            if (!m_answers.contains(shortcut.id)) continue;
            const QString keys = shortcut.properties.value(triggerKey).toString();
            const DesktopState state =
                keys.isEmpty()
                    ? DesktopState{DesktopState::Kind::inactive, {},
                                   text("The desktop gave it no keys; choose them in its shortcut "
                                        "settings")}
                    : DesktopState{DesktopState::Kind::active, keys, {}};
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
    }

    void listen() {
        if (m_listening) return;
        QDBusConnection bus = QDBusConnection::sessionBus();
        m_listening =
            bus.connect(Portal::service, Portal::path, interface, QStringLiteral("Activated"), this,
                        SLOT(activated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        bus.connect(Portal::service, Portal::path, interface, QStringLiteral("ShortcutsChanged"),
                    this, SLOT(shortcutsChanged(QDBusMessage)));
    }

    QHash<quint32, Entry> m_entries;
    QString m_session;
    QList<PortalShortcut> m_bound;
    QHash<QString, DesktopState> m_answers;
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
