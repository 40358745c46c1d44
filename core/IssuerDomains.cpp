#include "core/IssuerDomains.h"

#include "core/Text.h"

namespace IssuerDomains {

const QHash<QString, QStringList>& table() {
    static const QHash<QString, QStringList> domains = [] {
        const QStringList google{QStringLiteral("google.com")};
        const QStringList aws{QStringLiteral("aws.amazon.com")};
        const QStringList microsoft{QStringLiteral("microsoft.com")};
        const QStringList apple{QStringLiteral("apple.com")};
        const QStringList meta{QStringLiteral("facebook.com")};
        const QStringList epic{QStringLiteral("epicgames.com")};
        const QStringList proton{QStringLiteral("proton.me")};
        const auto own = [](const char* domain) { return QStringList{QString::fromLatin1(domain)}; };
        return QHash<QString, QStringList>{
            {QStringLiteral("google"), google},
            {QStringLiteral("gmail"), google},
            {QStringLiteral("github"), own("github.com")},
            {QStringLiteral("gitlab"), own("gitlab.com")},
            {QStringLiteral("bitbucket"), own("bitbucket.org")},
            {QStringLiteral("amazon"), own("amazon.com")},
            {QStringLiteral("aws"), aws},
            {QStringLiteral("amazon web services"), aws},
            {QStringLiteral("microsoft"), microsoft},
            {QStringLiteral("azure"), microsoft},
            {QStringLiteral("outlook"), microsoft},
            {QStringLiteral("apple"), apple},
            {QStringLiteral("icloud"), apple},
            {QStringLiteral("facebook"), meta},
            {QStringLiteral("meta"), meta},
            {QStringLiteral("instagram"), own("instagram.com")},
            // One service under its old name and its new: each signs in on
            // both, and each account keeps the domain of the name it has.
            {QStringLiteral("x"), {QStringLiteral("x.com"), QStringLiteral("twitter.com")}},
            {QStringLiteral("twitter"), {QStringLiteral("twitter.com"), QStringLiteral("x.com")}},
            {QStringLiteral("dropbox"), own("dropbox.com")},
            {QStringLiteral("box"), own("box.com")},
            {QStringLiteral("coinbase"), own("coinbase.com")},
            {QStringLiteral("binance"), own("binance.com")},
            {QStringLiteral("kraken"), own("kraken.com")},
            {QStringLiteral("bybit"), own("bybit.com")},
            {QStringLiteral("kucoin"), own("kucoin.com")},
            {QStringLiteral("paypal"), own("paypal.com")},
            {QStringLiteral("stripe"), own("stripe.com")},
            {QStringLiteral("wise"), own("wise.com")},
            {QStringLiteral("cloudflare"), own("cloudflare.com")},
            {QStringLiteral("digitalocean"), own("digitalocean.com")},
            {QStringLiteral("heroku"), own("heroku.com")},
            {QStringLiteral("netflix"), own("netflix.com")},
            {QStringLiteral("discord"), own("discord.com")},
            {QStringLiteral("slack"), own("slack.com")},
            {QStringLiteral("telegram"), own("telegram.org")},
            {QStringLiteral("steam"), own("steampowered.com")},
            {QStringLiteral("epic games"), epic},
            {QStringLiteral("epic"), epic},
            {QStringLiteral("epicgames"), epic},
            {QStringLiteral("linkedin"), own("linkedin.com")},
            {QStringLiteral("reddit"), own("reddit.com")},
            {QStringLiteral("twitch"), own("twitch.tv")},
            {QStringLiteral("proton"), proton},
            {QStringLiteral("protonmail"), proton},
            {QStringLiteral("namecheap"), own("namecheap.com")},
            {QStringLiteral("1password"), own("1password.com")},
            {QStringLiteral("bitwarden"), own("bitwarden.com")},
            {QStringLiteral("notion"), own("notion.so")},
            {QStringLiteral("nvidia"), own("nvidia.com")},
            {QStringLiteral("sony"), own("sony.com")},
        };
    }();
    return domains;
}

QStringList domains(const QString& issuer) {
    return table().value(Text::trimmedBlanksAndTabs(Text::lowercased(issuer)));
}

std::optional<QString> domain(const QString& issuer) {
    const QStringList found = domains(issuer);
    if (found.isEmpty()) return std::nullopt;
    return found.first();
}

} // namespace IssuerDomains
