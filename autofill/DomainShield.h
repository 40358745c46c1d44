#pragma once

#include "autofill/DomainGuard.h"
#include "core/Account.h"
#include "core/IssuerDomains.h"

#include <QHash>
#include <QList>
#include <QString>
#include <optional>

// A host as the user is shown it, wherever one is: each character that
// draws nothing by itself, or that IDNA drops, written as its escape
// ("\u200D"), and a host that is not plain ASCII followed by the ASCII form
// IDNA gives it, "(xn--...)", or, when IDNA refuses it, with every character
// outside ASCII written as its escape ("\u04C0"). Two hosts that draw alike
// but lead to different sites then read differently. A host that is not
// plain ASCII stands in a left-to-right isolate (U+2066 ... U+2069): it is
// drawn in the order it is written, the order a screen reader says it in.
namespace HostText {

QString shown(const QString& host);

} // namespace HostText

// One site a request names: a host, or the whole text of a URL from which
// no host can be taken, which matches no domain at all.
struct RequestHost {
    QString text;
    bool isHost = true;
    friend bool operator==(const RequestHost&, const RequestHost&) = default;
};

// What the user is warned of before a code is filled into a site that does
// not belong to the account's issuer.
struct DomainShieldWarning {
    DomainVerdict verdict = DomainVerdict::mismatch; // spoof or mismatch
    QString requestHost; // exactly as the request named it
    QString knownDomain; // exactly as the issuer table holds it

    // Nothing when the issuer's domains are unknown, no host is given, or any
    // host belongs to one of them. Otherwise a warning about the last host
    // that imitates one of them (named in the warning) or, failing that, the
    // first that differs from them all (the warning names the issuer's main
    // domain; an empty host or one of dots differs from every domain).
    static std::optional<DomainShieldWarning> evaluate(const Account& account,
                                                       const QList<QString>& hosts);
    // The same, where a text that is no host counts as a mismatch.
    static std::optional<DomainShieldWarning> evaluate(const Account& account,
                                                       const QList<RequestHost>& hosts);

    friend bool operator==(const DomainShieldWarning&, const DomainShieldWarning&) = default;
};
