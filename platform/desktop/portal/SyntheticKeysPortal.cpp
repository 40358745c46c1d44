// The portal backend of SyntheticKeys: one RemoteDesktop session with a
// keyboard, keysyms through NotifyKeyboardKeysym.
#include "platform/desktop/SyntheticKeys.h"

#include "platform/desktop/GlobalHotKey.h"
#include "platform/desktop/portal/Portal.h"
#include "platform/keychain/Keychain.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QList>
#include <deque>
#include <memory>

#include <X11/keysym.h>

namespace SyntheticKeys {
namespace {

const QString interface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
// Device types: 1 keyboard, 2 pointer, 4 touchscreen.
constexpr uint keyboard = 1;
// Persist mode 2: until the user revokes it.
constexpr uint persistUntilRevoked = 2;

// How long typing waits for the hotkey that led to it to be let go: a
// person's press lasts a tenth of a second or so.
constexpr int releaseWaitMs = 1000;

// The modifiers a hand may still hold when typing starts. The desktop tells
// when a hotkey's last key goes up, not its modifiers, which people let go
// a moment later, and no program on Wayland can read the keyboard's state:
// they are let go through the desktop before the first key, which the
// compositor applies to its one keyboard state, so a Control still held
// turns no digit into Control+digit.
constexpr quint32 modifierKeysyms[] = {XK_Control_L, XK_Control_R, XK_Alt_L,
                                       XK_Alt_R,     XK_Shift_L,   XK_Shift_R,
                                       XK_Super_L,   XK_Super_R,   XK_ISO_Level3_Shift};

Keychain::Query tokenQuery() {
    Keychain::Query query;
    query.service = restoreTokenService;
    query.account = restoreTokenAccount;
    return query;
}

// Read and written only here; a keychain that is locked or missing gives no
// token, and the desktop asks the user again.
QString storedToken() {
    Keychain::Query query = tokenQuery();
    query.returnData = true;
    Keychain::Results results;
    if (Keychain::copyMatching(query, &results) != Keychain::success || results.isEmpty())
        return {};
    return QString::fromUtf8(results.first().data);
}

void storeToken(const QString& token) {
    if (token.isEmpty()) return;
    Keychain::Item item;
    item.service = restoreTokenService;
    item.account = restoreTokenAccount;
    item.label = QStringLiteral("Quillet: permission to type");
    item.data = token.toUtf8();
    Keychain::upsert({{tokenQuery(), item}});
}

struct Pending {
    std::vector<quint32> keysyms;
    Done done;
};

class PortalBackend : public QObject, public Backend {
    Q_OBJECT

public:
    Remote remote() const override { return m_state; }
    void startRemote() override { start(); }
    // Typing starts once the hotkey that led here is let go: while its keys
    // are down the window in front would get other characters, or none.
    void type(const QString& text, Done done) override {
        std::vector<quint32> keysyms;
        for (const char32_t c : text.toUcs4())
            keysyms.push_back(keysymFor(c));
        GlobalHotKey::afterRelease(releaseWaitMs, this,
                                   [this, keysyms = std::move(keysyms),
                                    done = std::move(done)](GlobalHotKey::Release release) {
                                       if (release == GlobalHotKey::Release::held) {
                                           if (done) done(Outcome::keysHeld);
                                           return;
                                       }
                                       send({keysyms, done});
                                   });
    }
    // Nothing goes out before this returns: the desktop answers later.
    bool typeNow(const QString&) override { return false; }

public slots:
    // The desktop ended the session (the user revoked it): the next keys
    // open a new one.
    void closed() {
        m_session.clear();
        if (m_state == Remote::ready) m_state = Remote::notAsked;
    }

private:
    void start() {
        if (m_state == Remote::starting || m_state == Remote::ready) return;
        m_state = Remote::starting;
        Portal::version(interface, this, [this](uint version) {
            if (version == 0) {
                fail();
                return;
            }
            m_version = version;
            const QVariantMap options{{QStringLiteral("session_handle_token"), Portal::token()}};
            Portal::request(interface, QStringLiteral("CreateSession"), {}, options, this,
                            [this](uint response, const QVariantMap& results) {
                                if (response != Portal::success) {
                                    fail();
                                    return;
                                }
                                m_session = Portal::sessionHandle(results);
                                QDBusConnection::sessionBus().connect(
                                    Portal::service, m_session,
                                    QStringLiteral("org.freedesktop.portal.Session"),
                                    QStringLiteral("Closed"), this, SLOT(closed()));
                                selectDevices();
                            });
        });
    }

    // Sends the keysyms once the session is ready, each pressed and released
    // in turn. `done` hears whether they went out.
    void send(Pending pending) {
        if (m_state == Remote::unavailable) {
            if (pending.done) pending.done(Outcome::refused);
            return;
        }
        if (m_state != Remote::ready) {
            m_queue.push_back(std::move(pending));
            start();
            return;
        }
        notify(pending);
    }

    void selectDevices() {
        QVariantMap options{{QStringLiteral("types"), keyboard}};
        if (m_version >= 2) {
            options.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
            const QString token = storedToken();
            if (!token.isEmpty()) options.insert(QStringLiteral("restore_token"), token);
        }
        Portal::request(interface, QStringLiteral("SelectDevices"),
                        {QVariant::fromValue(QDBusObjectPath(m_session))}, options, this,
                        [this](uint response, const QVariantMap&) {
                            if (response != Portal::success) {
                                fail();
                                return;
                            }
                            Portal::request(
                                interface, QStringLiteral("Start"),
                                {QVariant::fromValue(QDBusObjectPath(m_session)), QString()}, {},
                                this, [this](uint response, const QVariantMap& results) {
                                    started(response, results);
                                });
                        });
    }

    void started(uint response, const QVariantMap& results) {
        const uint devices = results.value(QStringLiteral("devices")).toUInt();
        if (response != Portal::success || (results.contains(QStringLiteral("devices")) &&
                                            (devices & keyboard) == 0)) {
            fail();
            return;
        }
        // A new token replaces the old one: tokens are good for one use.
        storeToken(results.value(QStringLiteral("restore_token")).toString());
        m_state = Remote::ready;
        std::vector<Pending> queue;
        queue.swap(m_queue);
        for (const Pending& pending : queue)
            notify(pending);
    }

    void fail() {
        Portal::closeSession(m_session);
        m_session.clear();
        m_state = Remote::unavailable;
        std::vector<Pending> queue;
        queue.swap(m_queue);
        for (const Pending& pending : queue)
            if (pending.done) pending.done(Outcome::refused);
    }

    // `done` hears of the last event's answer, and of any refusal before it.
    void notify(const Pending& pending) {
        std::vector<std::pair<quint32, uint>> events;
        if (!pending.keysyms.empty())
            for (quint32 modifier : modifierKeysyms)
                events.push_back({modifier, 0});
        for (quint32 keysym : pending.keysyms) {
            events.push_back({keysym, 1});
            events.push_back({keysym, 0});
        }
        if (events.empty()) {
            if (pending.done) pending.done(Outcome::sent);
            return;
        }
        auto failed = std::make_shared<bool>(false);
        for (std::size_t i = 0; i < events.size(); ++i)
            m_events.push_back({events[i].first, events[i].second, failed,
                                i + 1 == events.size() ? pending.done : Done()});
        if (!m_sending) sendNext();
    }

    // One event at a time, each after the answer to the one before: the
    // portal handles calls side by side, so events sent together reach the
    // compositor out of order, and a window sees digits swapped or a key
    // held down (and repeating) after its release.
    void sendNext() {
        if (m_events.empty()) {
            m_sending = false;
            return;
        }
        m_sending = true;
        const Event event = m_events.front();
        m_events.pop_front();
        QDBusMessage call = QDBusMessage::createMethodCall(
            Portal::service, Portal::path, interface, QStringLiteral("NotifyKeyboardKeysym"));
        call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap()
             << int(event.keysym) << event.state;
        auto* watcher =
            new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, event] {
            watcher->deleteLater();
            if (watcher->isError()) *event.failed = true;
            if (event.done) event.done(*event.failed ? Outcome::refused : Outcome::sent);
            sendNext();
        });
    }

    struct Event {
        quint32 keysym;
        uint state;
        std::shared_ptr<bool> failed;
        Done done; // set on a sequence's last event
    };
    Remote m_state = Remote::notAsked;
    std::deque<Event> m_events;
    bool m_sending = false;
    QString m_session;
    uint m_version = 0;
    std::vector<Pending> m_queue;
};

} // namespace

Backend& portalBackend() { return backendInstance<PortalBackend>(); }

} // namespace SyntheticKeys

#include "SyntheticKeysPortal.moc"
