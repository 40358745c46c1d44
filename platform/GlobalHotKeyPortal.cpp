#include "platform/GlobalHotKeyPortal.h"

#include "platform/Portal.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
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

namespace GlobalHotKey::PortalShortcuts {
namespace {

const QString interface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
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
    QString name;
    QString description;
    QString trigger;
};

class Session : public QObject {
    Q_OBJECT

public:
    Session() {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
    }

    QHash<quint32, Entry> entries;
    bool lacking = false;

    // Changes of one turn of the event loop go to the desktop together.
    void schedule() {
        if (m_scheduled) return;
        m_scheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_scheduled = false;
            sync();
        });
    }

    DesktopState state(quint32 id) const {
        const auto entry = entries.constFind(id);
        if (entry == entries.cend()) return {};
        if (lacking)
            return {DesktopState::Kind::inactive, {},
                    text("This desktop offers no global hotkeys to programs")};
        // Only what the desktop said about this very combination counts.
        if (!m_bound.contains(shortcut(*entry))) return {};
        return m_answers.value(entry->name);
    }

public slots:
    void activated(const QDBusObjectPath& session, const QString& name, qulonglong,
                   const QVariantMap&) {
        if (session.path() != m_session || isSuspended()) return;
        for (auto it = entries.cbegin(); it != entries.cend(); ++it)
            if (it->name == name) {
                emit dispatcher().pressed(it.key());
                return;
            }
    }

private:
    static PortalShortcut shortcut(const Entry& entry) {
        return {entry.name, {{descriptionKey, entry.description}, {preferredKey, entry.trigger}}};
    }

    QList<PortalShortcut> wanted() const {
        QList<PortalShortcut> list;
        for (const Entry& entry : entries)
            list << shortcut(entry);
        std::sort(list.begin(), list.end(),
                  [](const PortalShortcut& a, const PortalShortcut& b) { return a.id < b.id; });
        // One shortcut per identifier: the first registration of a name wins.
        list.erase(std::unique(list.begin(), list.end(),
                               [](const PortalShortcut& a, const PortalShortcut& b) {
                                   return a.id == b.id;
                               }),
                   list.end());
        return list;
    }

    void sync() {
        if (m_busy) {
            m_dirty = true;
            return;
        }
        m_dirty = false;
        // A portal without shortcuts is asked again at the next change: a
        // restarted portal may have them.
        if (!m_checked || lacking) {
            m_busy = true;
            Portal::version(interface, this, [this](uint version) {
                m_checked = true;
                lacking = version == 0;
                m_busy = false;
                if (lacking) {
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
        // The whole list anew in a new session: the desktops that read the
        // shortcuts only when the session is created (KDE Plasma 5.27) would
        // not see a change otherwise.
        Portal::closeSession(m_session);
        m_session.clear();
        m_bound.clear();
        m_answers.clear();
        if (list.isEmpty()) return;
        m_busy = true;
        listenForPresses();
        const QVariantMap options{
            {QStringLiteral("session_handle_token"), Portal::token()},
            {QStringLiteral("shortcuts"), QVariant::fromValue(list)},
        };
        Portal::request(interface, QStringLiteral("CreateSession"), {}, options, this,
                        [this, list](uint response, const QVariantMap& results) {
                            if (response != Portal::success) {
                                finish(list, response, {});
                                return;
                            }
                            m_session = Portal::sessionHandle(results);
                            bind(list, results);
                        });
    }

    void bind(const QList<PortalShortcut>& list, const QVariantMap& created) {
        Portal::request(
            interface, QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(list),
             QString()},
            {}, this, [this, list, created](uint response, const QVariantMap& results) {
                // A desktop that took the list with the session may answer
                // the binding without one; then the session's answer stands.
                const QString key = QStringLiteral("shortcuts");
                if (response == Portal::success && !results.contains(key) &&
                    created.contains(key))
                    finish(list, response, created.value(key));
                else
                    finish(list, response, results.value(key));
            });
    }

    void finish(const QList<PortalShortcut>& list, uint response, const QVariant& answered) {
        m_busy = false;
        m_bound = list;
        m_answers.clear();
        QHash<QString, QString> triggers;
        bool listed = false;
        for (const PortalShortcut& shortcut : shortcutsOf(answered)) {
            triggers.insert(shortcut.id, shortcut.properties.value(triggerKey).toString());
            listed = true;
        }
        for (const PortalShortcut& shortcut : list) {
            DesktopState state{DesktopState::Kind::inactive, {}, {}};
            if (response == Portal::cancelled)
                state.reason = text("The desktop refused the hotkeys");
            else if (response != Portal::success || !listed)
                state.reason = text("The desktop could not set up the hotkeys");
            else if (!triggers.contains(shortcut.id))
                state.reason = text("The desktop did not accept this combination");
            else if (triggers.value(shortcut.id).isEmpty())
                state.reason =
                    text("The desktop gave it no keys; choose them in its shortcut settings");
            else
                state = {DesktopState::Kind::active, triggers.value(shortcut.id), {}};
            m_answers.insert(shortcut.id, state);
        }
        emit dispatcher().desktopAnswered();
        if (m_dirty) sync();
    }

    void listenForPresses() {
        if (m_listening) return;
        m_listening = QDBusConnection::sessionBus().connect(
            Portal::service, Portal::path, interface, QStringLiteral("Activated"), this,
            SLOT(activated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    }

    QString m_session;
    QList<PortalShortcut> m_bound;
    QHash<QString, DesktopState> m_answers;
    bool m_scheduled = false;
    bool m_busy = false;
    bool m_dirty = false;
    bool m_checked = false;
    bool m_listening = false;
};

Session& session() {
    // Lives as long as the program: the desktop keeps the shortcuts while
    // the session is open.
    static Session* instance = new Session;
    return *instance;
}

} // namespace

void add(quint32 id, const QString& name, const QString& description, const QString& trigger) {
    session().entries.insert(id, {name, description, trigger});
    session().schedule();
}

void remove(quint32 id) {
    if (session().entries.remove(id)) session().schedule();
}

DesktopState state(quint32 id) { return session().state(id); }

bool lacking() { return session().lacking; }

} // namespace GlobalHotKey::PortalShortcuts

#include "GlobalHotKeyPortal.moc"
