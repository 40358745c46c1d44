#pragma once

#include "platform/extension/CredentialProviderExtension.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <variant>

// What larkspur-host reads and writes: one request as a JSON object on
// standard input, one outcome as a JSON object on standard output. Byte
// strings are standard Base64 with padding.
namespace HostProtocol {

enum class Entry {
    provideWithoutUserInteraction,
    prepareInterface,
    credentialList,
    credentialListWithParameters,
    registration,
};

struct Request {
    Entry entry = Entry::prepareInterface;
    CredentialProvider::CredentialRequest request;
    QList<CredentialProvider::ServiceIdentifier> serviceIdentifiers;
    CredentialProvider::PasskeyRequestParameters parameters;
};

// Every entry point shows the controller's view but the one that must not.
bool needsInterface(Entry entry);

// The request, or why it cannot be read (not JSON, an unknown entry or
// kind, a missing part the entry needs, a value of the wrong type, a byte
// string that is not Base64, a client data hash that is not 32 bytes, a
// site longer than the name system allows).
std::variant<Request, QString> parse(const QByteArray& json);

struct OneTimeCode {
    QString code;
};
using Outcome = std::variant<OneTimeCode, CredentialProvider::PasskeyAssertionCredential,
                             CredentialProvider::PasskeyRegistrationCredential,
                             CredentialProvider::ExtensionError>;

// One line of compact JSON, ending in a line break.
QByteArray toJson(const Outcome& outcome);

// 0 completed, 1 refused.
int exitStatus(const Outcome& outcome);
inline constexpr int unreadableRequest = 2;
// No request comes near this size; a larger one is refused unread.
inline constexpr qsizetype maxRequestBytes = 1024 * 1024;
inline constexpr int pluginNotLoaded = 3;
// The request needs a window and no display can be opened for it.
inline constexpr int noDisplay = 4;
// Quillet's app lock is on and the owner's password cannot be asked for
// here: no display, or no way to check this user's password.
inline constexpr int lockedCannotAsk = 5;

} // namespace HostProtocol
