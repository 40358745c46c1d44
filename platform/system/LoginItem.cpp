#include "platform/system/LoginItem.h"

#include "platform/files/RegularFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace LoginItem {
namespace {

// The Exec key's quoting: an argument with a reserved character is put in
// double quotes with `"`, `` ` ``, `$` and `\` escaped, and then, as in every
// string value, each backslash is doubled once more.
QString execArgument(const QString& path) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : path)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString value = path;
    if (needsQuotes) {
        QString quoted;
        for (const QChar c : path) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
            quoted += c;
        }
        value = u'"' + quoted + u'"';
    }
    value.replace(u'\\', QStringLiteral("\\\\"));
    // Field codes such as %f would be expanded by the session.
    value.replace(u'%', QStringLiteral("%%"));
    return value;
}

bool isHidden(const QString& path) {
    // A desktop entry is a few hundred bytes; a FIFO or a device in its
    // place is not read.
    QByteArray bytes;
    if (RegularFile::read(path, qint64(1) << 20, &bytes) != RegularFile::Status::ok) return false;
    bool inEntry = false;
    for (const QByteArray& raw : bytes.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'['))
            inEntry = line == QLatin1String("[Desktop Entry]");
        else if (inEntry) {
            const qsizetype eq = line.indexOf(u'=');
            if (eq < 0) continue;
            const QString key = line.left(eq).trimmed();
            const QString value = line.mid(eq + 1).trimmed();
            // Either key switches an autostart entry off in the desktops
            // that honour it; the user may have set them by hand.
            if ((key == QLatin1String("Hidden") && value == QLatin1String("true")) ||
                (key == QLatin1String("X-GNOME-Autostart-enabled") &&
                 value == QLatin1String("false")))
                return true;
        }
    }
    return false;
}

} // namespace

QString desktopFilePath() {
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QStringLiteral("/autostart/quillet.desktop");
}

Status status() {
    const QString path = desktopFilePath();
    if (!QFileInfo::exists(path)) return Status::notRegistered;
    return isHidden(path) ? Status::requiresApproval : Status::enabled;
}

bool registerItem(QString* error) {
    const QString path = desktopFilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error = QCoreApplication::translate("LoginItem", "Could not create the folder %1.")
                         .arg(QFileInfo(path).absolutePath());
        return false;
    }
    const QString contents = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=Quillet\n"
                                            "Comment=Two-factor authentication codes\n"
                                            "Exec=%1\n"
                                            "Terminal=false\n"
                                            "X-GNOME-Autostart-enabled=true\n")
                                 .arg(execArgument(QCoreApplication::applicationFilePath()));
    // QSaveFile writes wherever a link points, a device or a folder too.
    if (const std::optional<QString> refused = RegularFile::writeRefusal(path)) {
        if (error) *error = *refused;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write(contents.toUtf8()) < 0 ||
        !file.commit()) {
        if (error)
            *error = QCoreApplication::translate("LoginItem", "Could not write %1: %2")
                         .arg(path, file.errorString());
        return false;
    }
    return true;
}

bool unregisterItem(QString* error) {
    const QString path = desktopFilePath();
    QFile file(path);
    if (!file.exists() || file.remove()) return true;
    if (error)
        *error = QCoreApplication::translate("LoginItem", "Could not remove %1: %2")
                     .arg(path, file.errorString());
    return false;
}

} // namespace LoginItem
