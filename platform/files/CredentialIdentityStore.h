#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <variant>

// The AutoFill identities a credential provider offers: the entries from which
// a form in another program is offered a one-time code or a passkey. The
// program registers them and the credential provider's host reads them, in
// another process, so they are kept in one JSON file (mode 0600) in Quillet's
// data folder. Every change is a locked read-modify-write of the whole file
// that replaces it atomically: a reader sees the old list or the new one.
class CredentialIdentityStore {
public:
    struct ServiceIdentifier {
        enum class Type { domain, url };
        QString identifier;
        Type type = Type::domain;
        friend bool operator==(const ServiceIdentifier&, const ServiceIdentifier&) = default;
    };

    struct OneTimeCodeIdentity {
        ServiceIdentifier serviceIdentifier;
        QString label;
        QString recordIdentifier; // the account's id
        friend bool operator==(const OneTimeCodeIdentity&, const OneTimeCodeIdentity&) = default;
    };

    struct PasskeyIdentity {
        QString relyingPartyIdentifier;
        QString userName;
        QByteArray credentialID;
        QByteArray userHandle;
        QString recordIdentifier; // the credential ID in Base64
        friend bool operator==(const PasskeyIdentity&, const PasskeyIdentity&) = default;
    };

    using Identity = std::variant<OneTimeCodeIdentity, PasskeyIdentity>;

    struct State {
        bool isEnabled = false;
    };

    // Keeps the identities in the file at `path`.
    explicit CredentialIdentityStore(QString path);

    // $XDG_DATA_HOME/Quillet/credential-identities.json
    static QString defaultPath();
    // The store at the default path, shared by the whole process.
    static CredentialIdentityStore& shared();

    QString path() const { return m_path; }

    // Whether AutoFill may use the identities. Always enabled here: the host
    // that serves requests is ours and reads this file.
    State state() const;

    // Each change reports whether it was stored. The file keeps what it held
    // when a change fails.
    // Every identity registered before is replaced by `identities`.
    bool replaceCredentialIdentityEntries(const QList<Identity>& identities);
    // Adds the identities; one that names the same entry as a registered one
    // takes its place.
    bool saveCredentialIdentities(const QList<Identity>& identities);
    // Removes the registered identities that name the same entries.
    bool removeCredentialIdentities(const QList<Identity>& identities);

    // What is registered, in order. An empty list when no file exists yet;
    // nothing when the file cannot be read or is not a list of identities.
    std::optional<QList<Identity>> identities() const;

    // Where the whole list comes from again when the file cannot be read
    // (cut short, another version, not a list of identities): the file is
    // only a cache of what the keychain holds. Nothing: the list cannot be
    // made now, and a change fails. Without a source a change of an
    // unreadable file fails; replacing the whole list never reads it.
    using Rebuild = std::function<std::optional<QList<Identity>>()>;
    void setRebuild(Rebuild rebuild);

    // Two identities name the same entry when they are of one kind and agree
    // in their record identifier and their service (domain or relying party).
    static bool sameEntry(const Identity& a, const Identity& b);

    static QByteArray encode(const QList<Identity>& identities);
    static std::optional<QList<Identity>> decode(const QByteArray& json);

private:
    enum class Reads { registered, nothing };
    template <typename Change> bool change(Reads reads, Change change);

    QString m_path;
    Rebuild m_rebuild;
};
