#pragma once

#include <QDateTime>
#include <QObject>
#include <QSettings>
#include <QVariant>
#include <memory>
#include <optional>

// The user's small settings, kept on this computer only (an INI file in
// $XDG_CONFIG_HOME/tarnwick/Quillet.conf), under the keys the program has
// always used. Every write is announced through changed().
//
// What stands at the path is looked at before it is read or written: a FIFO,
// a device, a folder, a file past maximumFileSize or one that cannot be read
// is neither read (which could wait for ever or take all memory) nor replaced
// (a write renames a new file over the path). The settings then start from
// their defaults and live in memory until the program ends, and problem()
// says so.
class UserDefaults : public QObject {
    Q_OBJECT

public:
    // Far above what the settings of a large vault take (a few megabytes of
    // usage records for 50,000 accounts).
    static constexpr qint64 maximumFileSize = qint64(16) << 20;

    // The user's own settings file.
    static UserDefaults& standard();
    // Settings kept in the given file (tests use a temporary one).
    explicit UserDefaults(const QString& path, QObject* parent = nullptr);

    bool contains(const QString& key) const;
    QVariant value(const QString& key) const;
    // True when the change is stored (in the file, or in memory while the
    // settings live there). False when the file could not be written (a
    // full disk, a read-only folder): the key keeps what the file holds, so
    // that every reader shows what is stored, and problem() says why until
    // a later write succeeds. changed() is emitted in both cases.
    bool setValue(const QString& key, const QVariant& value);
    bool remove(const QString& key);

    // Typed reads: nothing when the key is missing or holds another type.
    std::optional<QByteArray> data(const QString& key) const;
    std::optional<QDateTime> date(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;
    std::optional<QString> string(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    // A switch read the lenient way earlier versions read them, so that every
    // reader of a hand-edited file agrees: true/yes (any case, by the first
    // letter) or a non-zero number is true, anything else false; `absent`
    // when the key is missing.
    bool flag(const QString& key, bool absent) const;

    QString fileName() const;
    // Why the settings are kept in memory only, or why the last change was
    // not saved, as a sentence; nothing while they are kept in the file.
    std::optional<QString> problem() const { return m_problem ? m_problem : m_writeFailure; }

signals:
    void changed(const QString& key);
    void problemChanged();

private:
    // Whether the file may still be read and written; once not, the values
    // move to memory for the rest of the run.
    bool fileUsable();
    void keepInMemory(const QString& reason);
    // Writes the file; when that fails, puts the key back as it was.
    bool syncOrRestore(const QString& key, const std::optional<QVariant>& before);
    void setWriteFailure(const std::optional<QString>& failure);

    QString m_path;
    std::unique_ptr<QSettings> m_settings; // none while kept in memory
    QVariantMap m_memory;
    std::optional<QString> m_problem;
    std::optional<QString> m_writeFailure;
};
