// Folders and settings that only their user may read, whatever the umask.
#include "platform/files/CredentialIdentityStore.h"
#include "platform/files/PrivateFolder.h"
#include "platform/files/RegularFile.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/KeychainFile.h"
#include "platform/system/LoginItem.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>
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

    // What another program can leave where the settings file belongs: it is
    // neither read (a FIFO would hold the start for ever, a device or a huge
    // file take all memory) nor replaced by the next write. The settings
    // start from their defaults, live in memory, and the problem is told.
    void damagedSettingsFilesAreLeftAlone() {
        const QString folder = dir.filePath(QStringLiteral("damaged"));
        QVERIFY(QDir().mkpath(folder));
        const auto kind = [](const QString& path) {
            struct stat info {};
            return ::stat(QFile::encodeName(path).constData(), &info) == 0
                       ? std::pair(info.st_mode & S_IFMT, qint64(info.st_size))
                       : std::pair(mode_t(0), qint64(-1));
        };
        const QString key = QStringLiteral("showCodeInMenuBar.v1");
        for (const QString damage : {"fifo", "device", "folder", "large", "lock", "later"}) {
            const QString path = folder + u'/' + damage + QStringLiteral(".conf");
            if (damage == u"fifo" || damage == u"later")
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            else if (damage == u"device")
                QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
            else if (damage == u"folder")
                QVERIFY(QDir().mkpath(path));
            else if (damage == u"large") {
                QFile large(path);
                QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(UserDefaults::maximumFileSize + 1));
            }
            else if (damage == u"lock")
                QCOMPARE(::mkfifo(QFile::encodeName(path + QStringLiteral(".lock")).constData(), 0600), 0);
            std::optional<UserDefaults> defaults;
            if (damage == u"later") {
                // A good file replaced while the program runs: what was read
                // and set goes on from memory.
                QVERIFY(QFile::remove(path));
                defaults.emplace(path);
                defaults->setValue(QStringLiteral("kept"), 7);
                QVERIFY(!defaults->problem());
                QVERIFY(QFile::remove(path));
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            } else {
                defaults.emplace(path);
                QVERIFY2(defaults->problem(), qPrintable(damage));
                QVERIFY(!defaults->contains(key));
            }
            const auto before = kind(path);
            QSignalSpy told(&*defaults, &UserDefaults::problemChanged);
            defaults->setValue(key, false);
            QCOMPARE(defaults->boolean(key), false);
            defaults->remove(key);
            QVERIFY(!defaults->contains(key));
            QVERIFY2(defaults->problem() && defaults->problem()->contains(path), qPrintable(damage));
            QCOMPARE(told.size(), damage == u"later" ? 1 : 0);
            if (damage == u"later") QCOMPARE(defaults->integer(QStringLiteral("kept")), 7);
            QVERIFY2(kind(path) == before, qPrintable(damage));
            if (damage == u"lock") QVERIFY(!QFile::exists(path));
        }
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

    // Each file the program and the credential provider write, made a link
    // to a device (/dev/zero, also when run as root), a FIFO, a folder or
    // nothing: every write is refused with a sentence naming the file, and
    // what the link names is still what it was, with nothing beside it.
    void writersRefuseLinksToWhatIsNotAFile() {
        const QString root = dir.filePath(QStringLiteral("links"));
        QVERIFY(QDir().mkpath(root));
        const QString fifo = root + QStringLiteral("/fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString folder = root + QStringLiteral("/folder");
        QVERIFY(QDir().mkpath(folder));
        const QString nothing = root + QStringLiteral("/nothing/here");
        QVERIFY(QDir().mkpath(root + QStringLiteral("/nothing")));
        const auto kind = [](const QString& path) {
            struct stat info {};
            return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & S_IFMT
                                                                             : mode_t(0);
        };
        const auto strays = [](const QString& target) {
            const QFileInfo info(target);
            return info.dir().entryList({info.fileName() + QStringLiteral("?*")},
                                        QDir::AllEntries | QDir::Hidden | QDir::System);
        };
        const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
        const QString config = root + QStringLiteral("/config");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        QVERIFY(QDir().mkpath(config + QStringLiteral("/autostart")));

        const QList<std::pair<QString, mode_t>> targets = {
            {QStringLiteral("/dev/zero"), S_IFCHR}, {fifo, S_IFIFO}, {folder, S_IFDIR}, {nothing, 0}};
        for (const auto& [target, was] : targets) {
            const QStringList writers = {"identities", "keychain", "settings", "autostart"};
            for (const QString& writer : writers) {
                const QString path = writer == u"autostart" ? LoginItem::desktopFilePath()
                                                            : root + u'/' + writer;
                QFile::remove(path);
                QVERIFY(QFile::link(target, path));
                const QString what = writer + QStringLiteral(" -> ") + target;
                const std::optional<QString> sentence = RegularFile::writeRefusal(path);
                QVERIFY2(sentence && sentence->contains(path) && sentence->contains(target),
                         qPrintable(what));
                if (writer == u"identities") {
                    CredentialIdentityStore store(path);
                    QVERIFY2(!store.replaceCredentialIdentityEntries(
                                 {CredentialIdentityStore::OneTimeCodeIdentity{{}, "l", "r"}}),
                             qPrintable(what));
                } else if (writer == u"keychain") {
                    Keychain::FileBackend backend(path);
                    Keychain::Item item;
                    item.service = QStringLiteral("s");
                    item.account = QStringLiteral("a");
                    item.data = "secret";
                    QVERIFY2(backend.add(item) != Keychain::success, qPrintable(what));
                } else if (writer == u"settings") {
                    UserDefaults defaults(path);
                    defaults.setValue(QStringLiteral("key"), 1);
                    QVERIFY2(defaults.problem(), qPrintable(what));
                } else {
                    QString error;
                    QVERIFY2(!LoginItem::registerItem(&error), qPrintable(what));
                    QCOMPARE(error, *sentence);
                }
                QVERIFY2(QFileInfo(path).isSymLink(), qPrintable(what));
                QCOMPARE(QFileInfo(path).symLinkTarget(), target);
                QVERIFY2(kind(target) == was, qPrintable(what));
                QVERIFY2(strays(target).isEmpty(), qPrintable(what + ": " + strays(target).join(' ')));
                const QStringList inFolder = QDir(folder).entryList(
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
                QVERIFY2(inFolder.isEmpty(), qPrintable(what + ": " + inFolder.join(' ')));
                QFile::remove(path);
            }
        }
        // A link to a regular file is written through, as before.
        const QString file = root + QStringLiteral("/file");
        QFile made(file);
        QVERIFY(made.open(QIODevice::WriteOnly));
        made.close();
        QVERIFY(QFile::link(file, root + QStringLiteral("/toFile")));
        QVERIFY(!RegularFile::writeRefusal(root + QStringLiteral("/toFile")));
        QVERIFY(!RegularFile::writeRefusal(root + QStringLiteral("/absent")));
        QVERIFY(CredentialIdentityStore(root + QStringLiteral("/toFile")).replaceCredentialIdentityEntries({}));
        QCOMPARE(kind(file), mode_t(S_IFREG));
        qputenv("XDG_CONFIG_HOME", oldConfig);
    }
};

QUILLET_TEST_GUILESS_MAIN(PrivateFilesTests)
#include "PrivateFilesTests.moc"
