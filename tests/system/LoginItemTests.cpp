// Launching at login and the desktop actions that have no X server to talk
// to (this runs on the offscreen platform).
#include "platform/desktop/Accessibility.h"
#include "platform/desktop/SyntheticKeys.h"
#include "platform/system/LoginItem.h"
#include "platform/system/Sound.h"
#include "system/SystemActions.h"
#include "tests/support/TestMain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class LoginItemTests : public QObject {
    Q_OBJECT

    QTemporaryDir config;

    QString entry() const { return config.filePath(QStringLiteral("autostart/quillet.desktop")); }

    QStringList entryLines() const {
        QFile file(entry());
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    void writeEntry(const QByteArray& contents) {
        QVERIFY(QDir().mkpath(config.filePath(QStringLiteral("autostart"))));
        QFile file(entry());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

private slots:
    void initTestCase() {
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        QCOMPARE(LoginItem::desktopFilePath(), entry());
    }

    void init() {
        const QString folder = config.filePath(QStringLiteral("autostart"));
        QDir(folder).removeRecursively();
        QFile::remove(folder);
    }

    void registeringWritesAnAutostartEntryForThisBinary() {
        QCOMPARE(LoginItem::status(), LoginItem::Status::notRegistered);
        QCOMPARE(SystemActions::setLaunchAtLogin(true), std::nullopt);
        QCOMPARE(LoginItem::status(), LoginItem::Status::enabled);
        const QStringList lines = entryLines();
        QCOMPARE(lines.value(0), QStringLiteral("[Desktop Entry]"));
        QVERIFY(lines.contains(QStringLiteral("Type=Application")));
        QVERIFY(lines.contains(QStringLiteral("Exec=") + QCoreApplication::applicationFilePath()));

        QCOMPARE(SystemActions::setLaunchAtLogin(false), std::nullopt);
        QCOMPARE(LoginItem::status(), LoginItem::Status::notRegistered);
        QVERIFY(!QFile::exists(entry()));
    }

    void askingForTheCurrentStateChangesNothing() {
        // An entry the user edited by hand is left exactly as it is.
        writeEntry("[Desktop Entry]\nType=Application\nExec=/opt/quillet --minimised\n");
        QCOMPARE(SystemActions::setLaunchAtLogin(true), std::nullopt);
        QVERIFY(entryLines().contains(QStringLiteral("Exec=/opt/quillet --minimised")));

        QFile::remove(entry());
        QCOMPARE(SystemActions::setLaunchAtLogin(false), std::nullopt);
        QVERIFY(!QFile::exists(entry()));
    }

    void anEntryTheDesktopSwitchedOffWaitsForTheUserAndIsRewrittenOnRequest() {
        writeEntry("[Desktop Entry]\nType=Application\nExec=/old/quillet\nHidden=true\n");
        QCOMPARE(LoginItem::status(), LoginItem::Status::requiresApproval);
        // Turning it off again leaves the user's entry alone.
        QCOMPARE(SystemActions::setLaunchAtLogin(false), std::nullopt);
        QVERIFY(QFile::exists(entry()));

        writeEntry("[Desktop Entry]\nExec=/old/quillet\nX-GNOME-Autostart-enabled=false\n");
        QCOMPARE(LoginItem::status(), LoginItem::Status::requiresApproval);
        QCOMPARE(SystemActions::setLaunchAtLogin(true), std::nullopt);
        QCOMPARE(LoginItem::status(), LoginItem::Status::enabled);
        QVERIFY(entryLines().contains(QStringLiteral("Exec=") +
                                      QCoreApplication::applicationFilePath()));
    }

    void aFailedChangeReportsWhy() {
        // A plain file where the autostart folder belongs (works even as root,
        // where permissions would not stop the write).
        QFile blocker(config.filePath(QStringLiteral("autostart")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const std::optional<QString> error = SystemActions::setLaunchAtLogin(true);
        QVERIFY(error.has_value());
        QVERIFY2(error->contains(config.filePath(QStringLiteral("autostart"))), qPrintable(*error));
        QCOMPARE(LoginItem::status(), LoginItem::Status::notRegistered);
    }

    void withoutAnXServerNothingIsSentOrOpened() {
        QVERIFY(!Accessibility::isTrusted());
        QVERIFY(!Accessibility::isTrustedWithPrompt());
        QVERIFY(!SyntheticKeys::type(QStringLiteral("123456")));
        SystemActions::typeText(QStringLiteral("123456"));
        // Linux has no settings panes to open; the caller explains instead.
        QVERIFY(!SystemActions::openAccessibilitySettings());
        QVERIFY(!SystemActions::openLoginItemsSettings());
        QVERIFY(SystemActions::accessibilitySettingsHelp().contains(QStringLiteral("XTEST")));
        QVERIFY(SystemActions::loginItemsSettingsHelp().contains(entry()));
        QVERIFY(Sound::isKnown(QStringLiteral("Tink")));
        QVERIFY(!Sound::isKnown(QStringLiteral("NoSuchSound")));
        Sound::play(QStringLiteral("Tink"));
        Sound::play(QStringLiteral("NoSuchSound"));
    }
};

QUILLET_TEST_MAIN(LoginItemTests)
#include "LoginItemTests.moc"
