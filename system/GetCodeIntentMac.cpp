#include "system/GetCodeIntentMac.h"

#include "core/CorrectedClock.h"
#include "core/KeychainStore.h"
#include "system/Clipboard.h"

#include <QCoreApplication>
#include <QSet>
#include <QUuid>

AccountEntity AccountEntity::from(const Account& account) {
    return {account.id.toString(QUuid::WithoutBraces).toUpper(),
            account.issuer.isEmpty() ? account.name : account.issuer};
}

namespace AccountQuery {

QList<Account> loadActive() { return KeychainStore::loadAll().active; }

QList<AccountEntity> suggestedEntities(const QList<Account>& active) {
    QList<AccountEntity> all;
    all.reserve(active.size());
    for (const Account& account : active)
        all << AccountEntity::from(account);
    return all;
}

QList<AccountEntity> entities(const QList<Account>& active, const QStringList& ids) {
    const QSet<QString> wanted(ids.begin(), ids.end());
    QList<AccountEntity> found;
    for (const AccountEntity& entity : suggestedEntities(active))
        if (wanted.contains(entity.id)) found << entity;
    return found;
}

std::optional<AccountEntity> defaultResult(const QList<Account>& active) {
    if (active.isEmpty()) return std::nullopt;
    return AccountEntity::from(active.first());
}

} // namespace AccountQuery

namespace GetCodeIntentMac {

QString needsValueDialog() {
    return QCoreApplication::translate("GetCodeIntentMac", "Which account?");
}

std::optional<Result> perform(const QList<Account>& active, const QString& identifier,
                              UserDefaults& defaults) {
    const QUuid id = QUuid::fromString(identifier);
    if (id.isNull()) return std::nullopt;
    const auto found = std::find_if(active.begin(), active.end(),
                                    [&](const Account& account) { return account.id == id; });
    if (found == active.end()) return std::nullopt;
    // HOTP: the code of the stored counter, which stays as it is.
    const QString code = found->code(CorrectedClock::now());
    const QString label = found->issuer.isEmpty() ? found->name : found->issuer;
    // Stored values that make no code (kept by an earlier version): the
    // clipboard keeps what it holds, and the answer says why.
    if (code.isEmpty())
        return Result{{}, QCoreApplication::translate("GetCodeIntentMac",
                                                      "“%1” has no code: its settings cannot make one.")
                              .arg(label)};
    Clipboard::copyCodeToClipboard(code, defaults);
    return Result{code, QCoreApplication::translate("GetCodeIntentMac", "%1: %2 — copied.")
                            .arg(label, code)};
}

} // namespace GetCodeIntentMac
