#pragma once

#include "platform/keychain/Keychain.h"

namespace Keychain {

// Items in the desktop's Secret Service (GNOME Keyring, KWallet ...) through
// libsecret: the item's attributes become Secret Service attributes and its
// data the secret. open() unlocks our items and the default collection
// through the service, which may ask the user; every other operation on a
// locked item or collection fails at once with interactionNotAllowed, and is
// never taken for "no items".
class SecretServiceBackend : public Backend {
public:
    // True when the session bus has a Secret Service that answers.
    static bool isAvailable();

    // Dismisses the prompt open() is waiting on, and any later one.
    static void cancelInteraction();

    // Drops the attributes kept from earlier reads, so that the next read
    // costs what a new process's first read does (tests).
    static void forgetReadAttributes();

    QString name() const override { return QStringLiteral("secret-service"); }
    Status open() override;
    Status add(const Item& item) override;
    Status update(const Query& query, const QByteArray& data) override;
    Status copyMatching(const Query& query, Results* results) override;
    Status remove(const Query& query) override;
    QList<Status> upsert(const QList<Upsert>& writes, const Progress& progress = {}) override;
    // The service's name owner and how many change signals it has sent
    // since: no call to the service once subscribed.
    std::optional<QByteArray> changeStamp() override;
};

} // namespace Keychain
