// The credential-provider plugin served through its host, request by request
// as JSON, with the host's window worked as a user works it: texts, clicks,
// Escape, the login password. The vault is the file keychain in a temporary
// folder, written by this test as the program would write it; codes are
// checked against oathtool, passkeys against python-fido2's relying party,
// and the password goes through pam_matrix (tests/with-pam.sh).
#include "autofill/PasskeyStore.h"
#include "core/KeychainStore.h"
#include "core/PasskeyRecord.h"
#include "host/HostSession.h"
#include "platform/crypto/Crypto.h"
#include "core/Settings.h"
#include "platform/files/CredentialIdentityStore.h"
#include "platform/keychain/KeychainFile.h"
#include "platform/files/UserDefaults.h"
#include "tests/support/ChoiceScreens.h"
#include "tests/support/Desktop.h"
#include "tests/support/Host.h"
#include "tests/support/PasswordPrompt.h"
#include "tests/support/TestMain.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>
#include <sys/file.h>
#include <sys/resource.h>

using TestSupport::codeRequest;

namespace {

const QByteArray secret("12345678901234567890");
const QString passkeyPrompt = QStringLiteral("Quillet");

Account account(const QString& issuer, const QString& name, OTPType type = OTPType::totp,
                quint64 counter = 0) {
    Account a;
    a.issuer = issuer;
    a.name = name;
    a.secret = secret;
    a.type = type;
    a.counter = counter;
    return a;
}

QString oathtool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("oathtool"), arguments + QStringList{QString::fromLatin1(secret.toHex())});
    if (!process.waitForFinished(10000) || process.exitCode() != 0) return QStringLiteral("oathtool failed");
    return QString::fromLatin1(process.readAllStandardOutput()).trimmed();
}

QString totpAt(qint64 unixTime) {
    return oathtool({QStringLiteral("--totp"), QStringLiteral("-N"), "@" + QString::number(unixTime)});
}

QJsonObject object(const QByteArray& json) {
    return QJsonDocument::fromJson(json).object();
}

QString b64(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toBase64());
}

// What xdotool prints; nothing when it fails or does not end.
QString xdotoolOutput(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(QUILLET_TEST_WAIT_MS)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return process.exitCode() == 0 ? QString::fromUtf8(process.readAllStandardOutput()).trimmed()
                                   : QString();
}

using ChoiceScreens::buttonNamed;
using ChoiceScreens::rowShowing;
using ChoiceScreens::texts;

// The site's side of passkeys (relying_party.py), its state in one file.
class RelyingParty {
public:
    explicit RelyingParty(const QString& stateFile) : m_state(stateFile) {}

    QByteArray registerBegin(const QString& rpId, const QString& userName,
                             const QByteArray& userHandle, const QString& uv) {
        return hash(run({"register-begin", rpId, userName, b64(userHandle), uv}));
    }
    QString registerComplete(const QByteArray& outcome) {
        return QString::fromUtf8(run({"register-complete"}, outcome)).trimmed();
    }
    QByteArray authenticateBegin(const QString& uv) {
        return hash(run({"authenticate-begin", uv}));
    }
    QString authenticateComplete(const QByteArray& outcome) {
        return QString::fromUtf8(run({"authenticate-complete"}, outcome)).trimmed();
    }

private:
    static QByteArray hash(const QByteArray& output) {
        return QByteArray::fromBase64(object(output).value("clientDataHash").toString().toLatin1());
    }
    QByteArray run(const QStringList& arguments, const QByteArray& input = {}) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("/usr/bin/python3"),
                      QStringList{QStringLiteral(QUILLET_SOURCE_DIR "/tests/autofill/relying_party.py"),
                                  m_state} +
                          arguments);
        process.write(input);
        process.closeWriteChannel();
        process.waitForFinished(30000);
        return process.readAllStandardOutput();
    }
    QString m_state;
};

// A provider that ends each request twice, as a faulty plugin might: a code
// and then a refusal, or the other way round.
class EndsTwice : public CredentialProviderExtension {
    class Controller : public CredentialProvider::ViewController {
    public:
        using ViewController::ViewController;
        ~Controller() override { delete m_view.data(); }
        QWidget* view() override {
            if (!m_view) m_view = new QWidget;
            return m_view;
        }
        void viewDidAppear() override {}
        void provideCredentialWithoutUserInteraction(const CredentialProvider::CredentialRequest&) override {
            extensionContext().completeOneTimeCodeRequest(QStringLiteral("123456"));
            extensionContext().cancelRequest(CredentialProvider::ExtensionError::failed);
        }
        void prepareInterfaceToProvideCredential(const CredentialProvider::CredentialRequest&) override {
            extensionContext().cancelRequest(CredentialProvider::ExtensionError::userCanceled);
            extensionContext().completeOneTimeCodeRequest(QStringLiteral("123456"));
        }
        void prepareCredentialList(const QList<CredentialProvider::ServiceIdentifier>&) override {}
        void prepareCredentialList(const QList<CredentialProvider::ServiceIdentifier>&,
                                   const CredentialProvider::PasskeyRequestParameters&) override {}
        void prepareInterfaceForPasskeyRegistration(const CredentialProvider::CredentialRequest&) override {}

    private:
        QPointer<QWidget> m_view;
    };

public:
    std::unique_ptr<CredentialProvider::ViewController>
    makeViewController(CredentialProvider::ExtensionContext& context) override {
        return std::make_unique<Controller>(context);
    }
};

} // namespace

class HostTests : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    CredentialProviderExtension* extension = nullptr;
    std::unique_ptr<HostSession> session;

    QString dataFolder() const { return home.filePath(QStringLiteral("data/Quillet")); }
    QString settingsFile() const { return home.filePath(QStringLiteral("config/tarnwick/Quillet.conf")); }

    // Serves the request; `user` acts in the window once it is up. The
    // outcome as the host writes it.
    QByteArray serve(const QJsonObject& request, const std::function<void(QWidget*)>& user = {}) {
        const auto parsed = HostProtocol::parse(QJsonDocument(request).toJson());
        if (!std::holds_alternative<HostProtocol::Request>(parsed)) return "unreadable";
        session = std::make_unique<HostSession>(*extension, std::get<HostProtocol::Request>(parsed));
        session->start();
        if (!session->hasEnded() && user) {
            QWidget* window = session->window();
            if (!window) return "no window";
            // On screen and in front, or already behind the password dialog
            // it brought up; or ended without the user.
            (void)QTest::qWaitFor(
                [&] {
                    return session->hasEnded() ||
                           (window->windowHandle() && window->windowHandle()->isExposed() &&
                            QApplication::activeWindow());
                },
                QUILLET_TEST_WAIT_MS);
            if (!session->hasEnded()) user(window);
        }
        if (!QTest::qWaitFor([&] { return session->hasEnded(); }, QUILLET_TEST_WAIT_MS))
            return "not ended";
        return HostProtocol::toJson(*session->outcome()).trimmed();
    }

    QJsonObject serveObject(const QJsonObject& request,
                            const std::function<void(QWidget*)>& user = {}) {
        return object(serve(request, user));
    }

    static QJsonObject list(const QJsonArray& serviceIdentifiers) {
        return {{"entry", "credentialList"}, {"serviceIdentifiers", serviceIdentifiers}};
    }

    std::optional<Account> stored(const QUuid& id) {
        for (const Account& a : KeychainStore::loadAll().active)
            if (a.id == id) return a;
        return std::nullopt;
    }

    QList<CredentialIdentityStore::Identity> identities() {
        return CredentialIdentityStore(dataFolder() + QStringLiteral("/credential-identities.json"))
            .identities()
            .value_or(QList<CredentialIdentityStore::Identity>{});
    }

private slots:
    void initTestCase() {
        QVERIFY(home.isValid());
        qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
        qputenv("QUILLET_KEYCHAIN", "file");
        QString error;
        extension = HostSession::loadExtension(QStringLiteral(LARKSPUR_PLUGIN_PATH), &error);
        QVERIFY2(extension, qPrintable(error));
    }

    void init() {
        qputenv("QUILLET_PAM_SERVICE", "quillet-test");
        QDir(dataFolder()).removeRecursively();
        QFile::remove(settingsFile());
    }

    void cleanup() { session.reset(); }

    void unreadableRequests_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("not JSON") << QByteArray("{\"entry\":");
        QTest::newRow("a list") << QByteArray("[]");
        QTest::newRow("unknown entry") << QByteArray("{\"entry\":\"fill\"}");
        QTest::newRow("unknown kind")
            << QByteArray("{\"entry\":\"prepareInterface\",\"request\":{\"kind\":\"password\"}}");
        QTest::newRow("no request") << QByteArray("{\"entry\":\"registration\"}");
        QTest::newRow("no parameters") << QByteArray("{\"entry\":\"credentialListWithParameters\"}");
        QTest::newRow("bad Base64")
            << QByteArray("{\"entry\":\"registration\",\"request\":{\"kind\":\"passkey\",\"userHandle\":\"a*b=\"}}");
        QTest::newRow("URL-safe Base64")
            << QByteArray("{\"entry\":\"registration\",\"request\":{\"kind\":\"passkey\",\"userHandle\":\"-_8=\"}}");
        QTest::newRow("algorithm not a number")
            << QByteArray("{\"entry\":\"registration\",\"request\":{\"kind\":\"passkey\",\"supportedAlgorithms\":[\"-7\"]}}");
        // Numbers a 64-bit integer cannot hold are refused before they are
        // converted (that conversion is undefined).
        for (const char* number : {"1e19", "-1e19", "9223372036854775808", "-9.3e18", "1e400", "1.5"})
            QTest::newRow(number) << "{\"entry\":\"registration\",\"request\":{\"kind\":\"passkey\","
                                     "\"supportedAlgorithms\":[-7," + QByteArray(number) + "]}}";
        QTest::newRow("service type")
            << QByteArray("{\"entry\":\"credentialList\",\"serviceIdentifiers\":[{\"type\":\"app\",\"identifier\":\"x\"}]}");
    }

    void unreadableRequests() {
        QFETCH(QByteArray, json);
        QVERIFY(std::holds_alternative<QString>(HostProtocol::parse(json)));
    }

    void codeForANamedAccountGoesOutAtOnce() {
        // The program measured the clock 1 hour behind and stored the offset.
        KeychainStore::saveClockState({3600, QDateTime::currentDateTimeUtc(), true});
        const Account totp = account("GitHub", "octo");
        const Account hotp = account("Bank", "me", OTPType::hotp, 5);
        KeychainStore::saveAccount(totp);
        KeychainStore::saveAccount(hotp);

        const qint64 before = QDateTime::currentSecsSinceEpoch() + 3600;
        const QJsonObject code =
            serveObject(codeRequest("provideWithoutUserInteraction", totp.id));
        const qint64 after = QDateTime::currentSecsSinceEpoch() + 3600;
        QVERIFY(!session->window());
        QCOMPARE(code.value("completed").toString(), QStringLiteral("oneTimeCode"));
        QVERIFY2(QStringList({totpAt(before), totpAt(after)}).contains(code.value("code").toString()),
                 "not oathtool's code at the corrected time");

        // With interface, and a site that would fail the domain check: no
        // list, no warning, the code of counter 5, counter 6 stored.
        QJsonObject request = codeRequest("prepareInterface", hotp.id);
        request.insert("serviceIdentifiers",
                       QJsonArray{QJsonObject{{"type", "domain"}, {"identifier", "evil.example"}}});
        QCOMPARE(serve(request),
                 QByteArray("{\"code\":\"" + oathtool({"--hotp", "-c", "5"}).toLatin1() +
                            "\",\"completed\":\"oneTimeCode\"}"));
        QVERIFY(!session->window());
        QCOMPARE(stored(hotp.id)->counter, quint64(6));
    }

    void unknownIdentitiesWithoutInterfaceAreRefused_data() {
        QTest::addColumn<QJsonValue>("recordIdentifier");
        QTest::newRow("none") << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("not a UUID") << QJsonValue("github");
        QTest::newRow("in braces") << QJsonValue("{6f9619ff-8b86-d011-b42d-00c04fc964ff}");
        QTest::newRow("no such account") << QJsonValue(QUuid::createUuid().toString(QUuid::WithoutBraces));
        QTest::newRow("recently deleted") << QJsonValue("deleted");
    }

    void unknownIdentitiesWithoutInterfaceAreRefused() {
        QFETCH(QJsonValue, recordIdentifier);
        Account deleted = account("Bank", "old");
        deleted.deletedAt = QDateTime::currentDateTimeUtc();
        KeychainStore::saveAccount(deleted);
        if (recordIdentifier == QJsonValue("deleted"))
            recordIdentifier = Json::uuidText(deleted.id);
        QCOMPARE(serve(codeRequest("provideWithoutUserInteraction", recordIdentifier)),
                 QByteArray("{\"refused\":101}"));
    }

    void passkeysNeedTheUser() {
        QCOMPARE(serve({{"entry", "provideWithoutUserInteraction"},
                        {"request", QJsonObject{{"kind", "passkey"},
                                                {"relyingPartyIdentifier", "example.com"}}}}),
                 QByteArray("{\"refused\":100}"));
    }

    void theListOffersTheVaultAndCancels() {
        KeychainStore::saveAccount(account("GitHub", "octo"));
        KeychainStore::saveAccount(account("", "plain"));
        const auto cancelBy = [](bool escape) {
            return [escape](QWidget* window) {
                QCOMPARE(window->windowTitle(), QStringLiteral("Quillet"));
                QCOMPARE(window->size(), QSize(440, 520));
                QVERIFY(rowShowing(window, QStringLiteral("GitHub")));
                QVERIFY(texts(window).contains(QStringLiteral("octo")));
                QVERIFY(rowShowing(window, QStringLiteral("plain")));
                // No code is shown in the list.
                for (const QString& text : texts(window))
                    QVERIFY2(!text.contains(QRegularExpression("\\d{6}")), qPrintable(text));
                if (escape)
                    QTest::keyClick(window->findChild<QLineEdit*>(), Qt::Key_Escape);
                else
                    QTest::mouseClick(buttonNamed(window, QStringLiteral("Cancel")), Qt::LeftButton);
            };
        };
        QCOMPARE(serve(list({}), cancelBy(false)), QByteArray("{\"refused\":1}"));
        QCOMPARE(serve(list({}), cancelBy(true)), QByteArray("{\"refused\":1}"));
    }

    void anEmptyVaultSaysSo() {
        QCOMPARE(serve(codeRequest("prepareInterface", QJsonValue(QJsonValue::Undefined)),
                       [](QWidget* window) {
                           QVERIFY(texts(window).contains(
                               QStringLiteral("No accounts yet \u2014 open Quillet to add one.")));
                           QTest::keyClick(window, Qt::Key_Escape);
                       }),
                 QByteArray("{\"refused\":1}"));
    }

    void aPickForTheRightSiteFills() {
        const Account hotp = account("GitHub", "octo", OTPType::hotp, 41);
        KeychainStore::saveAccount(hotp);
        KeychainStore::saveAccount(account("Bank", "me"));
        const QByteArray outcome =
            serve(list({QJsonObject{{"type", "URL"}, {"identifier", "https://github.com/login"}}}),
                  [](QWidget* window) {
                      QLineEdit* search = window->findChild<QLineEdit*>();
                      QTest::keyClicks(search, QStringLiteral("git"));
                      QVERIFY(!rowShowing(window, QStringLiteral("Bank")));
                      QTest::mouseClick(rowShowing(window, QStringLiteral("GitHub")), Qt::LeftButton);
                  });
        QCOMPARE(object(outcome).value("code").toString(), oathtool({"--hotp", "-c", "41"}));
        QCOMPARE(stored(hotp.id)->counter, quint64(42));
    }

    void aLookAlikeSiteIsWarnedOf() {
        const Account hotp = account("GitHub", "octo", OTPType::hotp, 7);
        KeychainStore::saveAccount(hotp);
        // A Cyrillic "і" in place of the Latin one.
        const QJsonArray sites{QJsonObject{{"type", "URL"}, {"identifier", "https://g\u0456thub.com/login"}}};
        const auto pickThen = [](const QString& choice) {
            return [choice](QWidget* window) {
                QTest::mouseClick(rowShowing(window, QStringLiteral("GitHub")), Qt::LeftButton);
                QTRY_COMPARE(window->size(), QSize(380, 340));
                QTRY_VERIFY(texts(window).contains(QStringLiteral("This site looks like a fake")));
                QVERIFY(texts(window).filter(QStringLiteral("g\u0456thub.com (xn--gthub-n2e.com) "
                                                            "imitates github.com")).size() == 1);
                QVERIFY(texts(window).filter(QStringLiteral("GitHub: octo")).size() == 1);
                QTest::mouseClick(buttonNamed(window, choice), Qt::LeftButton);
            };
        };
        QCOMPARE(serve(list(sites), pickThen(QStringLiteral("Don't Fill"))),
                 QByteArray("{\"refused\":1}"));
        QCOMPARE(stored(hotp.id)->counter, quint64(7));
        const QJsonObject filled = serveObject(list(sites), pickThen(QStringLiteral("Fill Anyway")));
        QCOMPARE(filled.value("code").toString(), oathtool({"--hotp", "-c", "7"}));
        QCOMPARE(stored(hotp.id)->counter, quint64(8));
    }

    // The host program on an X11 desktop as a user meets it there: a window
    // manager, no Wayland in its environment, only the keyboard. The warning
    // takes the keyboard from the list it replaces: Return, the keypad's
    // Enter, Escape and Space (on "Don't Fill", which has the focus) each
    // refuse. Qt is asked for no Wayland display, which would only fail, aloud.
    void theWarningAnswersTheKeyboard() {
        TestSupport::WindowManager openbox;
        QVERIFY(openbox.running);
        const Account hotp = account("GitHub", "octo", OTPType::hotp, 7);
        KeychainStore::saveAccount(hotp);
        const QJsonObject request =
            list({QJsonObject{{"type", "URL"}, {"identifier", "https://g\u0456thub.com/login"}}});
        QProcessEnvironment x11 = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "WAYLAND_SOCKET"})
            x11.remove(QLatin1String(name));
        const QStringList keys{"Return", "KP_Enter", "Escape", "space"};
        for (qsizetype i = 0; i < keys.size(); ++i) {
            // As the session says, and where nothing says which it is.
            if (i % 2)
                x11.remove(QStringLiteral("XDG_SESSION_TYPE"));
            else
                x11.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
            const TestSupport::HostRun run = TestSupport::runHost(request, x11, [&](qint64 pid) {
                QString window;
                QVERIFY(QTest::qWaitFor(
                    [&] {
                        window = xdotoolOutput({"search", "--onlyvisible", "--pid",
                                                QString::number(pid), "--name", "^Quillet$"});
                        return !window.isEmpty();
                    },
                    QUILLET_TEST_WAIT_MS));
                // The one row, picked as most users pick it, with the mouse
                // (the first row's middle); then only keys.
                TestSupport::xdotool({"windowactivate", "--sync", window});
                QVERIFY(QTest::qWaitFor([&] { return xdotoolOutput({"getwindowfocus"}) == window; },
                                        QUILLET_TEST_WAIT_MS));
                TestSupport::xdotool({"mousemove", "--window", window, "220", "70", "click", "1"});
                QVERIFY(QTest::qWaitFor(
                    [&] {
                        return xdotoolOutput({"getwindowgeometry", window}).contains("380x340");
                    },
                    QUILLET_TEST_WAIT_MS));
                TestSupport::xdotool({"key", keys[i]});
            });
            QVERIFY2(run.status == 1, qPrintable(keys[i] + ": " + run.err));
            QCOMPARE(run.out, QByteArray("{\"refused\":1}\n"));
            QVERIFY2(!run.err.toLower().contains("wayland"), run.err.constData());
        }
        QCOMPARE(stored(hotp.id)->counter, quint64(7));
    }

    // A page of another host whose path ends like the site, a URL that
    // names no host at all, Punycode that would decode to the site's name
    // but is no A-label, hosts without a registrable domain, and a host
    // that a direction override would make read as the site: "Different
    // website" before anything is filled, naming the host as it was asked
    // for, to the eye and to a screen reader alike.
    void aURLThatOnlyEndsLikeTheSiteIsWarnedOf() {
        const Account hotp = account("GitHub", "octo", OTPType::hotp, 3);
        KeychainStore::saveAccount(hotp);
        for (const auto& [identifier, named] :
             {std::pair{"https://evil.example/a|b.github.com", "evil.example"},
              std::pair{"data:text/html,hi.github.com", "data:text/html,hi.github.com"},
              std::pair{"https://xn--github-.com/", "xn--github-.com"},
              std::pair{"https://./", "."},
              std::pair{"https://%2e%2e/login", ".."},
              std::pair{"https://\u202emoc.buhtig/", "\\u202Emoc.buhtig"},
              // Hosts that draw as the site: a dot over its "i", a variation
              // selector after a letter. IDNA leads the first elsewhere.
              std::pair{"https://gi\u0307thub.com/", "gi\\u0307thub.com (xn--github-qyd.com)"},
              std::pair{"https://git\uFE0Fhub.com/", "git\\uFE0Fhub.com (github.com)"}}) {
            const QJsonArray sites{QJsonObject{{"type", "URL"}, {"identifier", identifier}}};
            QCOMPARE(serve(list(sites),
                           [named](QWidget* window) {
                               QTest::mouseClick(rowShowing(window, QStringLiteral("GitHub")), Qt::LeftButton);
                               QTRY_VERIFY(texts(window).contains(QStringLiteral("Different website")));
                               const QString sentence = QStringLiteral("comes from ") + named + '.';
                               QCOMPARE(texts(window).filter(sentence).size(), 1);
                               QStringList read;
                               for (QLabel* label : window->findChildren<QLabel*>())
                                   if (label->isVisible())
                                       read << QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
                               QCOMPARE(read.filter(sentence).size(), 1);
                               QVERIFY2(!read.join(' ').contains(QRegularExpression("[\\x{2068}\\x{2069}]")),
                                        qPrintable(read.join('|')));
                               QTest::mouseClick(buttonNamed(window, QStringLiteral("Don't Fill")), Qt::LeftButton);
                           }),
                     QByteArray("{\"refused\":1}"));
        }
        QCOMPARE(stored(hotp.id)->counter, quint64(3));
    }

    void aListWithoutSitesNeverWarns() {
        KeychainStore::saveAccount(account("GitHub", "octo"));
        // The identity names no account: the list, and no sites to check.
        const QJsonObject outcome = serveObject(
            codeRequest("prepareInterface", QUuid::createUuid().toString(QUuid::WithoutBraces)),
            [](QWidget* window) {
                QTest::mouseClick(rowShowing(window, QStringLiteral("GitHub")), Qt::LeftButton);
            });
        QCOMPARE(outcome.value("completed").toString(), QStringLiteral("oneTimeCode"));
    }

    void passkeysEndToEnd() {
        QTemporaryDir rpState;
        RelyingParty site(rpState.filePath(QStringLiteral("site.json")));
        const QByteArray handle("user-1234");
        const QString rp = QStringLiteral("example.com");

        const auto registration = [&](const QByteArray& hash, const QJsonArray& excluded = {}) {
            return QJsonObject{{"entry", "registration"},
                               {"request", QJsonObject{{"kind", "passkey"},
                                                       {"relyingPartyIdentifier", rp},
                                                       {"userName", "alice"},
                                                       {"userHandle", b64(handle)},
                                                       {"clientDataHash", b64(hash)},
                                                       {"supportedAlgorithms", QJsonArray{-8, -7}},
                                                       {"excludedCredentials", excluded},
                                                       {"userVerification", "required"}}}};
        };
        const auto password = [](QWidget* window) {
            // The placeholder waits while the password is asked for, saying
            // for which site and user, as the prompt does.
            QVERIFY(texts(window).contains(QStringLiteral("Quillet")));
            QCOMPARE(window->size(), QSize(360, 160));
            QTRY_VERIFY(PasswordPrompt::dialog(passkeyPrompt));
            const QString message = QStringLiteral("Confirm it's you to use a passkey for "
                                                   "\u2068example.com\u2069 as \u2068alice\u2069.");
            // As read (the isolates themselves are checked by the controller's tests).
            QVERIFY(texts(window).contains(ChoiceScreens::withoutIsolates(message)));
            QVERIFY(texts(PasswordPrompt::dialog(passkeyPrompt)).contains(ChoiceScreens::withoutIsolates(message)));
            QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword, passkeyPrompt));
        };

        // Registration: the site's own client data, verified by the site.
        const QByteArray registered =
            serve(registration(site.registerBegin(rp, "alice", handle, "required")), password);
        QCOMPARE(site.registerComplete(registered), QStringLiteral("ok"));
        const QByteArray credentialID =
            QByteArray::fromBase64(object(registered).value("credentialID").toString().toLatin1());
        QCOMPARE(credentialID.size(), 32);
        QCOMPARE(identities().size(), 1);

        // Sign-in by identity.
        QByteArray hash = site.authenticateBegin("required");
        const QByteArray byIdentity = serve(
            {{"entry", "prepareInterface"},
             {"request", QJsonObject{{"kind", "passkey"}, {"relyingPartyIdentifier", rp},
                                     {"credentialID", b64(credentialID)},
                                     {"userHandle", b64(handle)}, {"clientDataHash", b64(hash)}}}},
            password);
        QCOMPARE(site.authenticateComplete(byIdentity), QStringLiteral("ok"));

        // Sign-in from the list: one passkey of the site, no picker.
        hash = site.authenticateBegin("required");
        const QByteArray byList =
            serve({{"entry", "credentialListWithParameters"},
                   {"parameters", QJsonObject{{"relyingPartyIdentifier", rp},
                                              {"clientDataHash", b64(hash)},
                                              {"allowedCredentials", QJsonArray{}}}}},
                  password);
        QCOMPARE(site.authenticateComplete(byList), QStringLiteral("ok"));

        // The site already knows the passkey: refused before any password.
        QCOMPARE(serve(registration(QByteArray(32, 'h'), {b64("other"), b64(credentialID)}),
                       [](QWidget*) {}),
                 QByteArray("{\"refused\":102}"));
        QVERIFY(!PasswordPrompt::dialog(passkeyPrompt));

        // Registering again replaces the user's passkey and its identity.
        RelyingParty again(rpState.filePath(QStringLiteral("again.json")));
        const QByteArray replaced =
            serve(registration(again.registerBegin(rp, "alice", handle, "required")), password);
        QCOMPARE(again.registerComplete(replaced), QStringLiteral("ok"));
        const QList<PasskeyRecord> records = PasskeyStore::loadAll();
        QCOMPARE(records.size(), 1);
        QCOMPARE(b64(records.first().credentialID), object(replaced).value("credentialID").toString());
        QCOMPARE(identities().size(), 1);
        QCOMPARE(std::get<CredentialIdentityStore::PasskeyIdentity>(identities().first()).credentialID,
                 records.first().credentialID);
        hash = again.authenticateBegin("required");
        QCOMPARE(again.authenticateComplete(serve(
                     {{"entry", "credentialListWithParameters"},
                      {"parameters", QJsonObject{{"relyingPartyIdentifier", rp},
                                                 {"clientDataHash", b64(hash)}}}},
                     password)),
                 QStringLiteral("ok"));
    }

    void theSiteChoosesAmongPasskeys() {
        QTemporaryDir rpState;
        RelyingParty site(rpState.filePath(QStringLiteral("site.json")));
        const QString rp = QStringLiteral("example.com");
        // Two users of the site, registered without a password to ask:
        // their passkeys carry no user-verified flag.
        qputenv("QUILLET_PAM_SERVICE", "absent");
        QStringList ids;
        for (const QString& user : {QStringLiteral("alice"), QStringLiteral("bob")}) {
            const QByteArray handle = user.toUtf8();
            const QByteArray hash = site.registerBegin(rp, user, handle, "discouraged");
            const QByteArray outcome =
                serve({{"entry", "registration"},
                       {"request", QJsonObject{{"kind", "passkey"}, {"relyingPartyIdentifier", rp},
                                               {"userName", user}, {"userHandle", b64(handle)},
                                               {"clientDataHash", b64(hash)},
                                               {"supportedAlgorithms", QJsonArray{-7}}}}},
                      [](QWidget*) {});
            QVERIFY2(site.registerComplete(outcome) == QStringLiteral("ok"), outcome.constData());
            ids.append(object(outcome).value("credentialID").toString());
        }
        qputenv("QUILLET_PAM_SERVICE", "quillet-test");

        const auto signIn = [&](const QJsonArray& allowed, const std::function<void(QWidget*)>& user) {
            const QByteArray hash = site.authenticateBegin("discouraged");
            return serve({{"entry", "credentialListWithParameters"},
                          {"parameters", QJsonObject{{"relyingPartyIdentifier", rp},
                                                     {"clientDataHash", b64(hash)},
                                                     {"allowedCredentials", allowed}}}},
                         user);
        };
        // Both: the picker, newest first; bob is chosen, the password asked.
        const QByteArray chosen = signIn({}, [&](QWidget* window) {
            QCOMPARE(window->size(), QSize(380, 420));
            QVERIFY(texts(window).contains(QStringLiteral("Choose a passkey")));
            QVERIFY(texts(window).contains(rp));
            QAbstractButton* alice = rowShowing(window, QStringLiteral("alice"));
            QAbstractButton* bob = rowShowing(window, QStringLiteral("bob"));
            QVERIFY(alice && bob);
            QVERIFY(bob->mapTo(window, QPoint()).y() < alice->mapTo(window, QPoint()).y());
            QTest::mouseClick(bob, Qt::LeftButton);
            QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword, passkeyPrompt));
        });
        QCOMPARE(site.authenticateComplete(chosen), QStringLiteral("ok"));
        QCOMPARE(object(chosen).value("userHandle").toString(), b64("bob"));

        // Only alice's is allowed: no picker.
        const QByteArray allowed = signIn({ids[0]}, [](QWidget* window) {
            QVERIFY(!texts(window).contains(QStringLiteral("Choose a passkey")));
            QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword, passkeyPrompt));
        });
        QCOMPARE(site.authenticateComplete(allowed), QStringLiteral("ok"));
        QCOMPARE(object(allowed).value("userHandle").toString(), b64("alice"));

        // The picker's Cancel, and a refused password, refuse with 1.
        QCOMPARE(signIn({}, [](QWidget* window) { QTest::keyClick(window, Qt::Key_Escape); }),
                 QByteArray("{\"refused\":1}"));
        QCOMPARE(signIn({ids[1]}, [](QWidget*) { QVERIFY(PasswordPrompt::cancel(passkeyPrompt)); }),
                 QByteArray("{\"refused\":1}"));
        // Another site, or a relying party in other letter case: none stored.
        QCOMPARE(serve({{"entry", "credentialListWithParameters"},
                        {"parameters", QJsonObject{{"relyingPartyIdentifier", "Example.com"},
                                                   {"clientDataHash", b64(QByteArray(32, 'h'))}}}}),
                 QByteArray("{\"refused\":101}"));
    }

    void registrationsThePluginCannotServe() {
        const auto registration = [](const QJsonObject& request) {
            return QJsonObject{{"entry", "registration"}, {"request", request}};
        };
        QCOMPARE(serve(registration({{"kind", "passkey"},
                                     {"relyingPartyIdentifier", "example.com"},
                                     {"clientDataHash", b64(QByteArray(32, 'h'))},
                                     {"supportedAlgorithms", QJsonArray{-257}}})),
                 QByteArray("{\"refused\":0}"));
        QCOMPARE(serve(registration({{"kind", "oneTimeCode"}})), QByteArray("{\"refused\":0}"));

        // Names a page could make read as another's (a direction override,
        // a line break, controls) are refused; the same request with plain
        // names registers.
        qputenv("QUILLET_PAM_SERVICE", "absent"); // nobody to ask: no prompt
        const auto passkey = [&](const QString& rp, const QString& user) {
            return serveObject(registration({{"kind", "passkey"},
                                             {"relyingPartyIdentifier", rp},
                                             {"userName", user},
                                             {"userHandle", b64(user.toUtf8())},
                                             {"clientDataHash", b64(QByteArray(32, 'h'))},
                                             {"supportedAlgorithms", QJsonArray{-7}}}),
                               [](QWidget*) {});
        };
        const QJsonObject refused{{"refused", 0}};
        QCOMPARE(passkey(QStringLiteral("evil\u202emoc.elgoog"), QStringLiteral("alice")), refused);
        QCOMPARE(passkey(QStringLiteral("example.com"), QStringLiteral("\u202eecila")), refused);
        QCOMPARE(passkey(QStringLiteral("example.com\n"), QStringLiteral("alice")), refused);
        QCOMPARE(passkey(QStringLiteral("example.com"), QStringLiteral("al\x1b[2Jice")), refused);
        QVERIFY(PasskeyStore::loadAll().isEmpty());
        QVERIFY(passkey(QStringLiteral("example.com"), QStringLiteral("alice")).contains("credentialID"));
        QCOMPARE(PasskeyStore::loadAll().size(), 1);
    }

    // The program itself: its standard input, output and exit status, the
    // plugin found beside it, its window answering a real Escape key.
    void theHostProgram() {
        const Account bank = account("Bank", "me", OTPType::hotp, 3);
        KeychainStore::saveAccount(bank);
        KeychainStore::saveAccount(account("GitHub", "octo"));
        const auto run = [](const QByteArray& input, const QStringList& arguments = {},
                            const std::function<void(qint64)>& user = {}, rlim_t fileSizeLimit = RLIM_INFINITY) {
            QProcess host;
            host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            if (fileSizeLimit != RLIM_INFINITY) {
                // pam_wrapper copies its stacks at load and stops the
                // program when it cannot; this fill asks nobody.
                QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
                environment.remove(QStringLiteral("LD_PRELOAD"));
                environment.remove(QStringLiteral("PAM_WRAPPER"));
                host.setProcessEnvironment(environment);
            }
            host.setChildProcessModifier([fileSizeLimit] {
                const rlimit limit{fileSizeLimit, fileSizeLimit};
                setrlimit(RLIMIT_FSIZE, &limit);
            });
            host.start(QStringLiteral(LARKSPUR_HOST_PATH), arguments);
            host.write(input);
            host.waitForBytesWritten(5000);
            host.closeWriteChannel();
            if (user && host.waitForStarted()) user(host.processId());
            host.waitForFinished(30000);
            return std::make_pair(host.exitCode(), host.readAllStandardOutput());
        };
        const auto unreadable = run("{\"entry\": 1}");
        QCOMPARE(unreadable.first, 2);
        QCOMPARE(unreadable.second, QByteArray());
        QCOMPARE(run(QJsonDocument(list({})).toJson(), {"--plugin", home.filePath("missing.so")}).first,
                 3);

        // Over 1 MiB, the request is refused unread: 2 MB of it, or of
        // zero bytes. At 1 MiB it is read.
        QElapsedTimer clock;
        clock.start();
        for (const char fill : {' ', '\0'}) {
            const auto huge = run("{\"entry\":\"credentialList\"}" + QByteArray(2'000'000, fill));
            QCOMPARE(huge.first, 2);
            QCOMPARE(huge.second, QByteArray());
        }
        QVERIFY2(clock.elapsed() < 20000, "reading stops at the limit"); // a loaded machine
        const QByteArray request =
            QJsonDocument(codeRequest("provideWithoutUserInteraction", bank.id)).toJson();
        const auto code = run(request + QByteArray(HostProtocol::maxRequestBytes - request.size(), ' '));
        QCOMPARE(code.first, 0);
        QCOMPARE(code.second, QByteArray("{\"code\":\"" + oathtool({"--hotp", "-c", "3"}).toLatin1() +
                                         "\",\"completed\":\"oneTimeCode\"}\n"));
        QCOMPARE(stored(bank.id)->counter, quint64(4));

        // Under a file-size limit the advance cannot be stored: the host
        // refuses the fill instead of dying of SIGXFSZ, and the counter stays.
        const auto limited = run(request, {}, {}, 64);
        QCOMPARE(limited.first, 1);
        QCOMPARE(limited.second, QByteArray("{\"refused\":0}\n"));
        QCOMPARE(stored(bank.id)->counter, quint64(4));

        const auto escaped =
            run(QJsonDocument(list({})).toJson(), {"--plugin", QStringLiteral(LARKSPUR_PLUGIN_PATH)},
                [](qint64 pid) {
                    // The key goes to the found window by XSendEvent; the
                    // window closes on the press, so sending the release may
                    // fail with BadWindow. The host's answer below is what
                    // counts, not xdotool's exit status.
                    QProcess xdotool;
                    xdotool.start(QStringLiteral("xdotool"),
                                  {"search", "--sync", "--onlyvisible", "--pid", QString::number(pid),
                                   "--name", "^Quillet$", "windowfocus", "--sync", "key", "Escape"});
                    QVERIFY(xdotool.waitForFinished(10000));
                });
        QCOMPARE(escaped.first, 1);
        QCOMPARE(escaped.second, QByteArray("{\"refused\":1}\n"));
    }

    // Without a display, or with one that does not open, the host refuses
    // a request that needs a window with its own status and a sentence,
    // never Qt's abort; one that ends without a window is still served.
    void theHostWithoutADisplay() {
        const Account bank = account("Bank", "me", OTPType::hotp, 8);
        KeychainStore::saveAccount(bank);
        if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X4242"))) QSKIP("an X server runs on :4242");
        const auto run = [](const QJsonObject& request, const QStringList& set) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM"})
                environment.remove(QLatin1String(name));
            for (const QString& variable : set)
                environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
            return TestSupport::runHost(request, environment);
        };
        const QByteArray sentence("larkspur-host: the request needs a window, and no display can be opened");
        for (const QStringList& display :
             {QStringList{}, QStringList{"DISPLAY=unix:4242"},
              QStringList{"DISPLAY=unix:4242", "QT_QPA_PLATFORM=xcb"},
              QStringList{"WAYLAND_DISPLAY=quillet-none", "QT_QPA_PLATFORM=wayland"}}) {
            const TestSupport::HostRun refused = run(list({}), display);
            QVERIFY2(refused.status == HostProtocol::noDisplay,
                     qPrintable(display.join(' ') + ": " + refused.err));
            QCOMPARE(refused.out, QByteArray());
            QVERIFY2(refused.err.contains(sentence), refused.err.constData());
        }
        QCOMPARE(stored(bank.id)->counter, quint64(8));

        // A code for a named account needs no window, with or without
        // interface.
        const auto code = [&](const char* entry) {
            const TestSupport::HostRun filled = run(codeRequest(entry, bank.id), {});
            return std::make_pair(filled.status, object(filled.out).value("code").toString());
        };
        QCOMPARE(code("provideWithoutUserInteraction"), std::make_pair(0, oathtool({"--hotp", "-c", "8"})));
        QCOMPARE(code("prepareInterface"), std::make_pair(0, oathtool({"--hotp", "-c", "9"})));
        QCOMPARE(stored(bank.id)->counter, quint64(10));
    }

    // Whatever a plugin sends after the end is not passed on.
    void theHostPassesOnTheFirstEndOnly() {
        EndsTwice plugin;
        for (const auto& [entry, first] :
             {std::pair{"provideWithoutUserInteraction", QByteArray("{\"code\":\"123456\",\"completed\":\"oneTimeCode\"}")},
              std::pair{"prepareInterface", QByteArray("{\"refused\":1}")}}) {
            HostSession twice(plugin, std::get<HostProtocol::Request>(HostProtocol::parse(
                                          QJsonDocument(codeRequest(entry, QJsonValue(QJsonValue::Undefined)))
                                              .toJson())));
            QSignalSpy ended(&twice, &HostSession::ended);
            twice.start();
            QCOMPARE(HostProtocol::toJson(*twice.outcome()).trimmed(), first);
            QCOMPARE(ended.size(), 1);
            QVERIFY(!twice.window());
        }
    }

    // A client data hash is the SHA-256 digest of the client data: a
    // request to sign or register for anything else (16 bytes, none, 33,
    // an empty one) is refused unread, with the host's sentence and status,
    // before any passkey is made or used. One that may not show a window
    // is refused before signing and may leave it out, but not get it wrong.
    void clientDataHashesOtherThanADigestAreRefused() {
        qputenv("QUILLET_PAM_SERVICE", "absent"); // nobody to ask: no prompt, no window to work
        const QString rp = QStringLiteral("example.com");
        const auto withHash = [](QJsonObject fields, const QJsonValue& hash) {
            if (!hash.isUndefined()) fields.insert("clientDataHash", hash);
            return fields;
        };
        const auto registration = [&](const QJsonValue& hash) {
            return QJsonObject{{"entry", "registration"},
                               {"request", withHash({{"kind", "passkey"},
                                                     {"relyingPartyIdentifier", rp},
                                                     {"userName", "alice"},
                                                     {"userHandle", b64("alice")},
                                                     {"supportedAlgorithms", QJsonArray{-7}}},
                                                    hash)}};
        };
        const TestSupport::HostRun registered = TestSupport::runHost(registration(b64(QByteArray(32, 'h'))));
        QVERIFY2(registered.status == 0, registered.err.constData());
        const QString credentialID = object(registered.out).value("credentialID").toString();
        QCOMPARE(PasskeyStore::loadAll().size(), 1);
        const auto assertion = [&](const char* entry, const QJsonValue& hash) {
            return QJsonObject{{"entry", entry},
                               {"request", withHash({{"kind", "passkey"},
                                                     {"relyingPartyIdentifier", rp},
                                                     {"credentialID", credentialID}},
                                                    hash)}};
        };
        const auto fromList = [&](const QJsonValue& hash) {
            return QJsonObject{{"entry", "credentialListWithParameters"},
                               {"parameters", withHash({{"relyingPartyIdentifier", rp}}, hash)}};
        };
        for (const auto& [hash, why] :
             {std::pair{QJsonValue(b64(QByteArray(16, 'h'))), "is 16 bytes, not the 32"},
              std::pair{QJsonValue(QJsonValue::Undefined), "is missing"},
              std::pair{QJsonValue(b64(QByteArray(33, 'h'))), "is 33 bytes, not the 32"},
              std::pair{QJsonValue(""), "is 0 bytes, not the 32"}}) {
            for (const QJsonObject& request :
                 {registration(hash), assertion("prepareInterface", hash), fromList(hash)}) {
                const TestSupport::HostRun run = TestSupport::runHost(request);
                const QByteArray what = request.value("entry").toString().toUtf8() + ", " + why +
                                        ": " + QByteArray::number(run.status) + " " + run.out + run.err;
                QVERIFY2(run.status == HostProtocol::unreadableRequest, what.constData());
                QCOMPARE(run.out, QByteArray());
                QVERIFY2(run.err.contains("larkspur-host: unreadable request: clientDataHash " +
                                          QByteArray(why)),
                         what.constData());
            }
        }
        const TestSupport::HostRun quietly =
            TestSupport::runHost(assertion("provideWithoutUserInteraction", b64(QByteArray(16, 'h'))));
        QCOMPARE(quietly.status, int(HostProtocol::unreadableRequest));
        QCOMPARE(TestSupport::runHost(assertion("provideWithoutUserInteraction", QJsonValue::Undefined)).out,
                 QByteArray("{\"refused\":100}\n"));
        QCOMPARE(PasskeyStore::loadAll().size(), 1);
        // With a digest the same requests sign.
        for (const QJsonObject& request : {assertion("prepareInterface", b64(QByteArray(32, 'h'))),
                                           fromList(b64(QByteArray(32, 'h')))}) {
            const TestSupport::HostRun signedIn = TestSupport::runHost(request);
            QVERIFY2(signedIn.status == 0, signedIn.err.constData());
            QCOMPARE(object(signedIn.out).value("completed").toString(), QStringLiteral("passkeyAssertion"));
        }
    }

    // Several hosts registering a passkey for one user at one site at once,
    // round after round, as several browser tabs might: every round leaves
    // exactly one passkey, the one of some host that answered success, and
    // exactly its identity.
    void concurrentRegistrationsLeaveOnePasskey() {
        qputenv("QUILLET_PAM_SERVICE", "absent"); // nobody to ask: no window to work
        QTemporaryDir rpState;
        const QByteArray handle("user-1234");
        constexpr int hosts = 5;
        constexpr int rounds = 8;
        QVERIFY(QDir().mkpath(dataFolder()));
        for (int round = 0; round < rounds; ++round) {
            // The hosts start together, as tabs opened at once do: each
            // waits at its first look into the keyring until all are there.
            QFile gate(Keychain::FileBackend::defaultPath() + QStringLiteral(".lock"));
            QVERIFY(gate.open(QIODevice::ReadWrite));
            QCOMPARE(::flock(gate.handle(), LOCK_EX), 0);
            QList<std::shared_ptr<QProcess>> running;
            QList<RelyingParty> sites;
            for (int i = 0; i < hosts; ++i) {
                // The site's own client data in the first round; made up in
                // the others, to keep the rounds quick.
                QByteArray hash = Crypto::randomBytes(32).value_or(QByteArray(32, char(i)));
                if (round == 0) {
                    sites.append(RelyingParty(rpState.filePath(QStringLiteral("site%1.json").arg(i))));
                    hash = sites.last().registerBegin("example.com", "alice", handle, "discouraged");
                }
                auto host = std::make_shared<QProcess>();
                host->start(QStringLiteral(LARKSPUR_HOST_PATH), {});
                host->write(QJsonDocument(QJsonObject{
                                {"entry", "registration"},
                                {"request", QJsonObject{{"kind", "passkey"},
                                                        {"relyingPartyIdentifier", "example.com"},
                                                        {"userName", "alice"}, {"userHandle", b64(handle)},
                                                        {"clientDataHash", b64(hash)},
                                                        {"supportedAlgorithms", QJsonArray{-7}}}}})
                                .toJson());
                host->closeWriteChannel();
                running.append(host);
            }
            const auto waiting = [&] {
                // Some thread of each host sleeps in flock().
                for (const auto& host : running) {
                    const QString tasks = QStringLiteral("/proc/%1/task").arg(host->processId());
                    bool blocked = false;
                    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                        QFile wchan(tasks + '/' + task + QStringLiteral("/wchan"));
                        blocked = blocked || (wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("lock"));
                    }
                    if (!blocked) return false;
                }
                return true;
            };
            QVERIFY(QTest::qWaitFor(waiting, QUILLET_TEST_WAIT_MS));
            ::flock(gate.handle(), LOCK_UN);
            gate.close();
            QSet<QByteArray> answered;
            for (int i = 0; i < hosts; ++i) {
                QVERIFY(running[i]->waitForFinished(QUILLET_TEST_WAIT_MS));
                const QByteArray out = running[i]->readAllStandardOutput();
                QVERIFY2(running[i]->exitCode() == 0, out.constData());
                if (round == 0) QCOMPARE(sites[i].registerComplete(out), QStringLiteral("ok"));
                answered.insert(QByteArray::fromBase64(object(out).value("credentialID").toString().toLatin1()));
            }
            const QList<PasskeyRecord> records = PasskeyStore::loadAll();
            QVERIFY2(records.size() == 1, qPrintable(QStringLiteral("round %1: %2 passkeys")
                                                         .arg(round).arg(records.size())));
            QVERIFY(answered.contains(records.first().credentialID));
            const auto registered = identities();
            QCOMPARE(registered.size(), 1);
            QCOMPARE(std::get<CredentialIdentityStore::PasskeyIdentity>(registered.first()).credentialID,
                     records.first().credentialID);
        }
    }

    // While Quillet's app lock is on, the host asks for the owner's password
    // before anything goes out, and refuses where it cannot ask.
    void theAppLockAsksForThePassword() {
        // In a process of its own (the test HostLockTests): the settings and
        // the PAM stacks are read once per process, and the other functions'
        // own runs must not have been there first.
        if (!qEnvironmentVariableIsSet("QUILLET_HOST_LOCK_TEST"))
            QSKIP("runs as HostLockTests");
        const Account bank = account("Bank", "me", OTPType::hotp, 3);
        KeychainStore::saveAccount(bank);
        UserDefaults(settingsFile()).setValue(Settings::appLockEnabled.key, true);
        // Served as the host serves it while the lock is on (the program
        // below reads the lock from the settings): the question first,
        // answered in its dialog by `user`.
        const auto serveLocked = [&](const QJsonObject& json, const std::function<void()>& user,
                                     const std::function<void(QWidget*)>& inWindow = {}) -> QByteArray {
            const HostProtocol::Request request =
                std::get<HostProtocol::Request>(HostProtocol::parse(QJsonDocument(json).toJson()));
            session = std::make_unique<HostSession>(*extension, request);
            session->requireOwner(QStringLiteral("Quillet is locked."));
            session->start();
            if (session->hasEnded() || session->window()) return "served before the question";
            user();
            if (inWindow && QTest::qWaitFor([&] { return session->hasEnded() || session->window(); },
                                            QUILLET_TEST_WAIT_MS) &&
                !session->hasEnded())
                inWindow(session->window());
            if (!QTest::qWaitFor([&] { return session->hasEnded(); }, QUILLET_TEST_WAIT_MS))
                return "not ended";
            return HostProtocol::toJson(*session->outcome()).trimmed();
        };
        const auto rightPassword = [] {
            const bool answered = PasswordPrompt::answer(PasswordPrompt::rightPassword);
            QDialog* open = PasswordPrompt::dialog();
            QVERIFY2(answered, qPrintable(QStringLiteral("dialog %1 field %2 accept %3 windows %4")
                                              .arg(open != nullptr)
                                              .arg(open && open->findChild<QLineEdit*>() ? open->findChild<QLineEdit*>()->isReadOnly() : -1)
                                              .arg(open ? PasswordPrompt::acceptButton(open) != nullptr : -1)
                                              .arg(QApplication::topLevelWidgets().size())));
        };
        const QJsonObject fill = codeRequest("provideWithoutUserInteraction", bank.id);

        // The owner's password: the code goes out.
        QCOMPARE(object(serveLocked(fill, rightPassword)).value("code").toString(),
                 oathtool({"--hotp", "-c", "3"}));
        QCOMPARE(stored(bank.id)->counter, quint64(4));
        // The list shows only after the password; a row picked fills.
        const QByteArray picked = serveLocked(list({}), rightPassword, [](QWidget* window) {
            QAbstractButton* row = nullptr;
            QVERIFY(QTest::qWaitFor([&] { return (row = rowShowing(window, QStringLiteral("Bank"))); },
                                    QUILLET_TEST_WAIT_MS));
            QTest::mouseClick(row, Qt::LeftButton);
        });
        QCOMPARE(object(picked).value("code").toString(), oathtool({"--hotp", "-c", "4"}));

        // A passkey: the lock's question is the only one, and counts as the
        // user's verification the site asks for.
        QTemporaryDir rpState;
        RelyingParty site(rpState.filePath(QStringLiteral("site.json")));
        const QByteArray hash = site.registerBegin("example.com", "alice", "alice", "required");
        const QByteArray registered = serveLocked(
            {{"entry", "registration"},
             {"request", QJsonObject{{"kind", "passkey"}, {"relyingPartyIdentifier", "example.com"},
                                     {"userName", "alice"}, {"userHandle", b64("alice")},
                                     {"clientDataHash", b64(hash)}, {"supportedAlgorithms", QJsonArray{-7}}}}},
            rightPassword);
        QCOMPARE(site.registerComplete(registered), QStringLiteral("ok"));
        QVERIFY(!PasswordPrompt::dialog(passkeyPrompt));
        // The question closed: refused, and the counter stays.
        QCOMPARE(serveLocked(fill, [] { QVERIFY(PasswordPrompt::cancel()); }), QByteArray("{\"refused\":1}"));
        QCOMPARE(stored(bank.id)->counter, quint64(5));

        // The host program, where nobody can be asked: its own status and
        // sentence, and nothing goes out.
        QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM"})
            noDisplay.remove(QLatin1String(name));
        QProcessEnvironment noPassword = QProcessEnvironment::systemEnvironment();
        noPassword.insert(QStringLiteral("QUILLET_PAM_SERVICE"), QStringLiteral("absent"));
        for (const QProcessEnvironment& cannotAsk : {noDisplay, noPassword}) {
            const TestSupport::HostRun run = TestSupport::runHost(fill, cannotAsk);
            QCOMPARE(run.status, int(HostProtocol::lockedCannotAsk));
            QCOMPARE(run.out, QByteArray());
            QVERIFY2(run.err.contains("larkspur-host: Quillet is locked, and "), run.err.constData());
        }
        QCOMPARE(stored(bank.id)->counter, quint64(5));

        // The lock off: the code goes out at once, nobody asked.
        UserDefaults(settingsFile()).setValue(Settings::appLockEnabled.key, false);
        const TestSupport::HostRun run = TestSupport::runHost(fill, noDisplay);
        QCOMPARE(run.status, 0);
        QCOMPARE(object(run.out).value("code").toString(), oathtool({"--hotp", "-c", "5"}));
    }

    // A site longer than the name system allows is refused unread, with the
    // host's sentence and status; one at the limits is served (here: it
    // needs a window, and there is no display).
    void sitesBeyondTheNameSystemAreRefused() {
        QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM"})
            noDisplay.remove(QLatin1String(name));
        const QString label63(63, QLatin1Char('a'));
        const QString longest = label63 + '.' + label63 + '.' + label63 + '.' + QString(61, 'b'); // 253
        const auto run = [&](const QString& type, const QString& identifier) {
            return TestSupport::runHost(list({QJsonObject{{"type", type}, {"identifier", identifier}}}),
                                        noDisplay);
        };
        for (const auto& [type, identifier] :
             {std::pair{"domain", longest + "c"}, std::pair{"domain", label63 + "a.example"},
              std::pair{"URL", "https://" + longest + "c/"}, std::pair{"URL", "https://" + QString(1'000'000, 'a') + "/"},
              std::pair{"URL", "https://" + QString(500'000, QChar(0x0430)) + ".com/"},
              std::pair{"URL", "not a URL " + QString(300, 'x')}}) {
            const TestSupport::HostRun refused = run(QString::fromLatin1(type), identifier);
            QVERIFY2(refused.status == HostProtocol::unreadableRequest, refused.err.constData());
            QVERIFY2(refused.err.contains("longer than the name system allows"), refused.err.constData());
        }
        for (const auto& [type, identifier] :
             {std::pair{"domain", longest}, std::pair{"domain", longest + "."},
              std::pair{"URL", "https://" + longest + "/path/" + QString(5000, 'p')}})
            QCOMPARE(run(QString::fromLatin1(type), identifier).status, int(HostProtocol::noDisplay));
    }

    void closingTheWindowCancels() {
        KeychainStore::saveAccount(account("GitHub", "octo"));
        QCOMPARE(serve(list({}), [](QWidget* window) { window->close(); }),
                 QByteArray("{\"refused\":1}"));
    }
};

QUILLET_TEST_MAIN(HostTests)
#include "HostTests.moc"
