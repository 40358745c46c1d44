#include "autofill/DomainShield.h"

#include "core/Text.h"

namespace IssuerDomains {

const QHash<QString, QString>& table() {
    static const QHash<QString, QString> domains{
        {QStringLiteral("google"), QStringLiteral("google.com")},
        {QStringLiteral("gmail"), QStringLiteral("google.com")},
        {QStringLiteral("github"), QStringLiteral("github.com")},
        {QStringLiteral("gitlab"), QStringLiteral("gitlab.com")},
        {QStringLiteral("bitbucket"), QStringLiteral("bitbucket.org")},
        {QStringLiteral("amazon"), QStringLiteral("amazon.com")},
        {QStringLiteral("aws"), QStringLiteral("aws.amazon.com")},
        {QStringLiteral("amazon web services"), QStringLiteral("aws.amazon.com")},
        {QStringLiteral("microsoft"), QStringLiteral("microsoft.com")},
        {QStringLiteral("azure"), QStringLiteral("microsoft.com")},
        {QStringLiteral("outlook"), QStringLiteral("microsoft.com")},
        {QStringLiteral("apple"), QStringLiteral("apple.com")},
        {QStringLiteral("icloud"), QStringLiteral("apple.com")},
        {QStringLiteral("facebook"), QStringLiteral("facebook.com")},
        {QStringLiteral("meta"), QStringLiteral("facebook.com")},
        {QStringLiteral("instagram"), QStringLiteral("instagram.com")},
        {QStringLiteral("x"), QStringLiteral("x.com")},
        {QStringLiteral("twitter"), QStringLiteral("x.com")},
        {QStringLiteral("dropbox"), QStringLiteral("dropbox.com")},
        {QStringLiteral("box"), QStringLiteral("box.com")},
        {QStringLiteral("coinbase"), QStringLiteral("coinbase.com")},
        {QStringLiteral("binance"), QStringLiteral("binance.com")},
        {QStringLiteral("kraken"), QStringLiteral("kraken.com")},
        {QStringLiteral("paypal"), QStringLiteral("paypal.com")},
        {QStringLiteral("stripe"), QStringLiteral("stripe.com")},
        {QStringLiteral("wise"), QStringLiteral("wise.com")},
        {QStringLiteral("cloudflare"), QStringLiteral("cloudflare.com")},
        {QStringLiteral("digitalocean"), QStringLiteral("digitalocean.com")},
        {QStringLiteral("heroku"), QStringLiteral("heroku.com")},
        {QStringLiteral("discord"), QStringLiteral("discord.com")},
        {QStringLiteral("slack"), QStringLiteral("slack.com")},
        {QStringLiteral("telegram"), QStringLiteral("telegram.org")},
        {QStringLiteral("steam"), QStringLiteral("steampowered.com")},
        {QStringLiteral("epic games"), QStringLiteral("epicgames.com")},
        {QStringLiteral("epic"), QStringLiteral("epicgames.com")},
        {QStringLiteral("linkedin"), QStringLiteral("linkedin.com")},
        {QStringLiteral("reddit"), QStringLiteral("reddit.com")},
        {QStringLiteral("twitch"), QStringLiteral("twitch.tv")},
        {QStringLiteral("proton"), QStringLiteral("proton.me")},
        {QStringLiteral("protonmail"), QStringLiteral("proton.me")},
        {QStringLiteral("namecheap"), QStringLiteral("namecheap.com")},
        {QStringLiteral("1password"), QStringLiteral("1password.com")},
        {QStringLiteral("bitwarden"), QStringLiteral("bitwarden.com")},
        {QStringLiteral("notion"), QStringLiteral("notion.so")},
    };
    return domains;
}

std::optional<QString> domain(const QString& issuer) {
    const auto& domains = table();
    const auto found = domains.constFind(Text::trimmedBlanksAndTabs(Text::lowercased(issuer)));
    if (found == domains.constEnd())
        return std::nullopt;
    return *found;
}

} // namespace IssuerDomains

std::optional<DomainShieldWarning> DomainShieldWarning::evaluate(const Account& account,
                                                                 const QList<QString>& hosts) {
    QList<RequestHost> named;
    named.reserve(hosts.size());
    for (const QString& host : hosts)
        named.append({host, true});
    return evaluate(account, named);
}

std::optional<DomainShieldWarning> DomainShieldWarning::evaluate(const Account& account,
                                                                 const QList<RequestHost>& hosts) {
    const auto known = IssuerDomains::domain(account.issuer);
    if (!known)
        return std::nullopt;
    std::optional<DomainShieldWarning> candidate;
    for (const auto& [host, isHost] : hosts) {
        switch (isHost ? DomainGuard::verdict(host, *known) : DomainVerdict::mismatch) {
        case DomainVerdict::match:
            return std::nullopt;
        case DomainVerdict::spoof:
            candidate = DomainShieldWarning{DomainVerdict::spoof, host, *known};
            break;
        case DomainVerdict::mismatch:
            if (!candidate)
                candidate = DomainShieldWarning{DomainVerdict::mismatch, host, *known};
            break;
        case DomainVerdict::unverified:
            break;
        }
    }
    return candidate;
}
