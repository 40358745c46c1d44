#include "system/CodesBusAdaptor.h"

#include "core/KeychainStore.h"
#include "core/SerialQueue.h"
#include "system/AppLockMac.h"
#include "system/GetCodeIntentMac.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QElapsedTimer>
#include <QPointer>

QDBusArgument& operator<<(QDBusArgument& argument, const CodesBusEntity& entity) {
    argument.beginStructure();
    argument << entity.identifier << entity.title;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, CodesBusEntity& entity) {
    argument.beginStructure();
    argument >> entity.identifier >> entity.title;
    argument.endStructure();
    return argument;
}

namespace {

QVariant onBus(const QList<AccountEntity>& entities) {
    QList<CodesBusEntity> list;
    for (const AccountEntity& entity : entities)
        list << CodesBusEntity{entity.id, entity.title};
    return QVariant::fromValue(list);
}

// Whether the caller still waits for the answer: still on the bus, and not
// waiting past a caller's usual patience. Asks the bus; any thread.
bool callerWaits(const QDBusConnection& bus, const QDBusMessage& call,
                 const QElapsedTimer& received) {
    if (received.hasExpired(CodesBusAdaptor::callerPatienceMs)) return false;
    if (call.service().isEmpty()) return true; // a peer-to-peer call: nobody to ask
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << call.service();
    const QDBusMessage owner = bus.call(ask, QDBus::Block, 2000);
    // No answer from the bus itself says nothing about the caller.
    return owner.type() != QDBusMessage::ReplyMessage || owner.arguments().value(0).toBool();
}

} // namespace

CodesBusAdaptor::CodesBusAdaptor(QObject* object, const QDBusConnection& bus,
                                 UserDefaults& defaults, const AppLockMac& lock)
    : QDBusAbstractAdaptor(object), m_bus(bus), m_defaults(defaults), m_lock(lock),
      m_reads(std::make_unique<SerialQueue>()) {
    qDBusRegisterMetaType<CodesBusEntity>();
    qDBusRegisterMetaType<QList<CodesBusEntity>>();
}

CodesBusAdaptor::~CodesBusAdaptor() = default;

QString CodesBusAdaptor::lockedMessage() {
    return QCoreApplication::translate("CodesBusAdaptor", "Quillet is locked.");
}

QString CodesBusAdaptor::busyMessage() {
    return QCoreApplication::translate("CodesBusAdaptor", "Quillet is busy.");
}

bool CodesBusAdaptor::isLocked() const { return m_lock.isEnabled() && m_lock.isLocked(); }

QList<CodesBusEntity> CodesBusAdaptor::Suggested(const QDBusMessage& call) {
    answerLater(call, Request::suggested, {});
    return {};
}

QList<CodesBusEntity> CodesBusAdaptor::Entities(const QStringList& identifiers,
                                                const QDBusMessage& call) {
    answerLater(call, Request::entities, identifiers);
    return {};
}

QList<CodesBusEntity> CodesBusAdaptor::DefaultResult(const QDBusMessage& call) {
    answerLater(call, Request::defaultResult, {});
    return {};
}

QString CodesBusAdaptor::GetCode(const QString& identifier, const QDBusMessage& call,
                                 QString& dialog) {
    answerLater(call, Request::getCode, {identifier});
    dialog.clear();
    return {};
}

void CodesBusAdaptor::answerLater(const QDBusMessage& call, Request request,
                                  const QStringList& arguments) {
    // The reply is sent by hand, now or from the worker's hand-back.
    call.setDelayedReply(true);
    QDBusConnection bus = m_bus;
    if (isLocked()) {
        bus.send(call.createErrorReply(lockedError, lockedMessage()));
        return;
    }
    if (m_inFlight >= maximumInFlight) {
        bus.send(call.createErrorReply(busyError, busyMessage()));
        return;
    }
    ++m_inFlight;
    QPointer<CodesBusAdaptor> self(this);
    QElapsedTimer received;
    received.start();

    m_reads->enqueue([self, request, arguments, call, bus, received] {
        std::optional<QList<Account>> active;
        QString failure;
        // A caller that is gone costs no keychain read.
        bool wanted = callerWaits(bus, call, received);
        if (wanted) {
            try {
                // Read after the call came: AutoFill stores each counter's
                // advance before it fills the code, so a counter is read past
                // every code filled before the call.
                active = AccountQuery::loadActive();
            } catch (const KeychainStore::KeychainError& error) {
                failure = error.message();
            }
            wanted = callerWaits(bus, call, received);
        }
        // Back on the GUI thread: the lock, the clipboard and the reply.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, request, arguments, call, bus, received, wanted, active = std::move(active),
             failure]() mutable {
                if (self) --self->m_inFlight;
                // Nothing copied for nobody.
                if (!self || !wanted || received.hasExpired(callerPatienceMs)) return;
                const auto answer = [&](const QDBusMessage& reply) { bus.send(reply); };
                // The lock may have closed while the keychain was read.
                if (self->isLocked())
                    return answer(call.createErrorReply(lockedError, lockedMessage()));
                if (!active) return answer(call.createErrorReply(keychainError, failure));
                switch (request) {
                case Request::suggested:
                    return answer(call.createReply(onBus(AccountQuery::suggestedEntities(*active))));
                case Request::entities:
                    return answer(
                        call.createReply(onBus(AccountQuery::entities(*active, arguments))));
                case Request::defaultResult: {
                    QList<AccountEntity> first;
                    if (auto entity = AccountQuery::defaultResult(*active)) first << *entity;
                    return answer(call.createReply(onBus(first)));
                }
                case Request::getCode: {
                    const std::optional<GetCodeIntentMac::Result> result =
                        GetCodeIntentMac::perform(*active, arguments.value(0), self->m_defaults);
                    if (!result)
                        return answer(call.createErrorReply(
                            needsValueError, GetCodeIntentMac::needsValueDialog()));
                    // An account that makes no code is a failure, never a copy.
                    if (result->code.isEmpty())
                        return answer(call.createErrorReply(noCodeError, result->dialog));
                    return answer(call.createReply({result->code, result->dialog}));
                }
                }
            },
            Qt::QueuedConnection);
    });
}
