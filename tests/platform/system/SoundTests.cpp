// The copy sound, heard through ALSA's file plugin: a private ~/.asoundrc
// sends the default device's samples to a file, so each test sees exactly
// which sound was played. Private XDG folders hold tiny sound themes.

#include "platform/system/Sound.h"
#include "tests/support/TestMain.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

void writeFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(contents), contents.size());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A mono 16-bit 44.1 kHz RIFF WAVE file around `samples`.
QByteArray wav(const QByteArray& samples) {
    QByteArray out;
    QDataStream stream(&out, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.writeRawData("RIFF", 4);
    stream << quint32(36 + samples.size());
    stream.writeRawData("WAVEfmt ", 8);
    stream << quint32(16) << quint16(1) << quint16(1) << quint32(44100) << quint32(88200)
           << quint16(2) << quint16(16);
    stream.writeRawData("data", 4);
    stream << quint32(samples.size());
    stream.writeRawData(samples.constData(), int(samples.size()));
    return out;
}

// The samples of a WAVE file: its "data" chunk.
QByteArray wavSamples(const QByteArray& file) {
    qsizetype at = 12;
    while (at + 8 <= file.size()) {
        const quint32 size = qFromLittleEndian<quint32>(file.constData() + at + 4);
        if (file.mid(at, 4) == "data") return file.mid(at + 8, size);
        at += 8 + size + (size & 1);
    }
    return {};
}

// A recognisable sound of its own: a sawtooth whose step is `seed`.
QByteArray tone(int frames, int seed) {
    QByteArray samples(frames * 2, Qt::Uninitialized);
    for (int i = 0; i < frames; ++i)
        qToLittleEndian<qint16>(qint16((i * seed) % 20000 - 10000), samples.data() + 2 * i);
    return samples;
}

// A sound theme under `dataDir`, with a "message" event or without one.
void makeTheme(const QString& dataDir, const QString& name, const QByteArray& message) {
    const QString theme = dataDir + "/sounds/" + name;
    writeFile(theme + "/index.theme", "[Sound Theme]\nName=" + name.toUtf8() +
                                          "\nDirectories=stereo\n\n[stereo]\nOutputProfile=stereo\n");
    writeFile(theme + "/stereo/dialog-warning.wav", wav(tone(500, 3)));
    if (!message.isEmpty()) writeFile(theme + "/stereo/message.wav", wav(message));
}

} // namespace

class SoundTests : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    QString output_;

    QString path(const QString& relative) const { return root_.filePath(relative); }

    // Runs this program as a child that plays `name` and then waits until
    // its input is closed, with its own home (and so its own ALSA devices).
    void startPlaying(QProcess& child, const QString& home, const QString& dataDir) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home);
        environment.insert("XDG_CONFIG_HOME", home + "/.config");
        environment.insert("XDG_DATA_DIRS", path(dataDir));
        // libcanberra remembers where it found an event, per user cache.
        environment.insert("XDG_CACHE_HOME", path("cache-" + dataDir));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {"--play", "Tink"});
        QVERIFY(child.waitForStarted());
    }

    void finishPlaying(QProcess& child) {
        child.closeWriteChannel();
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(QString::fromLocal8Bit(child.readAllStandardError()), QString());
        QCOMPARE(QString::fromLocal8Bit(child.readAllStandardOutput()), QString("played\n"));
    }

    // Plays `name` and waits until the device has taken exactly `expected`.
    void expectPlayed(const QString& name, const QByteArray& expected) {
        QFile::remove(output_);
        Sound::play(name);
        QTRY_COMPARE(readFile(output_).size(), expected.size());
        QVERIFY(readFile(output_) == expected);
    }

    // Plays `name` and sees that no sound was started: the device opens
    // before play() returns.
    void expectSilence(const QString& name) {
        QFile::remove(output_);
        Sound::play(name);
        QVERIFY(!QFile::exists(output_));
    }

private slots:
    void initTestCase() {
        QVERIFY(root_.isValid());
        output_ = path("played.raw");
        writeFile(path("home/.asoundrc"), "pcm.!default {\n  type file\n  slave.pcm \"null\"\n"
                                          "  file \"" + output_.toUtf8() +
                                              "\"\n  format \"raw\"\n}\n");
        qputenv("HOME", QFile::encodeName(path("home")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path("home/.config")));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(path("home/.cache")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(path("home/.local/share")));
        qputenv("CANBERRA_DRIVER", "alsa");

        makeTheme(path("with-event"), "freedesktop", tone(3000, 7));
        makeTheme(path("without-event"), "freedesktop", {});
        qputenv("XDG_DATA_DIRS", QFile::encodeName(path("with-event")));
    }

    void theThemesMessageSoundIsPlayed() {
        QVERIFY(Sound::isKnown("Tink"));
        expectPlayed("Tink", tone(3000, 7));
        // Again, with the first sound over: one context serves every copy.
        expectPlayed("Tink", tone(3000, 7));
    }

    // libcanberra reads a theme's folders once, so this runs in a process of
    // its own that has not seen the theme with the event.
    void aThemeWithoutTheEventGetsTheBundledSound() {
        QFile bundled(":/sounds/tink.wav");
        QVERIFY(bundled.open(QIODevice::ReadOnly));
        const QByteArray samples = wavSamples(bundled.readAll());
        QVERIFY(samples.size() > 1000);

        QFile::remove(output_);
        QProcess child;
        startPlaying(child, path("home"), "without-event");
        auto stop = qScopeGuard([&child] {
            child.closeWriteChannel();
            child.waitForFinished(5000);
        });
        QTRY_COMPARE(readFile(output_).size(), samples.size());
        QVERIFY(readFile(output_) == samples);
        stop.dismiss();
        finishPlaying(child);
    }

    void unknownNamesPlayNothing() {
        QVERIFY(!Sound::isKnown("Basso"));
        QVERIFY(!Sound::isKnown("tink"));
        expectSilence("Basso");
        expectSilence(QString());
    }

    // A machine without a sound device (as in CI): the theme's sound and the
    // bundled one are both tried, both fail, and nothing is printed.
    void noSoundDeviceStaysQuiet() {
        const QString home = path("no-device");
        writeFile(home + "/.asoundrc",
                  "pcm.!default {\n  type hw\n  card \"QuilletNoSuchCard\"\n}\n");
        QProcess child;
        startPlaying(child, home, "with-event");
        finishPlaying(child);
    }
};

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--play") == 0) {
        Sound::play(QString::fromLocal8Bit(argv[2]));
        fputs("played\n", stdout);
        fflush(stdout);
        while (getchar() != EOF) {
        }
        return 0;
    }
    TestSupport::Guarded<SoundTests> tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "SoundTests.moc"
