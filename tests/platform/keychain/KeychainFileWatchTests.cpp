// The keychain watch over the file backend, on real files: it tells of every
// write of the keychain file, once, also where the file is reached through a
// link or its folder is yet to be made, and of nothing else in the folders
// it watches (the program keeps other files beside the keychain).
#include "platform/keychain/KeychainFile.h"
#include "platform/keychain/KeychainWatch.h"
#include "tests/support/TestMain.h"

#include <QFileSystemWatcher>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace Keychain;

namespace {

Item item(const QString& account, const QByteArray& data) {
    Item i;
    i.service = QStringLiteral("watched");
    i.account = account;
    i.data = data;
    return i;
}

bool write(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode) {
    QFile file(path);
    return file.open(mode) && file.write(bytes) == bytes.size();
}

} // namespace

class KeychainFileWatchTests : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    // Runs `change` on files in `folder` and returns once the watch has been
    // told of it: a watcher of the test's own hears the same change at the
    // same moment, and the turn of the event loop that hands it over hands
    // the watch's over too.
    static void settle(const QString& folder, const std::function<void()>& change) {
        QFileSystemWatcher own({folder});
        QSignalSpy heard(&own, &QFileSystemWatcher::directoryChanged);
        change();
        QTRY_VERIFY(!heard.isEmpty());
        QCoreApplication::processEvents();
    }

private slots:
    void cleanup() { Keychain::setBackend(std::make_shared<MemoryBackend>()); }

    void tellsOfTheKeychainFileOnly() {
        const QString data = dir.filePath(QStringLiteral("share"));
        const QString folder = data + QStringLiteral("/Quillet");
        const QString path = folder + QStringLiteral("/keychain.json");
        auto backend = std::make_shared<FileBackend>(path);
        Keychain::setBackend(backend);
        KeychainWatch watch;
        QSignalSpy changed(&watch, &KeychainWatch::changed);

        // No folder yet: watched from the nearest one there is, where the
        // folder and the program's other files come without a word.
        settle(dir.path(), [&] {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(write(folder + QStringLiteral("/credential-identities.json"), "[]",
                          QIODevice::WriteOnly));
        });
        QCOMPARE(changed.size(), 0);
        QCOMPARE(backend->add(item(QStringLiteral("a"), "1")), success);
        QTRY_COMPARE(changed.size(), 1);

        // Beside it, the timeline and the transaction lock change; then the
        // keychain, once per write, also when a write changes its size
        // nowhere.
        settle(folder, [&] {
            QVERIFY(write(folder + QStringLiteral("/security-timeline.jsonl"), "{}\n",
                          QIODevice::Append));
            QVERIFY(write(folder + QStringLiteral("/keychain.transaction.lock"), "", QIODevice::WriteOnly));
        });
        QCOMPARE(changed.size(), 1);
        Query query;
        query.service = QStringLiteral("watched");
        for (const QByteArray data : {"2", "3"}) {
            const qsizetype before = changed.size();
            settle(folder, [&] { QCOMPARE(backend->update(query, data), success); });
            QCOMPARE(changed.size(), before + 1);
        }
    }

    // Items kept elsewhere through a link: writes there are heard, the link
    // turned to another file too, and a link that points nowhere is no file.
    void followsALinkToItsFile() {
        const QString folder = dir.filePath(QStringLiteral("linked"));
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(folder) && QDir().mkpath(elsewhere));
        const QString path = folder + QStringLiteral("/keychain.json");
        const QString target = elsewhere + QStringLiteral("/real.json");
        QCOMPARE(FileBackend(target).add(item(QStringLiteral("a"), "1")), success);
        QVERIFY(QFile::link(target, path));
        auto backend = std::make_shared<FileBackend>(path);
        Keychain::setBackend(backend);
        KeychainWatch watch;
        QSignalSpy changed(&watch, &KeychainWatch::changed);

        settle(elsewhere, [&] {
            QVERIFY(write(elsewhere + QStringLiteral("/notes.txt"), "x", QIODevice::WriteOnly));
        });
        QCOMPARE(changed.size(), 0);
        settle(elsewhere, [&] { QCOMPARE(backend->add(item(QStringLiteral("b"), "2")), success); });
        QCOMPARE(changed.size(), 1);
        QVERIFY(QFileInfo(path).isSymLink());

        const QString other = elsewhere + QStringLiteral("/other.json");
        QCOMPARE(FileBackend(other).add(item(QStringLiteral("c"), "3")), success);
        const qsizetype before = changed.size();
        settle(folder, [&] { QVERIFY(QFile::remove(path) && QFile::link(other, path)); });
        QCOMPARE(changed.size(), before + 1);
        settle(elsewhere, [&] { QVERIFY(QFile::remove(other)); });
        QCOMPARE(changed.size(), before + 2);
    }
};

QUILLET_TEST_GUILESS_MAIN(KeychainFileWatchTests)
#include "KeychainFileWatchTests.moc"
