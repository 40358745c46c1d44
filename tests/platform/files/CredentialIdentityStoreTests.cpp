// The identity file: what one process registers another reads, changes are
// whole and locked, and a file we cannot read is never overwritten.
#include "platform/files/CredentialIdentityStore.h"
#include "platform/files/RegularFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using Store = CredentialIdentityStore;

namespace {

Store::OneTimeCodeIdentity code(const QString& domain, const QString& id) {
    return {{domain, Store::ServiceIdentifier::Type::domain}, domain + QStringLiteral(" label"), id};
}

Store::PasskeyIdentity passkey(const QString& rp, char id) {
    const QByteArray credential(32, id);
    return {rp, QStringLiteral("alice"), credential, QByteArray("handle\0\xff", 8),
            QString::fromLatin1(credential.toBase64())};
}

mode_t modeOf(const QString& path) {
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

} // namespace

class CredentialIdentityStoreTests : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("data/Quillet/identities.json")); }

private slots:
    void cleanup() { QDir(dir.filePath("data")).removeRecursively(); }

    void emptyUntilRegistered() {
        Store store(path());
        QVERIFY(store.state().isEnabled);
        QCOMPARE(store.identities(), QList<Store::Identity>());
        QVERIFY(!QFile::exists(path()));
    }

    void replaceKeepsOrderAndIsPrivate() {
        Store store(path());
        const QList<Store::Identity> list = {code("github.com", "A"), passkey("example.com", 'p'),
                                             code("example.com", "B")};
        QVERIFY(store.replaceCredentialIdentityEntries(list));
        QCOMPARE(store.identities(), list);
        QCOMPARE(modeOf(path()), mode_t(0600));
        QCOMPARE(modeOf(QFileInfo(path()).path()), mode_t(0700));
        QVERIFY(store.replaceCredentialIdentityEntries({passkey("b.example", 'q')}));
        QCOMPARE(store.identities(), QList<Store::Identity>{passkey("b.example", 'q')});
        QVERIFY(store.replaceCredentialIdentityEntries({}));
        QCOMPARE(store.identities(), QList<Store::Identity>());
    }

    void saveAddsOrReplacesTheSameEntry() {
        Store store(path());
        QVERIFY(store.saveCredentialIdentities({code("github.com", "A"), passkey("example.com", 'p')}));
        Store::PasskeyIdentity renamed = passkey("example.com", 'p');
        renamed.userName = QStringLiteral("alice@new");
        QVERIFY(store.saveCredentialIdentities({renamed, passkey("example.com", 'q')}));
        const QList<Store::Identity> expected = {code("github.com", "A"), renamed,
                                                 passkey("example.com", 'q')};
        QCOMPARE(store.identities(), expected);
    }

    void removeTakesOnlyTheSameEntries() {
        Store store(path());
        // The same record identifier under another relying party is another entry.
        Store::PasskeyIdentity elsewhere = passkey("other.example", 'p');
        QVERIFY(store.replaceCredentialIdentityEntries(
            {code("github.com", "A"), passkey("example.com", 'p'), elsewhere}));
        QVERIFY(store.removeCredentialIdentities({passkey("example.com", 'p'), code("x.com", "A")}));
        const QList<Store::Identity> expected = {code("github.com", "A"), elsewhere};
        QCOMPARE(store.identities(), expected);
    }

    // The file is a cache: one that cannot be read is never changed in part,
    // but replaced whole, or rebuilt from the source the program names.
    void unreadableFileIsReplacedWholeOrRebuilt() {
        Store store(path());
        QVERIFY(store.replaceCredentialIdentityEntries({code("github.com", "A")}));
        const QByteArray other = R"({"version":2,"identities":[]})";
        const auto damage = [&] {
            QFile file(path());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(other);
        };
        const auto contents = [&] {
            QFile file(path());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        damage();
        QVERIFY(!store.identities());
        QVERIFY(!store.saveCredentialIdentities({code("x.com", "B")}));
        QCOMPARE(contents(), other);
        QVERIFY(store.replaceCredentialIdentityEntries({}));
        QCOMPARE(store.identities(), QList<Store::Identity>());

        // Nor is a FIFO (no writer is waited for) or a file over the bound
        // (never read whole): each is replaced whole.
        QVERIFY(QFile::remove(path()));
        QCOMPARE(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
        QVERIFY(!store.identities());
        QVERIFY(store.replaceCredentialIdentityEntries({}));
        QVERIFY(QFile::resize(path(), RegularFile::maximumStoredSize + 1));
        QVERIFY(!store.identities());
        QVERIFY(store.replaceCredentialIdentityEntries({}));
        QCOMPARE(store.identities(), QList<Store::Identity>());

        damage();
        store.setRebuild([&] { return std::optional(QList<Store::Identity>{code("a.com", "A")}); });
        QVERIFY(store.saveCredentialIdentities({code("x.com", "B")}));
        QCOMPARE(store.identities(), (QList<Store::Identity>{code("a.com", "A"), code("x.com", "B")}));
    }

    void decodeIsStrict_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("unknown kind") << QByteArray(R"({"version":1,"identities":[{"kind":"password"}]})");
        QTest::newRow("missing field")
            << QByteArray(R"({"version":1,"identities":[{"kind":"oneTimeCode","label":"x"}]})");
        QTest::newRow("bad Base64")
            << QByteArray(R"({"version":1,"identities":[{"kind":"passkey","relyingPartyIdentifier":"a",
               "userName":"b","credentialID":"!!","userHandle":"","recordIdentifier":"c"}]})");
        QTest::newRow("bad service type")
            << QByteArray(R"({"version":1,"identities":[{"kind":"oneTimeCode","serviceIdentifier":"a",
               "serviceIdentifierType":"app","label":"b","recordIdentifier":"c"}]})");
        QTest::newRow("not an object") << QByteArray("[]");
    }
    void decodeIsStrict() {
        QFETCH(QByteArray, json);
        QVERIFY(!Store::decode(json));
    }

    // The host is another process: it reads what this one wrote, and writers in
    // several processes at once lose nothing.
    void otherProcessesReadAndWrite() {
        Store store(path());
        QVERIFY(store.replaceCredentialIdentityEntries({code("github.com", "A"), passkey("example.com", 'p')}));
        QByteArray output;
        QCOMPARE(TestSupport::runSelf({"--child-read", path()}, &output), 0);
        QCOMPARE(output.trimmed(), "oneTimeCode github.com A\npasskey example.com " +
                                       QByteArray(32, 'p').toBase64());

        QList<QProcess*> writers;
        for (int i = 0; i < 4; ++i) {
            auto* writer = new QProcess(this);
            writer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writer->start(QCoreApplication::applicationFilePath(),
                          {"--child-save", path(), QString::number(i)});
            writers.append(writer);
        }
        for (QProcess* writer : writers) {
            QVERIFY(writer->waitForFinished(120000));
            QCOMPARE(writer->exitCode(), 0);
        }
        const auto identities = store.identities();
        QVERIFY(identities);
        QCOMPARE(identities->size(), 2 + 4 * 10);
    }
};

// Child modes: print what is registered, or save ten identities one by one.
int child(const QStringList& args) {
    Store store(args.at(2));
    if (args.at(1) == QLatin1String("--child-read")) {
        const auto identities = store.identities();
        if (!identities)
            return 1;
        for (const Store::Identity& identity : *identities) {
            if (const auto* c = std::get_if<Store::OneTimeCodeIdentity>(&identity))
                std::printf("oneTimeCode %s %s\n", qPrintable(c->serviceIdentifier.identifier),
                            qPrintable(c->recordIdentifier));
            else if (const auto* p = std::get_if<Store::PasskeyIdentity>(&identity))
                std::printf("passkey %s %s\n", qPrintable(p->relyingPartyIdentifier),
                            qPrintable(p->recordIdentifier));
        }
        return 0;
    }
    for (int i = 0; i < 10; ++i)
        if (!store.saveCredentialIdentities(
                {code(QStringLiteral("w%1.example").arg(args.at(3)), QString::number(i))}))
            return 1;
    return 0;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]).startsWith("--child-"))
        return child(app.arguments());
    TestSupport::Guarded<CredentialIdentityStoreTests> tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "CredentialIdentityStoreTests.moc"
