// A settings change on a full disk, in the settings window as the user makes
// it: the disk is a small file system of the test's own
// (tests/with-full-disk.sh), filled to its last block.
#include "core/Settings.h"
#include "menubar/GeneralTab.h"
#include "menubar/SettingsWindow.h"
#include "platform/files/UserDefaults.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "tests/support/Screen.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QCheckBox>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace TestSupport;

class SettingsFullDiskTests : public QObject, TestSupport::VaultFixture {
    Q_OBJECT

    QString disk;

    // Fills the file system with one file until it takes no more.
    bool fill() {
        const QByteArray name = QFile::encodeName(disk + QStringLiteral("/filler"));
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        const QByteArray block(4096, 'f');
        while (::write(fd, block.constData(), block.size()) > 0) {
        }
        const bool full = errno == ENOSPC;
        // What is left is smaller than a block: take that too.
        while (::write(fd, block.constData(), 1) > 0) {
        }
        ::close(fd);
        return full;
    }

    static QString stored(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void initTestCase() {
        disk = qEnvironmentVariable("QUILLET_FULL_DISK");
        if (disk.isEmpty())
            QSKIP("needs a file system of its own to fill (tests/with-full-disk.sh, as root)");
    }

    void aChangeTheDiskCannotTakeIsToldAndUndone() {
        openVault();
        const QString path = disk + QStringLiteral("/config/tarnwick/Quillet.conf");
        defaults = std::make_unique<UserDefaults>(path);
        defaults->setValue(Settings::showCodeInMenuBar.key, false);
        QVERIFY(!defaults->problem());
        openStore();
        AppSettings settings(*defaults);
        AppLockMac lock(*defaults);
        SettingsWindow window(*store, settings, lock, *defaults, *log);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* showCode = shown<QCheckBox>(window.general(), "Show a code in the tray");
        QVERIFY(showCode && !showCode->isChecked());

        QVERIFY(fill());
        showCode->click();
        // The switch shows what is stored, and a line says why.
        QTRY_VERIFY(!showCode->isChecked());
        QVERIFY(!settings.showCodeInMenuBar());
        const QString told = "Your change to the settings was not saved: Quillet could not write " +
                             path + " (No space left on device).";
        QVERIFY(label(window.general(), told));
        // What the next start reads.
        QVERIFY(stored(path).contains(Settings::showCodeInMenuBar.key + "=false"));

        // With room again, the next change is stored and the line goes.
        QVERIFY(QFile::remove(disk + QStringLiteral("/filler")));
        showCode->click();
        QTRY_VERIFY(showCode->isChecked());
        QVERIFY(settings.showCodeInMenuBar());
        QTRY_VERIFY(absent(window.general(), told));
        QVERIFY(!defaults->problem());
        QVERIFY(stored(path).contains(Settings::showCodeInMenuBar.key + "=true"));
    }
};

QUILLET_TEST_MAIN(SettingsFullDiskTests)
#include "SettingsFullDiskTests.moc"
