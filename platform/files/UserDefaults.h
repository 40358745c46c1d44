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
class UserDefaults : public QObject {
    Q_OBJECT

public:
    // The user's own settings file.
    static UserDefaults& standard();
    // Settings kept in the given file (tests use a temporary one).
    explicit UserDefaults(const QString& path, QObject* parent = nullptr);

    bool contains(const QString& key) const;
    QVariant value(const QString& key) const;
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);

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

signals:
    void changed(const QString& key);

private:
    std::unique_ptr<QSettings> m_settings;
};
