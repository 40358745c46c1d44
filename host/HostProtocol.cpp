#include "host/HostProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cmath>

using namespace CredentialProvider;

namespace HostProtocol {

namespace {

// Thrown inside the parser with the reason; caught at its top.
struct Unreadable {
    QString reason;
};

[[noreturn]] void refuse(const QString& reason) {
    throw Unreadable{reason};
}

QJsonObject object(const QJsonValue& value, const QString& name) {
    if (!value.isObject()) refuse(name + QStringLiteral(" is not an object"));
    return value.toObject();
}

QString text(const QJsonObject& from, const QString& key, const QString& fallback = {}) {
    const QJsonValue value = from.value(key);
    if (value.isUndefined()) return fallback;
    if (!value.isString()) refuse(key + QStringLiteral(" is not a string"));
    return value.toString();
}

std::optional<QString> optionalText(const QJsonObject& from, const QString& key) {
    if (from.value(key).isUndefined()) return std::nullopt;
    return text(from, key);
}

// A JSON number is a double: only one that is whole and inside the 64-bit
// range may become an integer (converting any other is undefined).
qint64 wholeNumber(const QJsonValue& value, const QString& name) {
    const double number = value.toDouble();
    constexpr double limit = 0x1p63; // the first double past the largest qint64
    if (!value.isDouble() || !(number >= -limit && number < limit) || number != std::trunc(number))
        refuse(name + QStringLiteral(" holds a value that is not a whole number in range"));
    return qint64(number);
}

QByteArray bytesOf(const QJsonValue& value, const QString& name) {
    if (!value.isString()) refuse(name + QStringLiteral(" is not a Base64 string"));
    const auto decoded = QByteArray::fromBase64Encoding(
        value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || value.toString().toLatin1() != decoded.decoded.toBase64())
        refuse(name + QStringLiteral(" is not standard Base64"));
    return decoded.decoded;
}

QByteArray bytes(const QJsonObject& from, const QString& key) {
    const QJsonValue value = from.value(key);
    return value.isUndefined() ? QByteArray() : bytesOf(value, key);
}

QJsonArray array(const QJsonObject& from, const QString& key) {
    const QJsonValue value = from.value(key);
    if (value.isUndefined()) return {};
    if (!value.isArray()) refuse(key + QStringLiteral(" is not a list"));
    return value.toArray();
}

QList<QByteArray> byteList(const QJsonObject& from, const QString& key) {
    QList<QByteArray> list;
    for (const QJsonValue& value : array(from, key)) list.append(bytesOf(value, key));
    return list;
}

// The SHA-256 digest of the client data that a passkey signs or registers
// for: 32 bytes, which the entries that sign or register need. Where a
// request is refused before any signing, it may be left out.
QByteArray clientDataHash(const QJsonObject& from, bool needed) {
    const QString key = QStringLiteral("clientDataHash");
    if (from.value(key).isUndefined()) {
        if (needed) refuse(key + QStringLiteral(" is missing"));
        return {};
    }
    const QByteArray hash = bytes(from, key);
    if (hash.size() != 32)
        refuse(key +
               QStringLiteral(" is %1 bytes, not the 32 of a SHA-256 digest").arg(hash.size()));
    return hash;
}

CredentialRequest credentialRequest(const QJsonObject& json, bool signs) {
    CredentialRequest request;
    const QString kind = text(json, QStringLiteral("kind"));
    if (kind == QLatin1String("oneTimeCode")) {
        request.type = CredentialRequest::Type::oneTimeCode;
        request.credentialIdentity =
            OneTimeCodeCredentialIdentity{optionalText(json, QStringLiteral("recordIdentifier"))};
        return request;
    }
    if (kind != QLatin1String("passkey"))
        refuse(QStringLiteral("kind is neither \"oneTimeCode\" nor \"passkey\""));
    request.type = CredentialRequest::Type::passkey;
    PasskeyCredentialIdentity identity;
    identity.relyingPartyIdentifier = text(json, QStringLiteral("relyingPartyIdentifier"));
    identity.userName = text(json, QStringLiteral("userName"));
    identity.userHandle = bytes(json, QStringLiteral("userHandle"));
    identity.credentialID = bytes(json, QStringLiteral("credentialID"));
    identity.recordIdentifier = text(json, QStringLiteral("recordIdentifier"),
                                     QString::fromLatin1(identity.credentialID.toBase64()));
    request.credentialIdentity = identity;
    request.clientDataHash = clientDataHash(json, signs);
    for (const QJsonValue& value : array(json, QStringLiteral("supportedAlgorithms"))) {
        request.supportedAlgorithms.append(wholeNumber(value, QStringLiteral("supportedAlgorithms")));
    }
    request.excludedCredentials = byteList(json, QStringLiteral("excludedCredentials"));
    request.userVerification = text(json, QStringLiteral("userVerification"));
    return request;
}

// Whether a site fits the name system: at most 253 characters, 63 a label
// (one trailing "." aside), measured in the ASCII form IDNA gives a name
// that is not plain ASCII, where it gives one. Nothing longer is a site
// anybody can visit, and nothing longer is laid out in a sentence.
bool withinNameLimits(const QString& host) {
    const QString ace = QString::fromLatin1(QUrl::toAce(host));
    QStringView name = ace.isEmpty() ? QStringView(host) : QStringView(ace);
    if (name.endsWith(u'.')) name.chop(1);
    if (name.size() > 253) return false;
    for (const QStringView label : name.split(u'.'))
        if (label.size() > 63) return false;
    return true;
}

// The site an identifier names: a URL's host, or the whole text where a
// URL has none (the plugin then takes the whole text for the site).
QString siteOf(const ServiceIdentifier& service) {
    if (service.type == ServiceIdentifier::Type::domain) return service.identifier;
    const QUrl url(service.identifier);
    const QString host = url.isValid() ? url.host() : QString();
    return host.isEmpty() ? service.identifier : host;
}

QList<ServiceIdentifier> serviceIdentifiers(const QJsonObject& json) {
    QList<ServiceIdentifier> list;
    for (const QJsonValue& value : array(json, QStringLiteral("serviceIdentifiers"))) {
        const QJsonObject entry = object(value, QStringLiteral("a service identifier"));
        ServiceIdentifier service;
        const QString type = text(entry, QStringLiteral("type"));
        if (type == QLatin1String("domain"))
            service.type = ServiceIdentifier::Type::domain;
        else if (type == QLatin1String("URL"))
            service.type = ServiceIdentifier::Type::url;
        else
            refuse(QStringLiteral("a service identifier's type is neither \"domain\" nor \"URL\""));
        if (!entry.value(QStringLiteral("identifier")).isString())
            refuse(QStringLiteral("a service identifier has no identifier"));
        service.identifier = text(entry, QStringLiteral("identifier"));
        if (!withinNameLimits(siteOf(service)))
            refuse(QStringLiteral("a site is longer than the name system allows (253 characters, "
                                  "63 a label)"));
        list.append(service);
    }
    return list;
}

PasskeyRequestParameters parameters(const QJsonObject& json) {
    PasskeyRequestParameters parameters;
    parameters.relyingPartyIdentifier = text(json, QStringLiteral("relyingPartyIdentifier"));
    parameters.clientDataHash = clientDataHash(json, true);
    parameters.allowedCredentials = byteList(json, QStringLiteral("allowedCredentials"));
    parameters.userVerification = text(json, QStringLiteral("userVerification"));
    return parameters;
}

std::optional<Entry> entryFromText(const QString& text) {
    static const QList<std::pair<QString, Entry>> names{
        {QStringLiteral("provideWithoutUserInteraction"), Entry::provideWithoutUserInteraction},
        {QStringLiteral("prepareInterface"), Entry::prepareInterface},
        {QStringLiteral("credentialList"), Entry::credentialList},
        {QStringLiteral("credentialListWithParameters"), Entry::credentialListWithParameters},
        {QStringLiteral("registration"), Entry::registration},
    };
    for (const auto& [name, entry] : names)
        if (name == text) return entry;
    return std::nullopt;
}

QString base64(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toBase64());
}

} // namespace

bool needsInterface(Entry entry) {
    return entry != Entry::provideWithoutUserInteraction;
}

std::variant<Request, QString> parse(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("not JSON: ") + error.errorString();
    if (!document.isObject()) return QStringLiteral("the request is not a JSON object");
    const QJsonObject root = document.object();
    try {
        Request request;
        const std::optional<Entry> entry = entryFromText(text(root, QStringLiteral("entry")));
        if (!entry) refuse(QStringLiteral("entry names no entry point"));
        request.entry = *entry;
        request.serviceIdentifiers = serviceIdentifiers(root);
        switch (request.entry) {
        case Entry::provideWithoutUserInteraction:
        case Entry::prepareInterface:
        case Entry::registration:
            // Only the entry that may not show a window refuses every
            // passkey request before signing anything.
            request.request = credentialRequest(
                object(root.value(QStringLiteral("request")), QStringLiteral("request")),
                request.entry != Entry::provideWithoutUserInteraction);
            break;
        case Entry::credentialListWithParameters:
            request.parameters = parameters(
                object(root.value(QStringLiteral("parameters")), QStringLiteral("parameters")));
            break;
        case Entry::credentialList:
            break;
        }
        return request;
    } catch (const Unreadable& unreadable) {
        return unreadable.reason;
    }
}

QByteArray toJson(const Outcome& outcome) {
    QJsonObject json;
    if (const auto* code = std::get_if<OneTimeCode>(&outcome)) {
        json.insert(QStringLiteral("completed"), QStringLiteral("oneTimeCode"));
        json.insert(QStringLiteral("code"), code->code);
    } else if (const auto* assertion = std::get_if<PasskeyAssertionCredential>(&outcome)) {
        json.insert(QStringLiteral("completed"), QStringLiteral("passkeyAssertion"));
        json.insert(QStringLiteral("relyingParty"), assertion->relyingParty);
        json.insert(QStringLiteral("userHandle"), base64(assertion->userHandle));
        json.insert(QStringLiteral("credentialID"), base64(assertion->credentialID));
        json.insert(QStringLiteral("clientDataHash"), base64(assertion->clientDataHash));
        json.insert(QStringLiteral("authenticatorData"), base64(assertion->authenticatorData));
        json.insert(QStringLiteral("signature"), base64(assertion->signature));
    } else if (const auto* registration = std::get_if<PasskeyRegistrationCredential>(&outcome)) {
        json.insert(QStringLiteral("completed"), QStringLiteral("passkeyRegistration"));
        json.insert(QStringLiteral("relyingParty"), registration->relyingParty);
        json.insert(QStringLiteral("clientDataHash"), base64(registration->clientDataHash));
        json.insert(QStringLiteral("credentialID"), base64(registration->credentialID));
        json.insert(QStringLiteral("attestationObject"), base64(registration->attestationObject));
    } else {
        json.insert(QStringLiteral("refused"), int(std::get<ExtensionError>(outcome)));
    }
    return QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n';
}

int exitStatus(const Outcome& outcome) {
    return std::holds_alternative<ExtensionError>(outcome) ? 1 : 0;
}

} // namespace HostProtocol
