#include "intake/Backup.h"

#include "core/Limits.h"
#include "platform/crypto/Crypto.h"

#include <QJsonArray>
#include <QJsonObject>
#include <atomic>

namespace Backup {

namespace {

std::atomic<testing::RandomSource> randomSource{nullptr};

// Exactly `count` bytes from the random source, or nothing. A short answer
// counts as a failure too: a salt or nonce must never be padded or reused.
std::optional<QByteArray> randomBytes(qsizetype count) {
    const testing::RandomSource source = randomSource.load();
    auto bytes = source ? source(count) : Crypto::randomBytes(count);
    if (!bytes || bytes->size() != count) return std::nullopt;
    return bytes;
}

// Overwrites key material and plaintext before their memory is given back.
struct Wipe {
    QByteArray& bytes;
    ~Wipe() { bytes.fill('\0'); }
};

// The platform encoder of the original format writes every "/" escaped. In
// compact JSON a "/" can only stand inside a string, so a plain replacement
// is exact.
QByteArray withEscapedSlashes(QByteArray json) {
    return json.replace('/', "\\/");
}

} // namespace

QString BackupError::message() const {
    return QString::fromUtf8(what());
}

const char* BackupError::what() const noexcept {
    switch (m_kind) {
    case badPassword:
        return "Wrong password, or the file is corrupted.";
    case badFormat:
        return "This isn't a Quillet backup file.";
    case cryptoFailed:
        return "Could not encrypt the backup.";
    case tooLarge:
        return "The backup would be larger than 32 MiB, more than Quillet can import again, so it "
               "was not made.";
    }
    return "This isn't a Quillet backup file.";
}

std::optional<QByteArray> deriveKey(const QByteArray& password, const QByteArray& salt) {
    return Crypto::pbkdf2Sha256(password, salt, keyDerivationRounds, keyLength);
}

std::optional<QByteArray> randomSalt() {
    return randomBytes(saltLength);
}

QByteArray encodeContainer(const Container& container) {
    return "{\"v\":" + QByteArray::number(container.v) + ",\"salt\":\"" +
           withEscapedSlashes(container.salt.toBase64()) + "\",\"box\":\"" +
           withEscapedSlashes(container.box.toBase64()) + "\"}";
}

std::optional<Container> parseContainer(const QByteArray& data) {
    const auto document = Json::parse(data);
    if (!document || !document->isObject()) return std::nullopt;
    const QJsonObject object = document->object();
    const auto v = Json::toInt64(object.value(QLatin1String("v")));
    const QJsonValue salt = object.value(QLatin1String("salt"));
    const QJsonValue box = object.value(QLatin1String("box"));
    if (!v || !salt.isString() || !box.isString()) return std::nullopt;
    const auto saltBytes = Json::strictBase64(salt.toString());
    const auto boxBytes = Json::strictBase64(box.toString());
    if (!saltBytes || !boxBytes) return std::nullopt;
    return Container{*v, *saltBytes, *boxBytes};
}

QByteArray encodeAccounts(const QList<Account>& accounts) {
    QJsonArray array;
    for (const Account& account : accounts)
        array.append(account.toJson(Json::DateForm::referenceDate));
    return withEscapedSlashes(Json::serialize(QJsonDocument(array)));
}

std::optional<QList<Account>> decodeAccounts(const QByteArray& plaintext) {
    const auto document = Json::parse(plaintext);
    if (!document || !document->isArray()) return std::nullopt;
    QList<Account> accounts;
    for (const QJsonValue& value : document->array()) {
        if (!value.isObject()) return std::nullopt;
        auto account = Account::fromJson(value.toObject(), Json::DateForm::referenceDate);
        if (!account) return std::nullopt;
        accounts.append(*account);
    }
    return accounts;
}

QByteArray encrypt(const QList<Account>& accounts, const QString& password) {
    QByteArray plaintext = encodeAccounts(accounts);
    Wipe wipePlaintext{plaintext};
    // The sealed file is larger still (Base64 adds a third): no key is
    // derived for a file that could not be restored.
    if (plaintext.size() > Limits::maxBackupBytes) throw BackupError(BackupError::tooLarge);
    // Without fresh random bytes the file would be sealed under a guessable
    // salt or a repeatable nonce; the export stops instead.
    const auto salt = randomSalt();
    if (!salt) throw BackupError(BackupError::cryptoFailed);
    auto key = deriveKey(password.toUtf8(), *salt);
    if (!key) throw BackupError(BackupError::cryptoFailed);
    Wipe wipeKey{*key};
    const auto nonce = randomBytes(Crypto::aesGcmNonceLength);
    if (!nonce) throw BackupError(BackupError::cryptoFailed);
    const auto box = Crypto::aesGcmSeal(*key, *nonce, plaintext);
    if (!box) throw BackupError(BackupError::cryptoFailed);
    QByteArray file = encodeContainer(Container{formatVersion, *salt, *box});
    if (file.size() > Limits::maxBackupBytes) throw BackupError(BackupError::tooLarge);
    return file;
}

QList<Account> decrypt(const QByteArray& data, const QString& password) {
    const auto container = parseContainer(data);
    if (!container) throw BackupError(BackupError::badFormat);
    auto key = deriveKey(password.toUtf8(), container->salt);
    if (!key) throw BackupError(BackupError::cryptoFailed);
    Wipe wipeKey{*key};
    if (container->box.size() < Crypto::aesGcmNonceLength + Crypto::aesGcmTagLength)
        throw BackupError(BackupError::badPassword);
    auto plaintext = Crypto::aesGcmOpen(*key, container->box);
    if (!plaintext) throw BackupError(BackupError::badPassword);
    Wipe wipePlaintext{*plaintext};
    auto accounts = decodeAccounts(*plaintext);
    if (!accounts) throw BackupError(BackupError::badFormat);
    return *accounts;
}

namespace testing {

RandomSource setRandomSource(RandomSource source) {
    return randomSource.exchange(source);
}

} // namespace testing

} // namespace Backup
