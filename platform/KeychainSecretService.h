#pragma once

#include "platform/Keychain.h"

namespace Keychain {

// Items in the desktop's Secret Service (GNOME Keyring, KWallet ...) through
// libsecret: the item's attributes become Secret Service attributes and its
// data the secret. A locked collection is unlocked through the service, which
// may ask the user; if it stays locked the operation fails with
// interactionNotAllowed and is never taken for "no items".
class SecretServiceBackend : public Backend {
public:
    // True when the session bus has a Secret Service that answers.
    static bool isAvailable();

    QString name() const override { return QStringLiteral("secret-service"); }
    Status add(const Item& item) override;
    Status update(const Query& query, const QByteArray& data) override;
    Status copyMatching(const Query& query, Results* results) override;
    Status remove(const Query& query) override;
};

} // namespace Keychain
