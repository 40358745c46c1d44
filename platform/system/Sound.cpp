#include "platform/system/Sound.h"

#include <QCoreApplication>
#include <QMutex>
#include <QTemporaryFile>
#include <alsa/asoundlib.h>
#include <canberra.h>
#include <map>
#include <memory>
#include <string>

namespace Sound {

namespace {

struct Known {
    const char* name;
    const char* event;    // the event of the desktop's sound theme
    const char* resource; // played when the theme has no such event
};

// "Tink" confirms a copied code: the theme's short "message" sound.
constexpr Known knownSounds[] = {
    {"Tink", "message", ":/sounds/tink.wav"},
};

const Known* find(const QString& name) {
    for (const Known& sound : knownSounds)
        if (name == QLatin1String(sound.name)) return &sound;
    return nullptr;
}

// ALSA reports a machine without a sound card on standard error each time a
// sound is tried; such a desktop simply stays silent.
void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// One libcanberra context for the process (it plays asynchronously, so a
// sound never holds up the caller), and the bundled sounds copied to files
// the first time one is needed, since the sound server reads a path.
class Player {
public:
    Player() {
        snd_lib_error_set_handler(ignoreAlsaError);
        if (ca_context_create(&context_) != CA_SUCCESS) {
            context_ = nullptr;
            return;
        }
        const QByteArray application = QCoreApplication::applicationName().toUtf8();
        if (!application.isEmpty())
            ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, application.constData(),
                                    nullptr);
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    void play(const Known& sound) {
        if (!context_) return;
        // The theme is libcanberra's default (the freedesktop theme and the
        // themes that inherit from it); the role lets the sound server apply
        // the desktop's volume for event sounds.
        const int result = ca_context_play(context_, 0, CA_PROP_EVENT_ID, sound.event,
                                           CA_PROP_MEDIA_ROLE, "event", nullptr);
        // Not found: the theme lacks the event (or there is nowhere to play
        // it, in which case the bundled sound fails the same quiet way).
        if (result != CA_ERROR_NOTFOUND) return;
        const QByteArray path = bundledFile(sound.resource);
        if (!path.isEmpty())
            ca_context_play(context_, 0, CA_PROP_MEDIA_FILENAME, path.constData(),
                            CA_PROP_MEDIA_ROLE, "event", nullptr);
    }

private:
    QByteArray bundledFile(const char* resource) {
        const QMutexLocker lock(&mutex_);
        std::unique_ptr<QTemporaryFile>& file = bundled_[resource];
        if (!file) file.reset(QTemporaryFile::createNativeFile(QString::fromLatin1(resource)));
        return file ? QFile::encodeName(file->fileName()) : QByteArray();
    }

    ca_context* context_ = nullptr;
    QMutex mutex_;
    std::map<std::string, std::unique_ptr<QTemporaryFile>> bundled_;
};

// Never destroyed: libcanberra plays on threads of its own and unloads its
// output driver when the context is destroyed, so tearing it down at exit
// while a sound still plays pulled the driver's code from under its thread.
Player& player() {
    static Player* const instance = new Player;
    return *instance;
}

} // namespace

bool isKnown(const QString& name) {
    return find(name) != nullptr;
}

void play(const QString& name) {
    if (const Known* sound = find(name)) player().play(*sound);
}

} // namespace Sound
