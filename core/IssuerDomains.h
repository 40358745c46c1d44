#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// The web domains that well-known services sign in on, by the issuer name
// their accounts carry. One table serves both ends of AutoFill: the identity
// an account is registered under names its service's first domain, and the
// look-alike warning takes every domain of the service for its own, so that
// a code registered for a site never warns there.
namespace IssuerDomains {

// Lower-case issuer names and their services' web domains, the main one
// first.
const QHash<QString, QStringList>& table();

// The issuer lowercased and trimmed of blanks, looked up exactly: no word of
// it, no part of it and no account name stands in for it. Empty when the
// issuer is not a known service.
QStringList domains(const QString& issuer);

// The service's main domain; nothing for an issuer that is not known.
std::optional<QString> domain(const QString& issuer);

} // namespace IssuerDomains
