// The credential provider's work on the main thread: signing one passkey
// assertion, and checking one request's hosts against every known issuer.
#include "autofill/Authenticator.h"
#include "autofill/DomainShield.h"
#include "platform/crypto/Crypto.h"

#include <benchmark/benchmark.h>

namespace {

// Authenticator data, the client-data hash and the signature over both.
void signOneAssertion(benchmark::State& state) {
    const QByteArray privateKey = Crypto::p256GeneratePrivateKey().value();
    const QByteArray clientDataHash = Crypto::sha256(
        R"({"type":"webauthn.get","challenge":"3q2-7w","origin":"https://example.com"})");
    for (auto _ : state) {
        const QByteArray authData = Passkey::assertionAuthenticatorData("example.com", 0, true);
        benchmark::DoNotOptimize(Crypto::p256Sign(privateKey, authData + clientDataHash));
    }
}
BENCHMARK(signOneAssertion)->Unit(benchmark::kMicrosecond);

// Every issuer of the table against ten hosts that none of them owns, so that
// each of the 520 verdicts (50 issuers, two of them with two domains) is
// worked out in full: plain, Punycode, look-alike, under a two-label suffix.
void domainGuardFor50IssuersAnd10Hosts(benchmark::State& state) {
    const QList<QString> hosts = {
        "login.example.org",     "WWW.Accounts.Example.NET.",  "xn--pypal-4ve.com",
        "g1thub.com",            "secure.paypa1.co.uk",        "xn--bcher-kva.example",
        "sign-in.micros0ft.com", "a.b.c.d.e.f.example.com.au", "10.0.0.1",
        "xn--hop-ehd.xn--shp-ted.q"};
    QList<Account> accounts;
    for (auto it = IssuerDomains::table().begin(); it != IssuerDomains::table().end(); ++it) {
        Account account;
        account.issuer = it.key();
        accounts.append(account);
    }
    for (auto _ : state)
        for (const Account& account : accounts)
            benchmark::DoNotOptimize(DomainShieldWarning::evaluate(account, hosts));
}
BENCHMARK(domainGuardFor50IssuersAnd10Hosts)->Unit(benchmark::kMicrosecond);

// A request host of 640,000 characters, as an attacker may send one: an
// encoded label that long, and as many labels of the longest encoded kind.
// Neither is decoded (no name server serves such a host), so the verdict is
// one pass over the text; and decoding one such label on its own.
void domainGuardForA640000CharacterHost(benchmark::State& state) {
    QString label = QStringLiteral("xn--");
    while (label.size() < 640'000)
        label += QStringLiteral("ab1c-");
    QString labels;
    while (labels.size() < 640'000)
        labels += QStringLiteral("xn--") + QString(55, u'a') + QStringLiteral("-9ja.");
    for (auto _ : state) {
        benchmark::DoNotOptimize(DomainGuard::verdict(label + QStringLiteral(".github.com"), "github.com"));
        benchmark::DoNotOptimize(DomainGuard::verdict(labels + QStringLiteral("github.com"), "github.com"));
    }
}
BENCHMARK(domainGuardForA640000CharacterHost)->Unit(benchmark::kMillisecond);

void punycodeDecodeOf640000Characters(benchmark::State& state) {
    // 640,000 deltas, each inserting one more code point.
    const QString label = QStringLiteral("-") + QString(640'000, u'a');
    for (auto _ : state)
        benchmark::DoNotOptimize(Punycode::decode(label));
}
BENCHMARK(punycodeDecodeOf640000Characters)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
