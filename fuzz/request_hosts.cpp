// Any sites a request names are read as a browser reads them, and a code of
// the account goes out without the warning only where one of them is the
// account's site or a host under it. One service identifier a line: a URL,
// or a domain after "=".
#include "autofill/MacCredentialProviderViewController.h"
#include "core/Text.h"
#include "fuzz/FuzzInput.h"

#include <cstdlib>

namespace {

// The site's host or one under it, in any letter case, with or without the
// root's dot; no label decoded, so nothing spelled otherwise passes.
bool isTheSiteOrUnder(const RequestHost& host) {
    if (!host.isHost || DomainGuard::holdsNonHostCharacter(host.text)) return false;
    QString name = Text::lowercased(host.text);
    if (name.endsWith(QLatin1Char('.'))) name.chop(1);
    return name == QLatin1String("github.com") || name.endsWith(QLatin1String(".github.com"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QList<CredentialProvider::ServiceIdentifier> identifiers;
    for (const QString& line : FuzzInput::text(data, size).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('=')))
            identifiers.append({line.mid(1), CredentialProvider::ServiceIdentifier::Type::domain});
        else
            identifiers.append({line, CredentialProvider::ServiceIdentifier::Type::url});
    }
    const QList<RequestHost> hosts = MacCredentialProviderViewController::hostsOf(identifiers);
    if (hosts.size() != identifiers.size()) std::abort();
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        if (identifiers[i].type != CredentialProvider::ServiceIdentifier::Type::url) continue;
        // A URL's host is one a host name can be, or the URL names none.
        const std::optional<QString> host = DomainGuard::hostOfURL(identifiers[i].identifier);
        if (hosts[i] != (host ? RequestHost{*host, true} : RequestHost{identifiers[i].identifier, false}))
            std::abort();
        if (host && (host->isEmpty() ||
                     (!host->startsWith(QLatin1Char('[')) && DomainGuard::holdsNonHostCharacter(*host))))
            std::abort();
    }
    Account account;
    account.issuer = QStringLiteral("GitHub");
    if (!DomainShieldWarning::evaluate(account, hosts) &&
        std::none_of(hosts.begin(), hosts.end(), isTheSiteOrUnder))
        std::abort();
    return 0;
}
