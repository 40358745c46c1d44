// The AutoFill identities the program registers: their domains, what a sync
// leaves in the identity file, and that it runs off the calling thread.
#include "core/CredentialIdentitySync.h"
#include "core/IssuerDomains.h"
#include "core/KeychainStore.h"
#include "core/PasskeyRecord.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using Keychain::MemoryBackend;
using Store = CredentialIdentityStore;

namespace {

Account account(const QString& issuer, const QString& name) {
    Account a;
    a.issuer = issuer;
    a.name = name;
    return a;
}

PasskeyRecord passkey(char id, const QString& rpId, qint64 createdAtMs) {
    return {QByteArray(32, id), rpId, QStringLiteral("user ") + QLatin1Char(id),
            QByteArray(1, id), QByteArray(32, '\x09'),
            QDateTime::fromMSecsSinceEpoch(createdAtMs, Qt::UTC)};
}

Keychain::Item itemOf(const PasskeyRecord& r) {
    Keychain::Item item;
    item.service = PasskeyStore::service;
    item.account = r.itemAccount();
    item.synchronizable = true;
    item.dataProtection = true;
    item.data = r.toJson();
    return item;
}

// A keychain that remembers which threads read it.
class WatchedBackend : public MemoryBackend {
public:
    Keychain::Status copyMatching(const Keychain::Query& query, Keychain::Results* results) override {
        readers.append(QThread::currentThread());
        return MemoryBackend::copyMatching(query, results);
    }
    QList<QThread*> readers;
};

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class CredentialIdentitySyncTests : public QObject {
    Q_OBJECT

    std::shared_ptr<WatchedBackend> memory;
    QTemporaryDir dir;
    std::unique_ptr<Store> store;

private slots:
    void init() {
        memory = std::make_shared<WatchedBackend>();
        Keychain::setBackend(memory);
        QFile::remove(dir.filePath("identities.json"));
        store = std::make_unique<Store>(dir.filePath("identities.json"));
    }

    void serviceDomainTable() {
        // The identities' own keys among the one table's.
        const QStringList keys = {"google", "gmail", "github", "amazon", "aws", "microsoft",
                                  "apple", "facebook", "instagram", "twitter", "x", "dropbox",
                                  "stripe", "paypal", "binance", "coinbase", "kraken", "bybit",
                                  "kucoin", "netflix", "discord", "slack", "linkedin", "reddit",
                                  "cloudflare", "digitalocean", "gitlab", "epic", "epicgames",
                                  "steam", "nvidia", "sony"};
        QSet<QString> domains;
        for (const QString& key : keys) {
            QVERIFY2(IssuerDomains::domain(key), qPrintable(key));
            if (key != "gmail" && key != "epicgames") {
                QVERIFY2(!domains.contains(*IssuerDomains::domain(key)), qPrintable(key));
                domains.insert(*IssuerDomains::domain(key));
            }
        }
        QCOMPARE(IssuerDomains::domain("gmail"), IssuerDomains::domain("google"));
        QCOMPARE(IssuerDomains::domain("epicgames"), IssuerDomains::domain("epic"));
        QVERIFY(IssuerDomains::domain("twitter") != IssuerDomains::domain("x"));
    }

    void domainForIssuer_data() {
        QTest::addColumn<QString>("issuer");
        QTest::addColumn<QString>("domain");
        const auto table = [](const char* key) { return *IssuerDomains::domain(QLatin1String(key)); };
        QTest::newRow("known, any case") << "GitHub" << table("github");
        QTest::newRow("first word known") << "Google Workspace" << table("google");
        QTest::newRow("unknown words squashed") << "My Bank" << "mybank.com";
        QTest::newRow("blanks around") << "  Amazon  " << table("amazon");
        QTest::newRow("tab and no-break space around")
            << QString("\tSteam") + QChar(0x00A0) << table("steam");
        QTest::newRow("first word after blanks") << "  Epic  Games " << table("epic");
        QTest::newRow("tab inside stays") << "a\tb" << "a\tb.com";
        QTest::newRow("line break not trimmed") << "bank\n" << "bank\n.com";
        QTest::newRow("a name") << "alice" << "alice.com";
        QTest::newRow("empty") << "" << CredentialIdentitySync::placeholderDomain;
        QTest::newRow("only blanks") << "   " << CredentialIdentitySync::placeholderDomain;
        const char32_t road[] = {0x039F, 0x0394, 0x039F, 0x03A3};
        const char32_t lowerRoad[] = {0x03BF, 0x03B4, 0x03BF, 0x03C2};
        QTest::newRow("final sigma at a word's end")
            << QString::fromUcs4(road, 4) << QString::fromUcs4(lowerRoad, 4) + ".com";
    }
    void domainForIssuer() {
        QFETCH(QString, issuer);
        QFETCH(QString, domain);
        QCOMPARE(CredentialIdentitySync::domainForIssuer(issuer), domain);
        QVERIFY(!domain.isEmpty());
    }

    void syncWritesCodesThenPasskeys() {
        const QList<Account> accounts = {account("GitHub", "me"), account("", "alice"),
                                         account("   ", "bob"), account("Google Workspace", "x")};
        const PasskeyRecord older = passkey('a', "a.example", 1000);
        const PasskeyRecord newer = passkey('b', "b.example", 2000);
        memory->items() = {itemOf(older), itemOf(newer)};
        QVERIFY(store->replaceCredentialIdentityEntries({Store::PasskeyIdentity{"gone.example", "", "", "", "x"}}));

        CredentialIdentitySync::sync(accounts, *store);

        const auto table = [](const char* key) { return *IssuerDomains::domain(QLatin1String(key)); };
        const auto otp = [](const QString& domain, const QString& label, const Account& a) {
            return Store::OneTimeCodeIdentity{{domain, Store::ServiceIdentifier::Type::domain}, label,
                                              a.id.toString(QUuid::WithoutBraces).toUpper()};
        };
        const QList<Store::Identity> expected = {
            otp(table("github"), "GitHub", accounts[0]),
            otp("alice.com", "alice", accounts[1]),
            otp(CredentialIdentitySync::placeholderDomain, "   ", accounts[2]),
            otp(table("google"), "Google Workspace", accounts[3]),
            newer.identity(),
            older.identity(),
        };
        QCOMPARE(store->identities(), expected);
        const auto* first = std::get_if<Store::OneTimeCodeIdentity>(&expected[0]);
        QVERIFY(first->recordIdentifier.contains('-') && first->recordIdentifier == first->recordIdentifier.toUpper());
    }

    void syncOfNothingClearsTheList() {
        QVERIFY(store->replaceCredentialIdentityEntries({Store::PasskeyIdentity{"a.example", "", "", "", "x"}}));
        CredentialIdentitySync::sync({}, *store);
        QCOMPARE(store->identities(), QList<Store::Identity>());
    }

    void undecodablePasskeysAreLeftOut() {
        Keychain::Item broken = itemOf(passkey('c', "c.example", 0));
        broken.data = R"({"rpId":"c.example"})";
        memory->items() = {broken, itemOf(passkey('d', "d.example", 0))};
        CredentialIdentitySync::sync({}, *store);
        QCOMPARE(store->identities(),
                 QList<Store::Identity>{passkey('d', "d.example", 0).identity()});
    }

    // Passkeys that cannot be read leave every identity as it was, those of
    // the accounts too.
    void failedPasskeyReadChangesNothing() {
        memory->items() = {itemOf(passkey('a', "a.example", 0))};
        CredentialIdentitySync::sync({account("GitHub", "me")}, *store);
        const QByteArray before = contents(store->path());
        QVERIFY(!before.isEmpty());
        memory->failWith(MemoryBackend::Operation::copyMatching, Keychain::interactionNotAllowed);
        CredentialIdentitySync::sync({account("GitLab", "me"), account("X", "you")}, *store);
        QCOMPARE(contents(store->path()), before);
    }

    // The identity file is a cache: one cut short or of another version is
    // written anew from the keychain's accounts and passkeys by the next
    // change (a passkey registered), or by the next sync, rather than left
    // stale while the change says it was stored.
    void anUnreadableIdentityFileIsRebuiltFromTheKeychain_data() {
        QTest::addColumn<QByteArray>("damaged");
        QTest::newRow("cut short") << QByteArray("{\"version\": 1, \"identities\": [{\"kind\": \"pa");
        QTest::newRow("another version") << QByteArray("{\"version\": 2, \"identities\": []}");
    }
    void anUnreadableIdentityFileIsRebuiltFromTheKeychain() {
        QFETCH(QByteArray, damaged);
        KeychainStore::resetMigrationFlagForTesting();
        const Account github = account("GitHub", "me");
        KeychainStore::saveAccount(github);
        KeychainStore::saveOrder({github.id});
        const PasskeyRecord stored = passkey('a', "a.example", 1000);
        memory->items().append(itemOf(stored));
        const auto damage = [&] {
            QFile file(store->path());
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(damaged);
        };

        damage();
        const PasskeyRecord added = passkey('b', "b.example", 2000);
        QVERIFY(!store->saveCredentialIdentities({added.identity()})); // nowhere to rebuild from
        CredentialIdentitySync::rebuildFromKeychain(*store);
        QVERIFY(store->saveCredentialIdentities({added.identity()}));
        const auto codes = CredentialIdentitySync::identities({github});
        QCOMPARE(store->identities(), codes + QList<Store::Identity>{added.identity()});

        damage();
        QVERIFY(store->removeCredentialIdentities({stored.identity()}));
        QCOMPARE(store->identities(), QList<Store::Identity>{codes.first()});

        // A sync replaces the whole list and needs nothing of the old file.
        damage();
        store->setRebuild({});
        CredentialIdentitySync::sync({github}, *store);
        QCOMPARE(store->identities(), codes);
    }

    void scheduleRunsOffTheCallingThreadWhenEnabled() {
        CredentialIdentitySync::schedule(Store::State{false}, {account("GitHub", "me")}, *store);
        CredentialIdentitySync::waitForIdle();
        QVERIFY(!QFile::exists(store->path()));
        QVERIFY(memory->readers.isEmpty());

        QList<Account> accounts = {account("GitHub", "me")};
        CredentialIdentitySync::schedule(store->state(), accounts, *store);
        accounts.clear(); // the run works on its own copy
        CredentialIdentitySync::waitForIdle();
        QCOMPARE(memory->readers.size(), 1);
        QVERIFY(memory->readers.first() != QThread::currentThread());
        QCOMPARE(store->identities()->size(), 1);
    }

    // Runs asked for one after another finish in that order, so the newest
    // account list is the one left registered.
    void latestScheduleWins() {
        for (int count = 1; count <= 20; ++count) {
            QList<Account> accounts;
            for (int i = 0; i < count; ++i)
                accounts.append(account(QStringLiteral("Service %1").arg(i), "me"));
            CredentialIdentitySync::schedule(store->state(), accounts, *store);
        }
        CredentialIdentitySync::waitForIdle();
        QCOMPARE(store->identities()->size(), 20);
    }
};

QUILLET_TEST_GUILESS_MAIN(CredentialIdentitySyncTests)
#include "CredentialIdentitySyncTests.moc"
