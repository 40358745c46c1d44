// The credential provider's controller on its own, with a context that
// records every end it is sent: each request ends exactly once, whatever
// arrives later (a second click, a password reply after Cancel, parked
// work), and the flows' edges that the host's JSON cannot reach: among
// them a keyring that is locked, whose unlock prompt waits on a thread of its
// own, and one that cannot be read. Runs through tests/with-pam.sh.
#include "autofill/MacCredentialProviderViewController.h"
#include "autofill/PasskeyStore.h"
#include "core/KeychainStore.h"
#include "platform/crypto/Crypto.h"
#include "tests/support/ChoiceScreens.h"
#include "tests/support/PasswordPrompt.h"
#include "tests/support/TestMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QVBoxLayout>
#include <QtTest>

using namespace CredentialProvider;
using Keychain::MemoryBackend;

namespace {

const QString prompt = QStringLiteral("Quillet");

// Every end the controller sends, in order.
struct Recorder : ExtensionContext {
    QStringList ends;
    QList<PasskeyAssertionCredential> assertions;
    void completeOneTimeCodeRequest(const QString& code) override { ends.append("code " + code); }
    void completeAssertionRequest(const PasskeyAssertionCredential& credential) override {
        ends.append("assertion");
        assertions.append(credential);
    }
    void completeRegistrationRequest(const PasskeyRegistrationCredential&) override {
        ends.append("registration");
    }
    void cancelRequest(ExtensionError error) override {
        ends.append("refused " + QString::number(int(error)));
    }
};

Account hotpAccount(quint64 counter) {
    Account a;
    a.issuer = QStringLiteral("Bank");
    a.name = QStringLiteral("me");
    a.secret = QByteArray("12345678901234567890");
    a.type = OTPType::hotp;
    a.counter = counter;
    return a;
}

PasskeyRecord storedPasskey(char id, const QString& user, qint64 ageSeconds) {
    PasskeyRecord record{QByteArray(32, id), QStringLiteral("example.com"), user,
                         user.toUtf8(), *Crypto::p256GeneratePrivateKey(),
                         QDateTime::currentDateTimeUtc().addSecs(-ageSeconds)};
    PasskeyStore::save(record);
    return record;
}

CredentialRequest assertionFor(const PasskeyRecord& record) {
    CredentialRequest request;
    request.type = CredentialRequest::Type::passkey;
    request.credentialIdentity =
        PasskeyCredentialIdentity{record.rpId, record.userName, record.credentialID,
                                  record.userHandle, QString::fromLatin1(record.credentialID.toBase64())};
    request.clientDataHash = QByteArray(32, 'c');
    return request;
}

CredentialRequest registrationFor(const QString& userName, QList<qint64> algorithms = {-7}) {
    CredentialRequest request;
    request.type = CredentialRequest::Type::passkey;
    request.credentialIdentity = PasskeyCredentialIdentity{QStringLiteral("example.com"), userName,
                                                           {}, QByteArray("handle"), {}};
    request.clientDataHash = QByteArray(32, 'r');
    request.supportedAlgorithms = algorithms;
    return request;
}

// The view on screen, as the host shows it.
void appear(MacCredentialProviderViewController& controller) {
    QWidget* view = controller.view();
    view->resize(controller.preferredContentSize());
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    controller.viewDidAppear();
}

using ChoiceScreens::buttonNamed;
using ChoiceScreens::rowShowing;
using ChoiceScreens::texts;

const QString emptyVault = QStringLiteral("No accounts yet \u2014 open Quillet to add one.");

using Status = Keychain::Status;

// A keyring that is locked: every operation but open() fails at once with
// interactionNotAllowed, and open() waits, as on its unlock prompt, until the
// test answers it.
class LockedKeyring : public MemoryBackend {
public:
    enum class Answer { unlock, dismiss };

    Status open() override {
        openedOn = QThread::currentThread();
        ++opens;
        asked.release();
        answered.acquire();
        if (answer == Answer::dismiss) return Keychain::interactionNotAllowed;
        locked = false;
        return Keychain::success;
    }
    Status add(const Keychain::Item& item) override {
        return locked ? Keychain::interactionNotAllowed : MemoryBackend::add(item);
    }
    Status update(const Keychain::Query& query, const QByteArray& data) override {
        return locked ? Keychain::interactionNotAllowed : MemoryBackend::update(query, data);
    }
    Status copyMatching(const Keychain::Query& query, Keychain::Results* results) override {
        return locked ? Keychain::interactionNotAllowed : MemoryBackend::copyMatching(query, results);
    }
    Status remove(const Keychain::Query& query) override {
        return locked ? Keychain::interactionNotAllowed : MemoryBackend::remove(query);
    }
    // The user answers the prompt open() waits on.
    void answerWith(Answer given) {
        answer = given;
        answered.release();
    }

    std::atomic<bool> locked = true;
    std::atomic<int> opens = 0;
    std::atomic<QThread*> openedOn = nullptr;
    QSemaphore asked;

private:
    QSemaphore answered;
    Answer answer = Answer::unlock;
};

} // namespace

class CredentialProviderControllerTests : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    std::shared_ptr<MemoryBackend> memory;

    quint64 storedCounter(const QUuid& id) {
        for (const Account& a : KeychainStore::loadAll().active)
            if (a.id == id) return a.counter;
        return 0xdead;
    }

private slots:
    void initTestCase() {
        qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    }

    void init() {
        qputenv("QUILLET_PAM_SERVICE", "quillet-test");
        memory = std::make_shared<MemoryBackend>();
        Keychain::setBackend(memory);
        QFile::remove(CredentialIdentityStore::shared().path());
    }

    void cleanup() {
        while (QDialog* dialog = PasswordPrompt::dialog(prompt)) dialog->reject();
    }

    void aDoubleClickFillsOnceAndAdvancesOnce() {
        const Account bank = hotpAccount(5);
        KeychainStore::saveAccount(bank);
        const QString code = bank.code(QDateTime::currentDateTimeUtc());
        Recorder context;
        MacCredentialProviderViewController controller(context);
        controller.prepareCredentialList({});
        appear(controller);
        QAbstractButton* row = rowShowing(controller.view(), QStringLiteral("Bank"));
        QVERIFY(row);
        // Two quick clicks, each of which the row reports.
        QSignalSpy clicks(row, &QAbstractButton::clicked);
        QTest::mouseClick(row, Qt::LeftButton);
        QTest::mouseClick(row, Qt::LeftButton);
        QCOMPARE(clicks.size(), 2);
        QCOMPARE(context.ends, QStringList{"code " + code});
        QCOMPARE(storedCounter(bank.id), quint64(6));
    }

    void aPasswordReplyAfterCancelIsNotSent() {
        storedPasskey('\x01', QStringLiteral("alice"), 60);
        storedPasskey('\x02', QStringLiteral("bob"), 30);
        Recorder context;
        MacCredentialProviderViewController controller(context);
        controller.prepareCredentialList({}, {QStringLiteral("example.com"), QByteArray(32, 'c'), {}, {}});
        appear(controller);
        QTest::mouseClick(rowShowing(controller.view(), QStringLiteral("bob")), Qt::LeftButton);
        QTRY_VERIFY(PasswordPrompt::dialog(prompt));
        // The picker's Cancel, pressed while the password is asked for.
        buttonNamed(controller.view(), QStringLiteral("Cancel"))->click();
        QCOMPARE(context.ends, QStringList{"refused 1"});
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword, prompt));
        QTRY_VERIFY(!PasswordPrompt::dialog(prompt));
        QTest::qWait(100);
        QCOMPARE(context.ends, QStringList{"refused 1"});
    }

    // The host's window outlives the controller: a password typed after the
    // controller went reaches nothing.
    void aPasswordReplyAfterTheControllerIsGoneDoesNothing() {
        const PasskeyRecord alice = storedPasskey('\x01', QStringLiteral("alice"), 0);
        Recorder context;
        QWidget window;
        window.setLayout(new QVBoxLayout);
        auto controller = std::make_unique<MacCredentialProviderViewController>(context);
        controller->prepareInterfaceToProvideCredential(assertionFor(alice));
        window.layout()->addWidget(controller->view());
        window.resize(controller->preferredContentSize());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        controller->viewDidAppear();
        QTRY_VERIFY(PasswordPrompt::dialog(prompt));
        // The prompt says what it is for, site and user isolated; the window
        // behind it says the same.
        const QString message = QStringLiteral(
            "Confirm it's you to use a passkey for \u2068example.com\u2069 as \u2068alice\u2069.");
        // A screen reader hears it without the isolates.
        const QString spoken =
            QStringLiteral("Confirm it's you to use a passkey for example.com as alice.");
        const auto says = [&](QWidget* in) {
            for (QLabel* label : in->findChildren<QLabel*>())
                if (label->isVisible() && label->text() == message &&
                    label->accessibleName() == spoken)
                    return true;
            return false;
        };
        QVERIFY(says(PasswordPrompt::dialog(prompt)));
        QVERIFY(says(&window));
        controller.reset();
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword, prompt));
        QTRY_VERIFY(!PasswordPrompt::dialog(prompt));
        QTest::qWait(100);
        QVERIFY(context.ends.isEmpty());
    }

    // A stored site whose name is not plain ASCII (as another program may
    // have stored it) is named with the site IDNA leads it to, in the prompt
    // and behind it, to the eye and to a screen reader.
    void aStoredSiteIsNamedWithItsAsciiForm() {
        PasskeyRecord record{QByteArray(32, '\x05'),
                             QStringLiteral("g\u0456thub.com"),
                             QStringLiteral("alice"),
                             QByteArray("alice"),
                             *Crypto::p256GeneratePrivateKey(),
                             QDateTime::currentDateTimeUtc()};
        PasskeyStore::save(record);
        Recorder context;
        MacCredentialProviderViewController controller(context);
        controller.prepareInterfaceToProvideCredential(assertionFor(record));
        appear(controller);
        QTRY_VERIFY(PasswordPrompt::dialog(prompt));
        const QString spoken = QStringLiteral(
            "Confirm it's you to use a passkey for g\u0456thub.com (xn--gthub-n2e.com) as alice.");
        for (QWidget* in :
             {static_cast<QWidget*>(PasswordPrompt::dialog(prompt)), controller.view()}) {
            QStringList read;
            for (QLabel* label : in->findChildren<QLabel*>())
                if (label->isVisible())
                    read << ChoiceScreens::withoutIsolates(label->text()) + '|' +
                                label->accessibleName();
            QVERIFY2(read.contains(spoken + '|' + spoken), qPrintable(read.join(' ')));
        }
        QVERIFY(PasswordPrompt::cancel(prompt));
        QTRY_COMPARE(context.ends, QStringList{"refused 1"});
    }

    void parkedWorkAfterTheEndDoesNothing() {
        const PasskeyRecord alice = storedPasskey('\x01', QStringLiteral("alice"), 0);
        Recorder context;
        MacCredentialProviderViewController controller(context);
        controller.prepareInterfaceToProvideCredential(assertionFor(alice));
        QVERIFY(context.ends.isEmpty());
        controller.cancel(ExtensionError::userCanceled);
        appear(controller);
        QTest::qWait(100);
        QVERIFY(!PasswordPrompt::dialog(prompt));
        QCOMPARE(context.ends, QStringList{"refused 1"});
    }

    void onlyTheLaterParkedWorkRuns() {
        // No way to ask for a password: the signature goes without one, and
        // without the user-verified flag.
        qputenv("QUILLET_PAM_SERVICE", "absent");
        const PasskeyRecord alice = storedPasskey('\x01', QStringLiteral("alice"), 0);
        const PasskeyRecord bob = storedPasskey('\x02', QStringLiteral("bob"), 0);
        Recorder context;
        MacCredentialProviderViewController controller(context);
        controller.prepareInterfaceToProvideCredential(assertionFor(alice));
        controller.prepareInterfaceToProvideCredential(assertionFor(bob));
        appear(controller);
        QCOMPARE(context.ends, QStringList{"assertion"});
        const PasskeyAssertionCredential& signedIn = context.assertions.first();
        QCOMPARE(signedIn.credentialID, bob.credentialID);
        QCOMPARE(signedIn.userHandle, bob.userHandle);
        QCOMPARE(quint8(signedIn.authenticatorData.at(32)), quint8(0x19)); // UP, BE, BS; no UV
    }

    void anUnknownPasskeyIsRefused() {
        Recorder context;
        MacCredentialProviderViewController controller(context);
        PasskeyRecord missing{QByteArray(32, '\x09'), "example.com", "x", "x", {}, {}};
        controller.prepareInterfaceToProvideCredential(assertionFor(missing));
        QCOMPARE(context.ends, QStringList{"refused 101"});
        // The same for a passkey request that names no passkey identity.
        Recorder other;
        MacCredentialProviderViewController second(other);
        CredentialRequest request;
        request.type = CredentialRequest::Type::passkey;
        second.prepareInterfaceToProvideCredential(request);
        QCOMPARE(other.ends, QStringList{"refused 101"});
    }

    // A code filled while its counter stays behind would go out again next
    // time, and the site would refuse it then: nothing is filled until the
    // advance is stored.
    void aCounterThatCannotBeSavedFillsNothing() {
        const Account bank = hotpAccount(5);
        KeychainStore::saveAccount(bank);
        memory->failWith(MemoryBackend::Operation::update, Keychain::ioError,
                         Json::uuidText(bank.id));
        const OneTimeCodeCredentialIdentity identity{Json::uuidText(bank.id)};
        CredentialRequest request;
        request.credentialIdentity = identity;
        for (int fill = 0; fill < 2; ++fill) {
            Recorder context;
            MacCredentialProviderViewController controller(context);
            controller.provideCredentialWithoutUserInteraction(request);
            QCOMPARE(context.ends, QStringList{"refused 0"});
        }
        QCOMPARE(storedCounter(bank.id), quint64(5));

        memory->failWith(MemoryBackend::Operation::update, Keychain::success,
                         Json::uuidText(bank.id));
        Recorder context;
        MacCredentialProviderViewController controller(context);
        controller.provideCredentialWithoutUserInteraction(request);
        QCOMPARE(context.ends, QStringList{"code " + bank.code({})});
        QCOMPARE(storedCounter(bank.id), quint64(6));
    }

    // Without interface nothing may ask to unlock: the request needs the
    // user. A keyring that cannot be read is a failure, not "no account".
    void aLockedKeyringWithoutInterfaceNeedsTheUser() {
        const Account bank = hotpAccount(5);
        KeychainStore::saveAccount(bank);
        CredentialRequest request;
        request.credentialIdentity = OneTimeCodeCredentialIdentity{Json::uuidText(bank.id)};
        const auto refusal = [&](Status status) {
            memory->failWith(MemoryBackend::Operation::copyMatching, status);
            memory->failWith(MemoryBackend::Operation::open, status);
            Recorder context;
            MacCredentialProviderViewController controller(context);
            controller.provideCredentialWithoutUserInteraction(request);
            return context.ends;
        };
        QCOMPARE(refusal(Keychain::interactionNotAllowed), QStringList{"refused 100"});
        QCOMPARE(refusal(Keychain::decodeFailed), QStringList{"refused 0"});
        QCOMPARE(refusal(Keychain::notAvailable), QStringList{"refused 0"});
        memory->failWith(MemoryBackend::Operation::copyMatching, Keychain::success);
        QCOMPARE(storedCounter(bank.id), quint64(5));
    }

    // With interface the keyring is opened on a thread of its own while the
    // placeholder shows and the window answers; once unlocked, the list.
    void aLockedKeyringIsOpenedAwayFromTheWindow() {
        const Account bank = hotpAccount(5);
        KeychainStore::saveAccount(bank);
        auto keyring = std::make_shared<LockedKeyring>();
        keyring->items() = memory->items();
        Keychain::setBackend(keyring);

        Recorder context;
        MacCredentialProviderViewController controller(context);
        controller.prepareCredentialList({});
        appear(controller);
        QVERIFY(keyring->asked.tryAcquire(1, 5000));
        QVERIFY(keyring->openedOn != QThread::currentThread());
        // The placeholder, never the empty vault, while the prompt is up.
        QTest::qWait(50);
        QCOMPARE(texts(controller.view()), QStringList{"Quillet"});
        QVERIFY(context.ends.isEmpty());

        keyring->answerWith(LockedKeyring::Answer::unlock);
        QTRY_VERIFY(rowShowing(controller.view(), QStringLiteral("Bank")));
        QTest::mouseClick(rowShowing(controller.view(), QStringLiteral("Bank")), Qt::LeftButton);
        QCOMPARE(context.ends, QStringList{"code " + bank.code({})});
        QCOMPARE(keyring->opens, 1);
        QCOMPARE(storedCounter(bank.id), quint64(6));
    }

    // A dismissed unlock prompt refuses every kind of request as cancelled;
    // a keyring that cannot be read refuses as failed. Neither shows an
    // empty vault or says that nothing is stored.
    void aKeyringThatStaysShutRefuses() {
        storedPasskey('\x01', QStringLiteral("alice"), 0);
        const Account bank = hotpAccount(5);
        KeychainStore::saveAccount(bank);
        const QList<Keychain::Item> stored = memory->items();

        using Entry = std::function<void(MacCredentialProviderViewController&)>;
        CredentialRequest namedCode;
        namedCode.credentialIdentity = OneTimeCodeCredentialIdentity{Json::uuidText(bank.id)};
        PasskeyRecord alice = PasskeyStore::loadAll().first();
        const QList<std::pair<const char*, Entry>> entries{
            {"code", [&](auto& c) { c.prepareInterfaceToProvideCredential(namedCode); }},
            {"list", [](auto& c) { c.prepareCredentialList({}); }},
            {"passkey", [&](auto& c) { c.prepareInterfaceToProvideCredential(assertionFor(alice)); }},
            {"passkey list",
             [](auto& c) {
                 c.prepareCredentialList({}, {QStringLiteral("example.com"), QByteArray(32, 'c'), {}, {}});
             }},
            {"registration",
             [](auto& c) { c.prepareInterfaceForPasskeyRegistration(registrationFor("bob")); }},
        };
        for (const auto& [name, entry] : entries) {
            auto keyring = std::make_shared<LockedKeyring>();
            keyring->items() = stored;
            Keychain::setBackend(keyring);
            Recorder dismissed;
            {
                MacCredentialProviderViewController controller(dismissed);
                entry(controller);
                appear(controller);
                QVERIFY2(keyring->asked.tryAcquire(1, 5000), name);
                keyring->answerWith(LockedKeyring::Answer::dismiss);
                QTRY_VERIFY2(controller.hasEnded(), name);
                QVERIFY2(!texts(controller.view()).contains(emptyVault), name);
            }
            QVERIFY2(dismissed.ends == QStringList{"refused 1"}, name);

            memory->failWith(MemoryBackend::Operation::copyMatching, Keychain::decodeFailed);
            Keychain::setBackend(memory);
            Recorder unreadable;
            MacCredentialProviderViewController controller(unreadable);
            entry(controller);
            appear(controller);
            QTRY_VERIFY2(controller.hasEnded(), name);
            QVERIFY2(unreadable.ends == QStringList{"refused 0"}, name);
            memory->failWith(MemoryBackend::Operation::copyMatching, Keychain::success);
        }
        QCOMPARE(storedCounter(bank.id), quint64(5));
        QCOMPARE(PasskeyStore::loadAll().size(), 1);
    }

    // The excluded-credential check cannot be skipped by a keyring that
    // fails to list the passkeys: nothing is registered.
    void aRegistrationThatCannotCheckExclusionsRegistersNothing() {
        qputenv("QUILLET_PAM_SERVICE", "absent");
        const PasskeyRecord alice = storedPasskey('\x01', QStringLiteral("alice"), 0);
        memory->failWith(MemoryBackend::Operation::copyMatching, Keychain::ioError);
        CredentialRequest request = registrationFor(QStringLiteral("alice"));
        request.excludedCredentials = {alice.credentialID};
        Recorder context;
        MacCredentialProviderViewController controller(context);
        controller.prepareInterfaceForPasskeyRegistration(request);
        appear(controller);
        QTRY_COMPARE(context.ends, QStringList{"refused 0"});
        memory->failWith(MemoryBackend::Operation::copyMatching, Keychain::success);
        QCOMPARE(PasskeyStore::loadAll(), QList<PasskeyRecord>{alice});
    }

    void theLargestCounterWrapsToZero() {
        const Account bank = hotpAccount(std::numeric_limits<quint64>::max());
        KeychainStore::saveAccount(bank);
        CredentialRequest request;
        request.credentialIdentity =
            OneTimeCodeCredentialIdentity{Json::uuidText(bank.id)};
        Recorder context;
        MacCredentialProviderViewController controller(context);
        controller.prepareInterfaceToProvideCredential(request);
        QCOMPARE(context.ends, QStringList{"code " + bank.code({})});
        QCOMPARE(storedCounter(bank.id), quint64(0));
    }

    void requestHosts_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("isHost");
        const int url = int(ServiceIdentifier::Type::url);
        const int domain = int(ServiceIdentifier::Type::domain);
        QTest::newRow("URL: its host") << url << "https://login.example.com/path?q=1" << "login.example.com" << true;
        QTest::newRow("URL: escapes in the host")
            << url << "https://b%C3%BCcher.example/" << "b\u00fccher.example" << true;
        QTest::newRow("URL: user and port") << url << "HTTPS://me:pw@Shop.Q:8443/a" << "Shop.Q" << true;
        QTest::newRow("URL: backslashes") << url << "https:\\\\evil.q\\@github.com/" << "evil.q" << true;
        QTest::newRow("URL without host") << url << "mailto:me@example.com" << "mailto:me@example.com" << false;
        QTest::newRow("not a URL") << url << "http://exa mple.com/" << "http://exa mple.com/" << false;
        QTest::newRow("no scheme") << url << "github.com" << "github.com" << false;
        QTest::newRow("domain as given") << domain << "Login.Example.COM" << "Login.Example.COM" << true;
        QTest::newRow("domain that looks like a URL") << domain << "https://a.example/" << "https://a.example/" << true;
    }

    void requestHosts() {
        QFETCH(int, type);
        QFETCH(QString, identifier);
        QFETCH(QString, host);
        QFETCH(bool, isHost);
        QCOMPARE(MacCredentialProviderViewController::hostsOf(
                     {{identifier, ServiceIdentifier::Type(type)}}),
                 QList<RequestHost>({RequestHost{host, isHost}}));
    }

    // A page whose URL only reads like the account's site, or a URL without
    // a host, gets the warning: the browser would take it as another host,
    // or as none.
    void urlsThatOnlyReadLikeTheSite() {
        Account github;
        github.issuer = QStringLiteral("GitHub");
        for (const char* identifier :
             {"https://evil.example/a|b.github.com", "https://evil.example/a%zz.github.com",
              "https://evil.example/a^b?x=.github.com", "https://evil.example/a{b}.github.com",
              "https://evil.example:99999/.github.com", "data:text/html,hi.github.com",
              "file:///tmp/login.github.com", "data:,github.com", "file://github.com/login",
              "https://github.com:65536/", "github.com"}) {
            const auto warning = DomainShieldWarning::evaluate(
                github, MacCredentialProviderViewController::hostsOf({{identifier, ServiceIdentifier::Type::url}}));
            QVERIFY2(warning && warning->verdict == DomainVerdict::mismatch, identifier);
        }
        // The real site, however its URL is written, is no stranger.
        for (const char* identifier :
             {"https://github.com/login?next=%zz|^{}", "HTTPS://WWW.GitHub.com:443/", "https:github.com",
              "https://me@github.com./x"})
            QVERIFY2(!DomainShieldWarning::evaluate(
                         github, MacCredentialProviderViewController::hostsOf(
                                     {{identifier, ServiceIdentifier::Type::url}})),
                     identifier);
    }

    void registrationEdges() {
        // Only RS256 offered.
        Recorder refused;
        MacCredentialProviderViewController first(refused);
        first.prepareInterfaceForPasskeyRegistration(registrationFor("alice", {-257}));
        QCOMPARE(refused.ends, QStringList{"refused 0"});

        // No user name: the relying party stands in. Without a password to
        // ask, it registers without the user-verified flag.
        qputenv("QUILLET_PAM_SERVICE", "absent");
        Recorder context;
        MacCredentialProviderViewController controller(context);
        controller.prepareInterfaceForPasskeyRegistration(registrationFor(QString()));
        QVERIFY(context.ends.isEmpty());
        appear(controller);
        QTRY_COMPARE(context.ends, QStringList{"registration"});
        const QList<PasskeyRecord> records = PasskeyStore::loadAll();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().userName, QStringLiteral("example.com"));
        QCOMPARE(memory->items().first().label, QStringLiteral("example.com \u2014 example.com"));
    }

    // Hostile relying-party ids and user names are refused before anything
    // is asked or stored.
    void hostileRegistrationsAreRefused() {
        const auto refusedFor = [&](const QString& rpId, const QString& userName) {
            Recorder context;
            MacCredentialProviderViewController controller(context);
            CredentialRequest request = registrationFor(userName);
            std::get<PasskeyCredentialIdentity>(request.credentialIdentity).relyingPartyIdentifier =
                rpId;
            controller.prepareInterfaceForPasskeyRegistration(request);
            return context.ends == QStringList{"refused 0"};
        };
        for (const QString& rpId :
             {QString(), QStringLiteral("evil\u202emoc.elgoog"), QStringLiteral("Example.com"),
              QStringLiteral("a\nb.com"), QString::fromUtf8("ex\0ample.com", 12),
              QStringLiteral("\x1b[2J.com"), QStringLiteral("a..com"), QStringLiteral("-a.com"),
              QString(254, QLatin1Char('a'))})
            QVERIFY2(refusedFor(rpId, QStringLiteral("alice")), qPrintable(rpId));
        for (const QString& userName :
             {QStringLiteral("\u202eecila"), QStringLiteral("al\nice"), QStringLiteral("\x1b[31m"),
              QString(1001, QLatin1Char('u'))})
            QVERIFY(refusedFor(QStringLiteral("example.com"), userName));
        QVERIFY(PasskeyStore::loadAll().isEmpty());
    }

    void aPasskeyThatCannotBeSavedRefusesAndWritesNothing() {
        qputenv("QUILLET_PAM_SERVICE", "absent");
        const PasskeyRecord older = storedPasskey('\x01', QStringLiteral("alice"), 60);
        CredentialIdentityStore::shared().saveCredentialIdentities({older.identity()});
        memory->failWith(MemoryBackend::Operation::add, Keychain::interactionNotAllowed);
        Recorder context;
        MacCredentialProviderViewController controller(context);
        CredentialRequest request = registrationFor(QStringLiteral("alice"));
        std::get<PasskeyCredentialIdentity>(request.credentialIdentity).userHandle = older.userHandle;
        controller.prepareInterfaceForPasskeyRegistration(request);
        appear(controller);
        QTRY_COMPARE(context.ends, QStringList{"refused 0"});
        // The older passkey and its identity stay.
        QCOMPARE(PasskeyStore::loadAll(), QList<PasskeyRecord>{older});
        QCOMPARE(CredentialIdentityStore::shared().identities()->size(), 1);
    }

    void aRefusedPasswordRefusesTheRegistration() {
        Recorder context;
        MacCredentialProviderViewController controller(context);
        controller.prepareInterfaceForPasskeyRegistration(registrationFor(QStringLiteral("alice")));
        appear(controller);
        QVERIFY(PasswordPrompt::cancel(prompt));
        QTRY_COMPARE(context.ends, QStringList{"refused 1"});
        QVERIFY(PasskeyStore::loadAll().isEmpty());
    }
};

QUILLET_TEST_MAIN(CredentialProviderControllerTests)
#include "CredentialProviderControllerTests.moc"
