#include "core/PasskeyRecord.h"

#include "core/KeychainStore.h"

#include "core/Json.h"

#include <QJsonObject>
#include <algorithm>

namespace {

QString base64(const QByteArray& bytes) { return QString::fromLatin1(bytes.toBase64()); }

std::optional<QByteArray> bytesAt(const QJsonObject& object, QLatin1String key) {
    const auto text = Json::toString(object.value(key));
    if (!text)
        return std::nullopt;
    return Json::strictBase64(*text);
}

} // namespace

QByteArray PasskeyRecord::toJson() const {
    const QJsonObject object{
        {QStringLiteral("credentialID"), base64(credentialID)},
        {QStringLiteral("rpId"), rpId},
        {QStringLiteral("userName"), userName},
        {QStringLiteral("userHandle"), base64(userHandle)},
        {QStringLiteral("privateKey"), base64(privateKey)},
        {QStringLiteral("createdAt"), Json::fromDate(createdAt, Json::DateForm::referenceDate)},
    };
    return Json::serialize(QJsonDocument(object));
}

std::optional<PasskeyRecord> PasskeyRecord::fromJson(const QByteArray& json) {
    const auto document = Json::parse(json);
    if (!document || !document->isObject())
        return std::nullopt;
    const QJsonObject object = document->object();
    PasskeyRecord record;
    const auto credentialID = bytesAt(object, QLatin1String("credentialID"));
    const auto rpId = Json::toString(object.value(QLatin1String("rpId")));
    const auto userName = Json::toString(object.value(QLatin1String("userName")));
    const auto userHandle = bytesAt(object, QLatin1String("userHandle"));
    const auto privateKey = bytesAt(object, QLatin1String("privateKey"));
    const auto createdAt =
        Json::toDate(object.value(QLatin1String("createdAt")), Json::DateForm::referenceDate);
    if (!credentialID || !rpId || !userName || !userHandle || !privateKey || !createdAt)
        return std::nullopt;
    return PasskeyRecord{*credentialID, *rpId, *userName, *userHandle, *privateKey, *createdAt};
}

QString PasskeyRecord::itemAccount() const { return base64(credentialID); }

CredentialIdentityStore::PasskeyIdentity PasskeyRecord::identity() const {
    return {rpId, userName, credentialID, userHandle, itemAccount()};
}

namespace PasskeyStore {

const char* Error::what() const noexcept {
    m_what = KeychainStore::describe(m_status).toUtf8();
    return m_what.constData();
}

Keychain::Query baseQuery() {
    Keychain::Query query;
    query.service = service;
    query.synchronizable = Keychain::Synchronizable::any;
    query.useDataProtection = true;
    return query;
}

QList<PasskeyRecord> loadAll() {
    Keychain::Query query = baseQuery();
    query.matchLimit = Keychain::Query::MatchLimit::all;
    query.returnData = true;
    Keychain::Results results;
    const Keychain::Status status = Keychain::copyMatching(query, &results);
    if (status == Keychain::itemNotFound)
        return {};
    if (status != Keychain::success)
        throw Error(status);
    if (results.isEmpty())
        throw Error(0);
    QList<PasskeyRecord> records;
    records.reserve(results.size());
    for (const Keychain::Item& item : std::as_const(results))
        if (auto record = PasskeyRecord::fromJson(item.data))
            records.append(std::move(*record));
    std::stable_sort(records.begin(), records.end(),
                     [](const PasskeyRecord& a, const PasskeyRecord& b) {
                         return a.createdAt > b.createdAt;
                     });
    return records;
}

} // namespace PasskeyStore
