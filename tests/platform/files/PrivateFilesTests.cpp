// Folders and settings that only their user may read, whatever the umask.
#include "platform/files/CredentialIdentityStore.h"
#include "platform/files/PrivateFolder.h"
#include "platform/files/UserDefaults.h"
#include "tests/support/TestMain.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

} // namespace

class PrivateFilesTests : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    mode_t oldMask = 0;

private slots:
    void init() { oldMask = ::umask(022); }
    void cleanup() { ::umask(oldMask); }

    void foldersAreMadePrivate() {
        const QString root = dir.filePath(QStringLiteral("folders"));
        QVERIFY(QDir().mkpath(root));
        ::chmod(QFile::encodeName(root).constData(), 0755);
        const QString nested = root + QStringLiteral("/share/Quillet");
        QVERIFY(PrivateFolder::ensure(nested));
        QCOMPARE(modeOf(root + QStringLiteral("/share")), mode_t(0700));
        QCOMPARE(modeOf(nested), mode_t(0700));
        QCOMPARE(modeOf(root), mode_t(0755)); // a parent that existed stays as it was

        // One an earlier version made readable by all is tightened.
        ::chmod(QFile::encodeName(nested).constData(), 0755);
        QVERIFY(PrivateFolder::ensure(nested));
        QCOMPARE(modeOf(nested), mode_t(0700));
        QVERIFY(!PrivateFolder::ensure(QStringLiteral("/proc/version/x")));
    }

    void settingsFileIsPrivate() {
        const QString path = dir.filePath(QStringLiteral("config/tarnwick/Quillet.conf"));
        {
            UserDefaults defaults(path);
            defaults.setValue(QStringLiteral("key"), 1);
        }
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(modeOf(QFileInfo(path).path()), mode_t(0700));

        // A file an earlier version left readable by all: private from the
        // start, and after every write that replaces it.
        ::chmod(QFile::encodeName(path).constData(), 0644);
        UserDefaults defaults(path);
        QCOMPARE(modeOf(path), mode_t(0600));
        defaults.setValue(QStringLiteral("key"), 2);
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(UserDefaults(path).integer(QStringLiteral("key")), 2);
    }

    // The AutoFill identities, written by the program and by the credential
    // provider into the folder that may also hold the keyring file.
    void identityFileIsPrivate() {
        const QString folder = dir.filePath(QStringLiteral("identities/Quillet"));
        QVERIFY(QDir().mkpath(folder));
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        CredentialIdentityStore store(folder + QStringLiteral("/credential-identities.json"));
        QVERIFY(store.saveCredentialIdentities(
            {CredentialIdentityStore::OneTimeCodeIdentity{}}));
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(modeOf(store.path()), mode_t(0600));
    }
};

QUILLET_TEST_GUILESS_MAIN(PrivateFilesTests)
#include "PrivateFilesTests.moc"
