#include "platform/files/CredentialIdentityStore.h"

#include "platform/files/PrivateFolder.h"
#include "platform/files/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QMutex>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>
#include <utility>

namespace {

using Store = CredentialIdentityStore;

constexpr int fileFormatVersion = 1;
// A writer holds the lock for one small read and write; a lock held this long
// belongs to a process that hangs, and the change fails instead of waiting on.
constexpr int lockTimeoutMs = 5000;

QMutex& processMutex() {
    static QMutex mutex;
    return mutex;
}

QString text(Store::ServiceIdentifier::Type type) {
    return type == Store::ServiceIdentifier::Type::url ? QStringLiteral("url")
                                                       : QStringLiteral("domain");
}

QString base64(const QByteArray& bytes) { return QString::fromLatin1(bytes.toBase64()); }

QJsonObject toJson(const Store::Identity& identity) {
    if (const auto* code = std::get_if<Store::OneTimeCodeIdentity>(&identity))
        return {
            {QStringLiteral("kind"), QStringLiteral("oneTimeCode")},
            {QStringLiteral("serviceIdentifier"), code->serviceIdentifier.identifier},
            {QStringLiteral("serviceIdentifierType"), text(code->serviceIdentifier.type)},
            {QStringLiteral("label"), code->label},
            {QStringLiteral("recordIdentifier"), code->recordIdentifier},
        };
    const auto& passkey = std::get<Store::PasskeyIdentity>(identity);
    return {
        {QStringLiteral("kind"), QStringLiteral("passkey")},
        {QStringLiteral("relyingPartyIdentifier"), passkey.relyingPartyIdentifier},
        {QStringLiteral("userName"), passkey.userName},
        {QStringLiteral("credentialID"), base64(passkey.credentialID)},
        {QStringLiteral("userHandle"), base64(passkey.userHandle)},
        {QStringLiteral("recordIdentifier"), passkey.recordIdentifier},
    };
}

std::optional<Store::Identity> fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    bool valid = true;
    const auto string = [&](const char* key) {
        const QJsonValue v = object.value(QLatin1String(key));
        valid = valid && v.isString();
        return v.toString();
    };
    const auto bytes = [&](const char* key) {
        auto decoded = QByteArray::fromBase64Encoding(string(key).toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        valid = valid && decoded;
        return *decoded;
    };
    const QString kind = string("kind");
    if (kind == QLatin1String("oneTimeCode")) {
        Store::OneTimeCodeIdentity code;
        code.serviceIdentifier.identifier = string("serviceIdentifier");
        const QString type = string("serviceIdentifierType");
        valid = valid && (type == QLatin1String("domain") || type == QLatin1String("url"));
        code.serviceIdentifier.type = type == QLatin1String("url")
                                          ? Store::ServiceIdentifier::Type::url
                                          : Store::ServiceIdentifier::Type::domain;
        code.label = string("label");
        code.recordIdentifier = string("recordIdentifier");
        return valid ? std::optional<Store::Identity>(code) : std::nullopt;
    }
    if (kind == QLatin1String("passkey")) {
        Store::PasskeyIdentity passkey;
        passkey.relyingPartyIdentifier = string("relyingPartyIdentifier");
        passkey.userName = string("userName");
        passkey.credentialID = bytes("credentialID");
        passkey.userHandle = bytes("userHandle");
        passkey.recordIdentifier = string("recordIdentifier");
        return valid ? std::optional<Store::Identity>(passkey) : std::nullopt;
    }
    return std::nullopt;
}

enum class Read { ok, missing, failed };

Read readFile(const QString& path, QList<Store::Identity>* identities) {
    // A FIFO or a huge file in its place is no list of identities.
    QByteArray bytes;
    switch (RegularFile::read(path, RegularFile::maximumStoredSize, &bytes)) {
    case RegularFile::Status::ok:
        break;
    case RegularFile::Status::missing:
        return Read::missing;
    case RegularFile::Status::notAFile:
    case RegularFile::Status::tooLarge:
    case RegularFile::Status::unreadable:
        return Read::failed;
    }
    auto decoded = Store::decode(bytes);
    if (!decoded)
        return Read::failed;
    *identities = std::move(*decoded);
    return Read::ok;
}

} // namespace

CredentialIdentityStore::CredentialIdentityStore(QString path) : m_path(std::move(path)) {}

QString CredentialIdentityStore::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quillet/credential-identities.json");
}

CredentialIdentityStore& CredentialIdentityStore::shared() {
    static CredentialIdentityStore store(defaultPath());
    return store;
}

CredentialIdentityStore::State CredentialIdentityStore::state() const { return State{true}; }

bool CredentialIdentityStore::sameEntry(const Identity& a, const Identity& b) {
    if (a.index() != b.index())
        return false;
    if (const auto* code = std::get_if<OneTimeCodeIdentity>(&a)) {
        const auto& other = std::get<OneTimeCodeIdentity>(b);
        return code->recordIdentifier == other.recordIdentifier &&
               code->serviceIdentifier == other.serviceIdentifier;
    }
    const auto& passkey = std::get<PasskeyIdentity>(a);
    const auto& other = std::get<PasskeyIdentity>(b);
    return passkey.recordIdentifier == other.recordIdentifier &&
           passkey.relyingPartyIdentifier == other.relyingPartyIdentifier;
}

QByteArray CredentialIdentityStore::encode(const QList<Identity>& identities) {
    QJsonArray array;
    for (const Identity& identity : identities)
        array.append(toJson(identity));
    return QJsonDocument(QJsonObject{{QStringLiteral("version"), fileFormatVersion},
                                     {QStringLiteral("identities"), array}})
        .toJson(QJsonDocument::Indented);
}

// Strict: a file that does not fully decode is never rewritten with fewer
// identities by a change that read it as less than it holds.
std::optional<QList<CredentialIdentityStore::Identity>>
CredentialIdentityStore::decode(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    if (root.value(QLatin1String("version")) != QJsonValue(fileFormatVersion) ||
        !root.value(QLatin1String("identities")).isArray())
        return std::nullopt;
    QList<Identity> identities;
    for (const QJsonValue& value : root.value(QLatin1String("identities")).toArray()) {
        auto identity = fromJson(value);
        if (!identity)
            return std::nullopt;
        identities.append(std::move(*identity));
    }
    return identities;
}

std::optional<QList<CredentialIdentityStore::Identity>> CredentialIdentityStore::identities() const {
    QList<Identity> identities;
    return readFile(m_path, &identities) == Read::failed ? std::nullopt
                                                         : std::optional(identities);
}

void CredentialIdentityStore::setRebuild(Rebuild rebuild) {
    QMutexLocker processLock(&processMutex());
    m_rebuild = std::move(rebuild);
}

template <typename Change> bool CredentialIdentityStore::change(Reads reads, Change change) {
    QMutexLocker processLock(&processMutex());
    // Quillet's data folder, which also holds the keyring file of machines
    // without a Secret Service: private to the user.
    if (!PrivateFolder::ensure(QFileInfo(m_path).absolutePath()))
        return false;
    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!lock.tryLock(lockTimeoutMs))
        return false;
    QList<Identity> identities;
    if (reads == Reads::registered && readFile(m_path, &identities) == Read::failed) {
        // Left as it is, the file would keep stale identities for good.
        const std::optional<QList<Identity>> rebuilt =
            m_rebuild ? m_rebuild() : std::optional<QList<Identity>>();
        if (!rebuilt)
            return false;
        identities = *rebuilt;
    }
    change(identities);
    // QSaveFile would put its file where a link points, even where the read
    // above refuses to look (a device, a FIFO, nothing at all).
    if (const std::optional<QString> refused = RegularFile::writeRefusal(m_path)) {
        std::fprintf(stderr, "%s\n", qPrintable(*refused));
        return false;
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray bytes = encode(identities);
    return file.write(bytes) == bytes.size() && file.commit();
}

bool CredentialIdentityStore::replaceCredentialIdentityEntries(const QList<Identity>& identities) {
    return change(Reads::nothing,
                  [&](QList<Identity>& registered) { registered = identities; });
}

bool CredentialIdentityStore::saveCredentialIdentities(const QList<Identity>& identities) {
    return change(Reads::registered, [&](QList<Identity>& registered) {
        for (const Identity& identity : identities) {
            const auto found = std::find_if(registered.begin(), registered.end(),
                                            [&](const Identity& r) { return sameEntry(r, identity); });
            if (found != registered.end())
                *found = identity;
            else
                registered.append(identity);
        }
    });
}

bool CredentialIdentityStore::removeCredentialIdentities(const QList<Identity>& identities) {
    return change(Reads::registered, [&](QList<Identity>& registered) {
        registered.removeIf([&](const Identity& r) {
            return std::any_of(identities.begin(), identities.end(),
                               [&](const Identity& gone) { return sameEntry(r, gone); });
        });
    });
}
